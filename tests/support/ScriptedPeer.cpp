// The test access server.
#include "ScriptedPeer.h"

#include <algorithm>
#include <cstring>

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
    std::memcpy(clientPublic, hello.data() + wire::kHelloPublicOffset, kDhSize);
    DesEcbBlocks(clientPublic, kDhSize / 8, passwordKey, 0);
    uint8_t secret[kDhSize];
    pair.ComputeSecret(clientPublic, secret);
    FoldSessionKey(secret, sessionKey);
}

Bytes ScriptedPeer::KeyReply(const char* login) const {
    Bytes p(wire::kKeyReplySize, 0);
    p[0] = wire::kKeyReply;
    pair.WritePublic(p.data() + wire::kKeyReplyPublicOffset);
    DesEcbBlocks(p.data() + wire::kKeyReplyPublicOffset, kDhSize / 8, passwordKey, 1);
    wire::WriteLoginField(p.data() + wire::kKeyReplyEchoOffset, login);
    TripleDesEcbBlocks(p.data() + wire::kKeyReplyEchoOffset, 2, passwordKey, sessionKey, 1);
    return p;
}

Bytes ScriptedPeer::PollReply(const Bytes& payload) const {
    Bytes p(wire::kPollReplyHeaderSize + payload.size(), 0);
    p[0] = wire::kPollReply;
    std::copy(payload.begin(), payload.end(), p.begin() + wire::kPollReplyHeaderSize);
    TripleDesEcbBlocks(p.data() + wire::kPollReplyHeaderSize, static_cast<int>(payload.size() / 8),
                       passwordKey, sessionKey, 1);
    return p;
}

Bytes ScriptedPeer::Open(const Bytes& packet, size_t offset, size_t size) const {
    if (packet.size() < offset + size) return {};
    Bytes body(packet.begin() + offset, packet.begin() + offset + size);
    TripleDesEcbBlocks(body.data(), static_cast<int>(size / 8), passwordKey, sessionKey, 0);
    return body;
}
