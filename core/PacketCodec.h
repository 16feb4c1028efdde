// Sealing and opening the packets of the session protocol: how each one is laid out and which
// of its bytes travel under which key. The engine, the access server and the test peers all
// build and read their packets here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/Cipher.h"
#include "core/Wire.h"

namespace wire {

constexpr size_t kCipherBlockSize = 8;  // bytes of one DES block
constexpr int kPublicFieldBlocks = static_cast<int>(kPublicFieldSize / kCipherBlockSize);
constexpr int kLoginFieldBlocks = static_cast<int>(kLoginFieldSize / kCipherBlockSize);
// POLL: the login field and the counter, sealed together.
constexpr int kPollSealedBlocks = static_cast<int>((kPollSize - kLoginOffset) / kCipherBlockSize);
static_assert(kPublicFieldSize == static_cast<size_t>(kDhSize), "a public value fills its field");

// The two keys of a session: the one made from the password and the one agreed by the handshake.
struct SessionKeys {
    const uint8_t* password;
    const uint8_t* session;
};

// The 8-byte header: the type code, then zero bytes.
void WriteHeader(uint8_t* packet, uint8_t type);

// HELLO: the client's public value under the password key. The packet is kHelloSize bytes.
void SealHello(uint8_t* packet, const DhKeyPair& pair, const uint8_t passwordKey[8]);
// The client's public value of a kHelloSize-byte HELLO.
void OpenHello(const uint8_t* packet, const uint8_t passwordKey[8], uint8_t publicValue[kDhSize]);

// KEY_REPLY: the server's public value under the password key, the login field echoed under
// both keys. The packet is kKeyReplySize bytes.
void SealKeyReply(uint8_t* packet, const DhKeyPair& pair, const uint8_t* loginField,
                  const SessionKeys& keys);
// A KEY_REPLY no client can match (its echo is no login field under any key), for an address
// without an account: the client reports a refused login rather than a silent server.
void SealUnmatchableKeyReply(uint8_t* packet, const DhKeyPair& pair);
// Decrypts the public value of a kKeyReplySize-byte KEY_REPLY in place.
void OpenKeyReplyPublic(uint8_t* packet, const uint8_t passwordKey[8]);
// Decrypts the login echo in place, once the session key is known.
void OpenKeyReplyEcho(uint8_t* packet, const SessionKeys& keys);

// CONFIRM and LOGOUT: header, then the login field under both keys (kConfirmSize bytes).
void SealLoginPacket(uint8_t* packet, uint8_t type, const uint8_t* loginField,
                     const SessionKeys& keys);
// LOGOUT's refusal form, sent when the login echo does not match: header and zeros, in clear.
void SealRefusal(uint8_t* packet);

// POLL: header, login field and the 64-bit counter, under both keys (kPollSize bytes).
void SealPoll(uint8_t* packet, const uint8_t* loginField, uint64_t counter,
              const SessionKeys& keys);

// `blocks` blocks of a client packet's body (from kLoginOffset) into `plain`, decrypted.
void OpenBody(const uint8_t* sealed, int blocks, const SessionKeys& keys, uint8_t* plain);

// POLL_REPLY: its 32-byte header, then the payload; the payload's whole blocks travel
// under both keys, a last partial block in clear. Returns the datagram's length
// (kPollReplyHeaderSize + size); `packet` holds kPollReplyHeaderSize + size bytes.
size_t SealPollReply(uint8_t* packet, const uint8_t* payload, size_t size, const SessionKeys& keys);
// Decrypts the whole blocks of a received payload in place.
void OpenPollReplyPayload(uint8_t* payload, size_t size, const SessionKeys& keys);

}  // namespace wire
