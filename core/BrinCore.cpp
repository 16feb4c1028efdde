// The session engine: handshake, polling every 30 seconds, loss after three silent polls, logout.
#include "core/BrinCore.h"

#include <cstring>

#include "core/PacketCodec.h"
#include "core/ProcessExit.h"
#include "core/ProcessHardening.h"

namespace {

constexpr int32_t kHelloWait = 3;    // seconds a KEY_REPLY may take
constexpr int32_t kPollPeriod = 30;  // seconds between a reply (or a silent POLL) and the next POLL
constexpr uint8_t kPollsBeforeLoss = 3;

// The key made from the password for one call, wiped when the call returns.
struct PasswordKey {
    explicit PasswordKey(const char* password) { MakePasswordKey(password, bytes); }
    ~PasswordKey() { WipeBytes(bytes, sizeof bytes); }
    uint8_t bytes[8];
};

}  // namespace

BrinCore::BrinCore(Clock* clock) : clock_(clock != nullptr ? clock : &DefaultClock()) {
    // counters start empty, the flags, balance and remainingBytes at 0, port 5001
    // (member initialisers); then the key pair, made once for the whole run.
    dhKeyPair = new DhKeyPair;
    serverEndpoint.address = ParseIPv4("127.0.0.1");
    serverEndpoint.port = PortToNetwork(5001);
    if (!udpSocket.IsOpen()) {
        ReleaseSocketLayer();
        ExitOnSocketFailure(1);
    }
}

BrinCore::~BrinCore() {
    // What would let a reader of freed memory into the account or the session.
    WipeBytes(password, sizeof password);
    WipeBytes(sessionKey, sizeof sessionKey);
    WipeBytes(sharedSecret, sizeof sharedSecret);
    delete dhKeyPair;
}

void BrinCore::Connect() {
    char address[sizeof serverAddress + 1] = {};
    std::memcpy(address, serverAddress, sizeof serverAddress);
    serverEndpoint.address = ParseIPv4(address);
    serverEndpoint.port = PortToNetwork(static_cast<uint16_t>(port & 0xFFFF));

    counters.clear();
    remainingBytes = 0;
    if (state != Idle) return;

    const PasswordKey key(password);
    wire::SealHello(helloPacket, *dhKeyPair, key.bytes);
    SendPacket(helloPacket, sizeof helloPacket);
    lastExchange = clock_->Now();
    state = HelloSent;
}

PollResult BrinCore::Step() {
    switch (state) {
        case Idle:
            return NoEvent;
        case HelloSent:
            return AwaitKeyReply();
        case PollDue:
            return SendPoll();
        case PollSent:
            return AwaitPollReply();
        case PollWait:
            if (Elapsed(lastExchange, clock_->Now()) >= kPollPeriod) state = PollDue;
            return NoEvent;
    }
    return NoEvent;
}

PollResult BrinCore::AwaitKeyReply() {
    const int n = ReceivePacket(receiveBuffer);
    // A KEY_REPLY too short to hold its fields counts as nothing received.
    const bool shortKeyReply = n > 0 && receiveBuffer[0] == wire::kKeyReply &&
                               static_cast<size_t>(n) < wire::kKeyReplySize;
    if (n <= 0 || shortKeyReply) {
        if (Elapsed(lastExchange, clock_->Now()) <= kHelloWait) return NoEvent;
        state = Idle;
        return NoAnswer;
    }
    if (receiveBuffer[0] != wire::kKeyReply) {
        state = Idle;
        return Lost;
    }
    const PasswordKey key(password);
    const wire::SessionKeys keys{key.bytes, sessionKey};
    uint8_t loginField[wire::kLoginFieldSize];
    wire::WriteLoginField(loginField, login);
    std::memcpy(keyReplyPacket, receiveBuffer, sizeof keyReplyPacket);
    wire::OpenKeyReplyPublic(keyReplyPacket, key.bytes);
    std::memcpy(serverPublic, keyReplyPacket + wire::kKeyReplyPublicOffset, kDhSize);
    // An unusable peer value leaves the secret all zero; the echo check then fails.
    dhKeyPair->ComputeSecret(serverPublic, sharedSecret);
    FoldSessionKey(sharedSecret, sessionKey);
    wire::OpenKeyReplyEcho(keyReplyPacket, keys);
    if (!wire::LoginEchoMatches(keyReplyPacket + wire::kKeyReplyEchoOffset, loginField)) {
        wire::SealRefusal(logoutPacket);
        SendPacket(logoutPacket, sizeof logoutPacket);
        connected = 0;
        state = Idle;
        return Rejected;
    }
    connected = 1;
    wire::SealLoginPacket(confirmPacket, wire::kConfirm, loginField, keys);
    SendPacket(confirmPacket, sizeof confirmPacket);
    pollCounter = 1;
    missedPolls = 0;
    state = PollDue;
    return NoEvent;
}

