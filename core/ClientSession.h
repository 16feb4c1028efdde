// What the client does on each tick, shared by the window and brin-cli: the engine hand-over,
// the KeepConn reconnect rule, the commands and the events of one tick.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/BrinCore.h"
#include "core/Clock.h"
#include "core/ProcessHardening.h"

// What the front end holds at this moment: the texts the hand-over copies into the
// engine (Windows-1251 bytes) and the KeepConn switch.
struct SessionSettings {
    std::string login;          // at most kLoginLimit bytes reach the engine
    std::string password;       // at most kPasswordLimit
    std::string serverAddress;  // dotted IPv4, at most kAddressLimit
    int32_t port = 5001;
    bool keepConn = false;

    SessionSettings() = default;
    SessionSettings(const SessionSettings&) = default;
    SessionSettings& operator=(const SessionSettings&) = default;
    ~SessionSettings() { WipeString(password); }  // every copy of the password is wiped
};

// What happened in one tick, for the front end to show.
struct TickEvents {
    PollResult result = NoEvent;
    bool replyApplied = false;      // a POLL_REPLY came and its records were applied
    bool connectedChanged = false;  // the engine's connected flag differs from the last report
    bool connected = false;         // the flag as reported
    bool countersChanged = false;   // counters and remainingBytes are new: rebuild the list
    bool hasMessage = false;        // a provider message was taken out of the engine
    int32_t messageTime = 0;
    std::string messageText;    // Windows-1251, up to its first zero byte, at most 248 bytes
    bool reconnecting = false;  // KeepConn started a new attempt in this tick
    bool resumed = false;       // the machine slept since the last tick
};

// What the front ends show of the session, read after a tick: the account values of the
// replies so far and the session's own state.
struct SessionView {
    int32_t balance = 0;  // thousandths of the currency unit
    int64_t remainingBytes = 0;
    std::vector<TrafficCounter> counters;  // every counter named so far, in order of first appearance
    bool connected = false;
    SessionState state = Idle;
};

// The status line a tick's result leaves, in UTF-8: "Сервер не отвечает, проверьте настройки
// сети" after NoAnswer, "Неверный логин или пароль..." after Rejected; nullptr after the other
// results, which leave the status line as it is.
const char* ResultStatusText(PollResult result);

// When the session next has something to do, for a front end that sleeps between ticks
// instead of ticking every second: ticks at the seconds before `at` would change nothing.
struct SessionWake {
    bool timed = false;       // false: nothing is due until a command or a stop
    int32_t at = 0;           // the wall-clock second of the next tick with work to do
    bool onDatagram = false;  // a datagram that comes before `at` is taken in by the tick after
                              // its arrival, so that tick is due then
};

class ClientSession {
public:
    explicit ClientSession(Clock* clock = nullptr);  // nullptr: the system clock

    // Copies the settings into the engine's fields, bounded so each field keeps its zero.
    void HandOver(const SessionSettings& settings);
    // The hand-over, then the engine's Connect (a HELLO when idle). Nothing after Exit.
    void Connect(const SessionSettings& settings);
    // The Disconnect command: the reconnect wait starts again; a LOGOUT when connected.
    void Disconnect();
    // The end of the program: a LOGOUT when connected, and from then on nothing is
    // sent and ticks do nothing. True when the LOGOUT went out.
    bool Exit();
    bool Exited() const { return exited_; }

    // One tick: the engine's Step and what follows it. After the machine slept longer than
    // the server keeps a session (100 s), or its last exchange lies further back, a session
    // that was up is lost at once (its server has given up on it), not three silent polls
    // later; after a shorter sleep it polls at once. On NoAnswer and Rejected only the
    // result is reported; pending counters and messages wait for the next other tick.
    TickEvents Tick(const SessionSettings& settings);

    // The next tick that matters, read just after a tick (or a Connect). The POLL that
    // follows a reply is one tick after the tick that finds the 30 s over; a front end that
    // sleeps is told the second of the POLL, and the tick at that very second takes both
    // steps, so the POLL leaves at the same second as with a tick every second.
    SessionWake NextWake(const SessionSettings& settings);

    SessionView View() const;
    // What a front end that sleeps between ticks waits on for a datagram.
    UdpSocket& Socket() { return core_.udpSocket; }
    Clock& GetClock() const { return *clock_; }

private:
    friend class SessionProbe;  // the tests' way to the engine behind the facade

    Clock* clock_;  // declared first: the engine reads the same clock
    BrinCore core_;
    // The time from which KeepConn waits: construction, the Disconnect command and each
    // automatic attempt set it.
    int32_t lastReconnectTime_;
    int32_t connectedReported_ = 0;
    uint64_t repliesSeen_ = 0;
    int64_t sleptSeen_;  // the clock's time slept at the last tick
    bool pollPlanned_ = false;  // NextWake skipped the tick that ends the poll period
    int32_t pollPlannedAt_ = 0;
    bool exited_ = false;
};
