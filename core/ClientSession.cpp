// The per-tick client policy of the window and brin-cli.
#include "core/ClientSession.h"

#include <cstring>

namespace {

constexpr int32_t kReconnectWait = 30;  // seconds; an attempt comes once more have passed
constexpr int64_t kSleepNoticed = 2;    // seconds asleep between two ticks that count as a sleep
// The access server ends a session after this long without a POLL: a sleep longer than
// that, or a last exchange further back, lost the session; a shorter one did not.
constexpr int64_t kServerGivesUp = 100;
// The engine's own waits, as the tick counts them: NoAnswer once more than the HELLO wait
// has passed, a time-out or the end of the poll period once the poll period has.
constexpr int32_t kHelloWait = 3;
constexpr int32_t kPollPeriod = 30;

// The wrap-safe 32-bit difference `to` - `from`.
int32_t Difference(int32_t from, int32_t to) {
    return static_cast<int32_t>(static_cast<uint32_t>(to) - static_cast<uint32_t>(from));
}
int32_t Later(int32_t t, int32_t seconds) {
    return static_cast<int32_t>(static_cast<uint32_t>(t) + static_cast<uint32_t>(seconds));
}

// `text` into an engine field of `size` bytes: copying stops at the text's end or one
// byte short of the field and the rest is zero, so the field always ends in a zero,
// also when a hand-edited brin.ini gave a longer text.
void BoundedCopy(char* field, size_t size, const std::string& text) {
    std::memset(field, 0, size);
    std::strncpy(field, text.c_str(), size - 1);
}

}  // namespace

// The window shows these texts translated, in its own context; its translation tool finds them
// by this mark, which here is the text itself.
#define QT_TRANSLATE_NOOP(context, text) text

const char* ResultStatusText(PollResult result) {
    switch (result) {
        case NoAnswer:
            return QT_TRANSLATE_NOOP("Brin2Dlg", "Сервер не отвечает, проверьте настройки сети");
        case Rejected:
            return QT_TRANSLATE_NOOP("Brin2Dlg", "Неверный логин или пароль...");
        case NoEvent:
        case Lost:
            break;
    }
    return nullptr;
}

ClientSession::ClientSession(Clock* clock)
    : clock_(clock != nullptr ? clock : &DefaultClock()),
      core_(clock_),
      lastReconnectTime_(clock_->Now()),
      sleptSeen_(clock_->SleptSeconds()) {}

void ClientSession::HandOver(const SessionSettings& settings) {
    BoundedCopy(core_.login, sizeof core_.login, settings.login);
    BoundedCopy(core_.password, sizeof core_.password, settings.password);
    BoundedCopy(core_.serverAddress, sizeof core_.serverAddress, settings.serverAddress);
    core_.port = settings.port;
}

void ClientSession::Connect(const SessionSettings& settings) {
    if (exited_) return;
    HandOver(settings);
    core_.Connect();
}

void ClientSession::Disconnect() {
    if (exited_) return;
    lastReconnectTime_ = clock_->Now();
    core_.Disconnect();
}

bool ClientSession::Exit() {
    if (exited_) return false;
    exited_ = true;
    const bool wasConnected = core_.connected != 0;
    core_.Disconnect();
    return wasConnected;
}

TickEvents ClientSession::Tick(const SessionSettings& settings) {
    TickEvents events;
    if (exited_) return events;
    const int64_t slept = clock_->SleptSeconds();
    const int64_t asleep = slept - sleptSeen_;
    events.resumed = asleep >= kSleepNoticed;
    sleptSeen_ = slept;
    const bool pollPlanned = pollPlanned_ && clock_->Now() == pollPlannedAt_;
    pollPlanned_ = false;
    const bool serverGaveUp =
        asleep > kServerGivesUp || Elapsed(core_.lastExchange, clock_->Now()) > kServerGivesUp;
    if (events.resumed && core_.connected != 0 && serverGaveUp) {
        core_.Abandon();
        events.result = Lost;
    } else if (events.resumed && core_.connected != 0) {
        // The server still holds the session: a POLL at once tells whether it answers,
        // where waiting out the period could leave it close to its time-out.
        if (core_.state != PollDue) core_.state = PollDue;
        events.result = core_.Step();
    } else {
        // The tick that ended the poll period was slept through: its step first.
        if (pollPlanned && core_.state == PollWait) core_.Step();
        events.result = core_.Step();
    }
    if (events.result == NoAnswer || events.result == Rejected) return events;

    events.replyApplied = core_.pollReplies != repliesSeen_;
    repliesSeen_ = core_.pollReplies;

    // Taken out before the front end shows it: a tick that runs inside the message box
    // never hands the same message over again.
    if (core_.messagePending != 0) {
        core_.messagePending = 0;
        events.hasMessage = true;
        events.messageTime = core_.messageTime;
        events.messageText.assign(core_.messageText,
                                  strnlen(core_.messageText, sizeof core_.messageText));
    }
    if (core_.countersChanged != 0) {
        core_.countersChanged = 0;
        events.countersChanged = true;
    }

    if (settings.keepConn && core_.state == Idle &&
        Elapsed(lastReconnectTime_, clock_->Now()) > kReconnectWait) {
        HandOver(settings);
        lastReconnectTime_ = clock_->Now();
        core_.Connect();
        events.reconnecting = true;
    }

    if (core_.connected != connectedReported_) {
        connectedReported_ = core_.connected;
        events.connectedChanged = true;
    }
    events.connected = connectedReported_ != 0;
    return events;
}

SessionView ClientSession::View() const {
    SessionView view;
    view.balance = core_.balance;
    view.remainingBytes = core_.remainingBytes;
    view.counters = core_.counters;
    view.connected = core_.connected != 0;
    view.state = core_.state;
    return view;
}

SessionWake ClientSession::NextWake(const SessionSettings& settings) {
    SessionWake wake;
    pollPlanned_ = false;
    if (exited_) return wake;
    const int32_t now = clock_->Now();
    // `wait` seconds after `from`; a start later than now (the clock was set back since)
    // is for the next tick to restart, as the tick every second would.
    const auto after = [&](int32_t from, int32_t wait) {
        const int32_t left = Difference(now, Later(from, wait));
        const bool ahead = left >= 1 && left <= wait;
        wake.timed = true;
        wake.at = Later(now, ahead ? left : 1);
        return ahead;
    };
    const bool sentNow = core_.lastExchange == now;
    switch (core_.state) {
        case Idle:
            if (settings.keepConn) after(lastReconnectTime_, kReconnectWait + 1);
            break;
        case HelloSent:
            // The reply to what went out this second is read by the next tick in any case.
            after(core_.lastExchange, sentNow ? 1 : kHelloWait + 1);
            wake.onDatagram = !sentNow;
            break;
        case PollDue:
            after(now, 1);
            break;
        case PollSent:
            after(core_.lastExchange, sentNow ? 1 : kPollPeriod);
            wake.onDatagram = !sentNow;
            break;
        case PollWait:
            pollPlanned_ = after(core_.lastExchange, kPollPeriod + 1);
            pollPlannedAt_ = wake.at;
            break;
    }
    return wake;
}
