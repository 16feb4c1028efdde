// A loopback access server that a test drives datagram by datagram, built from the engine's own
// parts: key pair, packet codec, ciphers.
#pragma once

#include <cstdint>
#include <vector>

#include "core/Cipher.h"
#include "core/UdpSocket.h"
#include "core/Wire.h"

using Bytes = std::vector<uint8_t>;

class ScriptedPeer {
public:
    explicit ScriptedPeer(const char* password);

    uint16_t Port() const { return PortFromNetwork(local_.port); }

    // One datagram within `timeoutMs`, remembering its sender; empty when none came.
    Bytes Receive(int timeoutMs = 1000);
    // True when nothing arrives within `ms`.
    bool Quiet(int ms = 30);
    // Sends to the last sender seen.
    void Send(const Bytes& datagram);

    // The server half of the handshake: the client's public value from a HELLO,
    // then the secret and the session key, as a server derives them.
    void TakeHello(const Bytes& hello);
    Bytes KeyReply(const char* login) const;
    // A POLL_REPLY: header, then `payload` with its whole blocks encrypted.
    Bytes PollReply(const Bytes& payload) const;
    // Bytes [offset, offset + size) of a client packet, decrypted with the session keys.
    Bytes Open(const Bytes& packet, size_t offset, size_t size) const;

    DhKeyPair pair;
    uint8_t passwordKey[8];
    uint8_t sessionKey[8] = {};
    uint8_t clientPublic[kDhSize] = {};

private:
    UdpSocket socket_;
    Endpoint local_;
    Endpoint client_;
};
