// The per-tick client policy of the window and brin-cli.
#include "ClientSession.h"

#include <cstring>

namespace {

constexpr int32_t kReconnectWait = 30;  // seconds; an attempt comes once more have passed
constexpr int64_t kSleepNoticed = 2;    // seconds asleep between two ticks that count as a sleep

// `text` into an engine field of `size` bytes: copying stops at the text's end or one
// byte short of the field and the rest is zero, so the field always ends in a zero,
// also when a hand-edited brin.ini gave a longer text.
void BoundedCopy(char* field, size_t size, const std::string& text) {
    std::memset(field, 0, size);
    std::strncpy(field, text.c_str(), size - 1);
}

}  // namespace

ClientSession::ClientSession(Clock* clock)
    : clock_(clock != nullptr ? clock : &DefaultClock()),
      core(clock_),
      lastReconnectTime(clock_->Now()),
      sleptSeen_(clock_->SleptSeconds()) {}

void ClientSession::HandOver(const SessionSettings& settings) {
    BoundedCopy(core.login, sizeof core.login, settings.login);
    BoundedCopy(core.password, sizeof core.password, settings.password);
    BoundedCopy(core.serverAddress, sizeof core.serverAddress, settings.serverAddress);
    core.port = settings.port;
}

void ClientSession::Connect(const SessionSettings& settings) {
    if (exited_) return;
    HandOver(settings);
    core.Connect();
}

void ClientSession::Disconnect() {
    if (exited_) return;
    lastReconnectTime = clock_->Now();
    core.Disconnect();
}

bool ClientSession::Exit() {
    if (exited_) return false;
    exited_ = true;
    const bool wasConnected = core.connected != 0;
    core.Disconnect();
    return wasConnected;
}

TickEvents ClientSession::Tick(const SessionSettings& settings) {
    TickEvents events;
    if (exited_) return events;
    const int64_t slept = clock_->SleptSeconds();
    events.resumed = slept - sleptSeen_ >= kSleepNoticed;
    sleptSeen_ = slept;
    if (events.resumed && core.connected != 0) {
        core.Abandon();
        events.result = Lost;
    } else {
        events.result = core.Step();
    }
    if (events.result == NoAnswer || events.result == Rejected) return events;

    events.replyApplied = core.pollReplies != repliesSeen_;
    repliesSeen_ = core.pollReplies;

    // Taken out before the front end shows it: a tick that runs inside the message box
    // never hands the same message over again.
    if (core.messagePending != 0) {
        core.messagePending = 0;
        events.hasMessage = true;
        events.messageTime = core.messageTime;
        events.messageText.assign(core.messageText,
                                  strnlen(core.messageText, sizeof core.messageText));
    }
    if (core.countersChanged != 0) {
        core.countersChanged = 0;
        events.countersChanged = true;
    }

    if (settings.keepConn && core.state == Idle &&
        Elapsed(lastReconnectTime, clock_->Now()) > kReconnectWait) {
        HandOver(settings);
        lastReconnectTime = clock_->Now();
        core.Connect();
        events.reconnecting = true;
    }

    if (core.connected != connectedReported_) {
        connectedReported_ = core.connected;
        events.connectedChanged = true;
    }
    events.connected = connectedReported_ != 0;
    return events;
}
