// The client side of the session protocol: handshake, polling, loss, logout.
#pragma once

#include <cstdint>

#include "core/AccountSnapshot.h"
#include "core/Cipher.h"
#include "core/Clock.h"
#include "core/FieldLimits.h"
#include "core/UdpSocket.h"
#include "core/Wire.h"

enum SessionState : int32_t { Idle = 0, HelloSent = 1, PollDue = 2, PollSent = 3, PollWait = 4 };
enum PollResult : int32_t { NoEvent = 0, NoAnswer = 1, Rejected = 2, Lost = 3 };

// The engine's fields are public: the window writes the credentials before each
// Connect and reads the state and the account values after each Step.
// The account values (balance, remainingBytes, counters, the message slot and the
// two flags) come from AccountSnapshot.
class BrinCore : public AccountSnapshot {
public:
    explicit BrinCore(Clock* clock = nullptr);  // nullptr: the system clock
    virtual ~BrinCore();
    BrinCore(const BrinCore&) = delete;
    BrinCore& operator=(const BrinCore&) = delete;

    void Connect();
    PollResult Step();
    void Disconnect();
    // Ends the session without a word to the server, as a loss does, and drops what it
    // left in the socket: the machine slept and the server has long forgotten it.
    // Nothing when no session is up.
    void Abandon();

    char login[kLoginLimit + 1] = {};
    char password[kPasswordLimit + 1] = {};
    char serverAddress[kAddressLimit + 1] = {};
    int32_t port = 5001;

    uint8_t helloPacket[wire::kHelloSize] = {};
    uint8_t keyReplyPacket[wire::kKeyReplySize] = {};
    uint8_t confirmPacket[wire::kConfirmSize] = {};
    uint8_t pollPacket[wire::kPollSize] = {};
    uint8_t logoutPacket[wire::kLogoutSize] = {};
    UdpSocket udpSocket;
    Endpoint serverEndpoint;
    uint8_t sessionKey[8] = {};
    int32_t lastExchange = 0;
    uint8_t receiveBuffer[wire::kMaxDatagram] = {};
    uint8_t payloadArea[wire::kMaxDatagram] = {};
    size_t payloadLength = 0;  // bytes of the current payload in payloadArea
    uint64_t pollCounter = 0;
    uint8_t missedPolls = 0;
    int32_t connected = 0;
    SessionState state = Idle;
    uint64_t pollReplies = 0;  // POLL_REPLYs taken in by Step over the engine's life

    DhKeyPair* dhKeyPair = nullptr;      // the client pair, made once per run
    uint8_t sharedSecret[kDhSize] = {};  // of the last KEY_REPLY
    uint8_t serverPublic[kDhSize] = {};  // of the last KEY_REPLY, decrypted

    int SendPacket(const uint8_t* data, int length);
    int ReceivePacket(uint8_t* buffer);  // >0 length, 0 nothing, <0 error
    int ApplyRecords();                  // walks payloadArea[0..payloadLength)

private:
    // One per state that waits for or sends something.
    PollResult AwaitKeyReply();
    PollResult SendPoll();
    PollResult AwaitPollReply();

    Clock* clock_;
};
