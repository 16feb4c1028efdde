// The test peer's side of the handshake and the polls, built from the same packet and cipher
// helpers as the engine.
#include "AnsweringPeer.h"

#include <cstring>

AnsweringPeer::AnsweringPeer(const char* login, const char* password) : echoLogin(login), login_(login) {
    MakePasswordKey(password, passwordKey_);
    Endpoint local;
    local.address = ParseIPv4("127.0.0.1");
    socket_.Bind(local);
}

int AnsweringPeer::Port() const {
    const uint16_t port = socket_.LocalEndpoint().port;  // network byte order: high byte first
    const auto* bytes = reinterpret_cast<const uint8_t*>(&port);
    return bytes[0] << 8 | bytes[1];
}

void AnsweringPeer::Pump(int waitMs) {
    uint8_t buffer[wire::kMaxDatagram];
    int wait = waitMs;
    while (socket_.WaitReadable(wait) == 1) {
        const int length = socket_.Receive(buffer, sizeof buffer, &client_);
        if (length > 0) Answer(buffer, length);
        wait = 0;
    }
}

void AnsweringPeer::Answer(const uint8_t* data, int length) {
    switch (data[0]) {
        case wire::kHello: {
            ++hellos;
            if (!answerHello || length < static_cast<int>(wire::kHelloSize)) return;
            uint8_t clientPublic[kDhSize];
            std::memcpy(clientPublic, data + wire::kHelloPublicOffset, kDhSize);
            DesEcbBlocks(clientPublic, 7, passwordKey_, 0);
            uint8_t secret[kDhSize];
            pair_.ComputeSecret(clientPublic, secret);
            FoldSessionKey(secret, sessionKey_);

            uint8_t reply[wire::kKeyReplySize] = {};
            reply[0] = wire::kKeyReply;
            pair_.WritePublic(reply + wire::kKeyReplyPublicOffset);
            DesEcbBlocks(reply + wire::kKeyReplyPublicOffset, 7, passwordKey_, 1);
            wire::WriteLoginField(reply + wire::kKeyReplyEchoOffset, echoLogin.c_str());
            TripleDesEcbBlocks(reply + wire::kKeyReplyEchoOffset, 2, passwordKey_, sessionKey_, 1);
            socket_.SendTo(reply, sizeof reply, client_);
            break;
        }
        case wire::kConfirm:
            ++confirms;
            break;
        case wire::kLogout:
            ++logouts;
            break;
        case wire::kPoll: {
            ++polls;
            if (!answerPoll) return;
            uint8_t reply[wire::kMaxDatagram] = {};
            reply[0] = wire::kPollReply;
            const size_t size = payload.Size();
            std::memcpy(reply + wire::kPollReplyHeaderSize, payload.Data(), size);
            TripleDesEcbBlocks(reply + wire::kPollReplyHeaderSize, static_cast<int>(size / 8),
                               passwordKey_, sessionKey_, 1);
            socket_.SendTo(reply, wire::kPollReplyHeaderSize + size, client_);
            payload = wire::PayloadBuilder();
            break;
        }
        default:
            break;
    }
}
