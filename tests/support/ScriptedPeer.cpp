// The test access server.
#include "tests/support/ScriptedPeer.h"

#include "core/PacketCodec.h"

ScriptedPeer::ScriptedPeer(const char* password) {
    MakePasswordKey(password, passwordKey);
    Endpoint any;
    any.address = ParseIPv4("127.0.0.1");
    socket_.Bind(any);
    local_ = socket_.LocalEndpoint();
}

Bytes ScriptedPeer::Receive(int timeoutMs) {
    if (socket_.WaitReadable(timeoutMs) != 1) return {};
    Bytes buf(wire::kMaxDatagram);
    const int n = socket_.Receive(buf.data(), buf.size(), &client_);
    buf.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return buf;
}

bool ScriptedPeer::Quiet(int ms) {
    return socket_.WaitReadable(ms) == 0;
}

void ScriptedPeer::Send(const Bytes& datagram) {
    socket_.SendTo(datagram.data(), datagram.size(), client_);
}

void ScriptedPeer::TakeHello(const Bytes& hello) {
    if (hello.size() < wire::kHelloSize) return;
    wire::OpenHello(hello.data(), passwordKey, clientPublic);
    uint8_t secret[kDhSize];
    pair.ComputeSecret(clientPublic, secret);
    FoldSessionKey(secret, sessionKey);
}

Bytes ScriptedPeer::KeyReply(const char* login) const {
    uint8_t loginField[wire::kLoginFieldSize];
    wire::WriteLoginField(loginField, login);
    Bytes p(wire::kKeyReplySize);
    wire::SealKeyReply(p.data(), pair, loginField, {passwordKey, sessionKey});
    return p;
}

Bytes ScriptedPeer::PollReply(const Bytes& payload) const {
    Bytes p(wire::kPollReplyHeaderSize + payload.size());
    wire::SealPollReply(p.data(), payload.data(), payload.size(), {passwordKey, sessionKey});
    return p;
}

Bytes ScriptedPeer::Open(const Bytes& packet, size_t offset, size_t size) const {
    if (packet.size() < offset + size) return {};
    // A last partial block stays as it came.
    Bytes body(packet.begin() + offset, packet.begin() + offset + size);
    wire::OpenBody(packet.data() + offset, static_cast<int>(size / wire::kCipherBlockSize),
                   {passwordKey, sessionKey}, body.data());
    return body;
}
