// The test peer's side of the handshake and the polls, sealed by the engine's own packet codec.
#include "tests/support/AnsweringPeer.h"

#include "core/PacketCodec.h"

AnsweringPeer::AnsweringPeer(const char* login, const char* password)
    : echoLogin(login), login_(login) {
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
            wire::OpenHello(data, passwordKey_, clientPublic);
            uint8_t secret[kDhSize];
            pair_.ComputeSecret(clientPublic, secret);
            FoldSessionKey(secret, sessionKey_);

            uint8_t loginField[wire::kLoginFieldSize];
            wire::WriteLoginField(loginField, echoLogin.c_str());
            uint8_t reply[wire::kKeyReplySize];
            wire::SealKeyReply(reply, pair_, loginField, {passwordKey_, sessionKey_});
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
            uint8_t reply[wire::kMaxDatagram];
            const size_t length = wire::SealPollReply(reply, payload.Data(), payload.Size(),
                                                      {passwordKey_, sessionKey_});
            socket_.SendTo(reply, length, client_);
            payload = wire::PayloadBuilder();
            break;
        }
        default:
            break;
    }
}