PollResult BrinCore::SendPoll() {
    const PasswordKey key(password);
    uint8_t loginField[wire::kLoginFieldSize];
    wire::WriteLoginField(loginField, login);
    wire::SealPoll(pollPacket, loginField, pollCounter, {key.bytes, sessionKey});
    SendPacket(pollPacket, sizeof pollPacket);
    lastExchange = clock_->Now();
    state = PollSent;
    ++pollCounter;
    return NoEvent;
}

PollResult BrinCore::AwaitPollReply() {
    const int n = ReceivePacket(receiveBuffer);
    if (n > 0 && receiveBuffer[0] == wire::kPollReply &&
        static_cast<size_t>(n) >= wire::kPollReplyHeaderSize) {
        missedPolls = 0;
        if (static_cast<size_t>(n) != wire::kPollReplyHeaderSize) {
            const PasswordKey key(password);
            payloadLength = static_cast<size_t>(n) - wire::kPollReplyHeaderSize;
            std::memcpy(payloadArea, receiveBuffer + wire::kPollReplyHeaderSize, payloadLength);
            wire::OpenPollReplyPayload(payloadArea, payloadLength, {key.bytes, sessionKey});
            ApplyRecords();
        }
        lastExchange = clock_->Now();
        state = PollWait;
        ++pollReplies;
        return NoEvent;
    }
    // Another packet type is dropped and holds off the time-out for this step;
    // a POLL_REPLY too short for its header counts as nothing received.
    if (n > 0 && receiveBuffer[0] != wire::kPollReply) return NoEvent;
    const int32_t now = clock_->Now();
    if (Elapsed(lastExchange, now) < kPollPeriod) return NoEvent;
    ++missedPolls;
    if (missedPolls >= kPollsBeforeLoss) {
        state = Idle;
        connected = 0;
        lastExchange = now;
        return Lost;
    }
    state = PollDue;
    return NoEvent;
}

void BrinCore::Disconnect() {
    if (connected == 0) return;
    const PasswordKey key(password);
    uint8_t loginField[wire::kLoginFieldSize];
    wire::WriteLoginField(loginField, login);
    wire::SealLoginPacket(logoutPacket, wire::kLogout, loginField, {key.bytes, sessionKey});
    SendPacket(logoutPacket, sizeof logoutPacket);
    state = Idle;
    connected = 0;
}

void BrinCore::Abandon() {
    if (connected == 0) return;
    state = Idle;
    connected = 0;
    lastExchange = clock_->Now();
    // What the old session left in the socket would end the next handshake as Lost.
    Endpoint from;
    for (int i = 0; i < 64 && udpSocket.Readable() == 1; ++i)
        udpSocket.Receive(receiveBuffer, sizeof receiveBuffer, &from);
}

int BrinCore::SendPacket(const uint8_t* data, int length) {
    udpSocket.SendTo(data, static_cast<size_t>(length), serverEndpoint);
    return 0;
}

int BrinCore::ReceivePacket(uint8_t* buffer) {
    const int ready = udpSocket.Readable();
    if (ready < 0) {
        ExitOnSocketFailure(1);
        return 0;  // only a test's exit handler comes back here
    }
    if (ready == 0) return 0;
    Endpoint from;
    return udpSocket.Receive(buffer, wire::kMaxDatagram, &from);
}

int BrinCore::ApplyRecords() {
    return ApplyPayloadRecords(payloadArea, payloadLength, *this);
}
