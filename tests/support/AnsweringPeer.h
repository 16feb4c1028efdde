// A loopback access server that answers HELLO and POLL for one account by itself and counts
// what arrives.
#pragma once

#include <cstdint>
#include <string>

#include "core/Cipher.h"
#include "core/UdpSocket.h"
#include "core/Wire.h"

class AnsweringPeer {
public:
    AnsweringPeer(const char* login, const char* password);  // bound to 127.0.0.1, a free port

    int Port() const;

    // Answers every datagram that arrives within `waitMs` (then any already queued).
    void Pump(int waitMs = 200);

    // The records of the next POLL_REPLY; cleared once sent.
    wire::PayloadBuilder payload;
    bool answerHello = true;  // false: HELLO goes unanswered
    bool answerPoll = true;   // false: POLL goes unanswered
    std::string echoLogin;    // the login echoed in KEY_REPLY (the account's by default)

    int hellos = 0;
    int confirms = 0;
    int polls = 0;
    int logouts = 0;

private:
    void Answer(const uint8_t* data, int length);

    std::string login_;
    uint8_t passwordKey_[8] = {};
    uint8_t sessionKey_[8] = {};
    DhKeyPair pair_;
    UdpSocket socket_;
    Endpoint client_;
};
