// The per-tick client policy against a loopback peer on a fake clock: when datagrams go out
// as the clock jumps or wraps, the reconnect rule, the exit, the events and the display formats.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <string>
#include <thread>

#include "core/ClientSession.h"
#include "core/DisplayFormat.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/SessionProbe.h"

namespace {

const char kPassword[] = "secret";

// A session and a peer that answers what it is told to, one tick a second.
struct Loop {
    explicit Loop(int32_t start = 1700000000) : clock(start), session(&clock) {
        settings.login = "user";
        settings.password = kPassword;
        settings.serverAddress = "127.0.0.1";
        settings.port = peer.Port();
    }

    // One second passes, the session ticks, the peer takes what was sent and answers.
    TickEvents Tick() {
        clock.Advance(1);
        ++ticks;
        const TickEvents events = session.Tick(settings);
        Drain();
        return events;
    }
    void Drain() {
        for (Bytes d = peer.Receive(0); !d.empty(); d = peer.Receive(0)) {
            sent.push_back({ticks, d[0]});
            if (d[0] == wire::kHello) ++hellos;
            if (d[0] == wire::kPoll) ++polls;
            if (d[0] == wire::kLogout) ++logouts;
            if (d[0] == wire::kHello && answerHello) {
                peer.TakeHello(d);
                Reply(
                    peer.KeyReply(echoLogin.empty() ? settings.login.c_str() : echoLogin.c_str()));
            }
            if (d[0] == wire::kPoll && answerPoll) {
                const Bytes reply =
                    peer.PollReply(Bytes(payload.Data(), payload.Data() + payload.Size()));
                if (replyDelay > 0)
                    delayed.push_back({ticks + replyDelay, reply});
                else
                    Reply(reply);
                payload = wire::PayloadBuilder();
            }
        }
    }
    // The delayed replies whose second has come.
    void Deliver(int second) {
        for (auto it = delayed.begin(); it != delayed.end();) {
            if (it->first > second) {
                ++it;
                continue;
            }
            Reply(it->second);
            it = delayed.erase(it);
        }
    }
    void Reply(const Bytes& datagram) {
        peer.Send(datagram);
        ASSERT_EQ(session.Socket().WaitReadable(1000), 1);
    }
    // The tick at which the client last sent a datagram of `type`; -1 if never.
    int LastSent(uint8_t type) const {
        for (auto it = sent.rbegin(); it != sent.rend(); ++it)
            if (it->second == type) return it->first;
        return -1;
    }
    // Ticks until a datagram of `type` goes out (or `result` comes); -1 after `limit` ticks.
    int TicksUntil(uint8_t type, int limit = 4000) {
        const size_t seen = sent.size();
        for (int n = 1; n <= limit; ++n) {
            Tick();
            for (size_t i = seen; i < sent.size(); ++i)
                if (sent[i].second == type) return n;
        }
        return -1;
    }
    int TicksUntilResult(PollResult result, int limit = 4000) {
        for (int n = 1; n <= limit; ++n)
            if (Tick().result == result) return n;
        return -1;
    }

    FakeClock clock;
    ScriptedPeer peer{kPassword};
    ClientSession session;
    SessionSettings settings;
    wire::PayloadBuilder payload;
    bool answerHello = true;
    bool answerPoll = true;
    std::string echoLogin;  // the login the KEY_REPLY echoes; empty: the client's own
    int replyDelay = 0;     // seconds a POLL_REPLY takes
    std::vector<std::pair<int, Bytes>> delayed;  // second due, datagram
    int ticks = 0;
    std::vector<std::pair<int, uint8_t>> sent;  // tick, packet type
    int hellos = 0, polls = 0, logouts = 0;
};

// ---- Clock changes -----------------------------------------------------------------

// Where the clock changes: which wait is under way then, and what ends that wait.
enum class Wait {
    KeyReply,    // HELLO sent to a silent server: ends with NoAnswer
    PollReply,   // POLL sent to a silent server: ends with the next POLL
    PollPeriod,  // POLL answered: ends with the next POLL
    KeepConn,    // idle after NoAnswer, KeepConn on: ends with the next HELLO
};

struct ClockCase {
    const char* what;
    Wait wait;
    int32_t start;  // the clock when the run begins
    int32_t jump;   // seconds the clock is set on by, a few ticks into the wait
    int after;      // ticks from the start of the wait to its end
};

constexpr int32_t kNow = 1700000000;
constexpr int32_t kBeforeWrap = INT32_MAX - 3;  // the wait crosses the 2038 wrap
// Ticks into the wait at which the clock changes: the HELLO wait is only 3 s long.
int JumpAt(Wait wait) {
    return wait == Wait::KeyReply ? 2 : 5;
}

// The tick after the change reads the new time; a wait set back starts again there.
const ClockCase kClockCases[] = {
    // Undisturbed: the times the engine keeps by itself.
    {"key reply", Wait::KeyReply, kNow, 0, 4},
    {"poll reply", Wait::PollReply, kNow, 0, 31},
    {"poll period", Wait::PollPeriod, kNow, 0, 31},
    {"keepconn", Wait::KeepConn, kNow, 0, 31},
    // Set back: the wait starts again at the change, it is not drawn out by the hour.
    {"key reply, back 1 h", Wait::KeyReply, kNow, -3600, 2 + 1 + 4},
    {"poll reply, back 1 h", Wait::PollReply, kNow, -3600, 5 + 1 + 31},
    {"poll period, back 1 h", Wait::PollPeriod, kNow, -3600, 5 + 1 + 31},
    {"keepconn, back 10 min", Wait::KeepConn, kNow, -600, 5 + 1 + 31},
    // Set forward: the time-out fires at the next tick (a POLL one tick after it is due).
    {"key reply, forward 1 h", Wait::KeyReply, kNow, 3600, 2 + 1},
    {"poll reply, forward 1 h", Wait::PollReply, kNow, 3600, 5 + 2},
    {"poll period, forward 1 h", Wait::PollPeriod, kNow, 3600, 5 + 2},
    {"keepconn, forward 1 h", Wait::KeepConn, kNow, 3600, 5 + 1},
    // The signed 32-bit reading wraps in January 2038: every wait keeps its length.
    {"key reply, 2038", Wait::KeyReply, kBeforeWrap, 0, 4},
    {"poll reply, 2038", Wait::PollReply, kBeforeWrap - 5, 0, 31},
    {"poll period, 2038", Wait::PollPeriod, kBeforeWrap - 5, 0, 31},
    {"keepconn, 2038", Wait::KeepConn, kBeforeWrap - 5, 0, 31},
};

// One case; a failed assertion ends this case only.
void RunClockCase(const ClockCase& c) {
    Loop loop(c.start);
    loop.answerHello = c.wait != Wait::KeyReply && c.wait != Wait::KeepConn;
    loop.answerPoll = c.wait == Wait::PollPeriod;
    loop.settings.keepConn = c.wait == Wait::KeepConn;
    loop.session.Connect(loop.settings);
    loop.Drain();

    // The tick at which the wait begins: its datagram went out (or was answered).
    int begin = 0;
    switch (c.wait) {
        case Wait::KeyReply:
            begin = loop.ticks;  // the HELLO went out before the first tick
            break;
        case Wait::KeepConn:
            ASSERT_GT(loop.TicksUntil(wire::kHello), 0);  // KeepConn's first attempt
            begin = loop.ticks;
            break;
        case Wait::PollReply:
            ASSERT_GT(loop.TicksUntil(wire::kPoll), 0);
            begin = loop.ticks;
            break;
        case Wait::PollPeriod:
            ASSERT_GT(loop.TicksUntil(wire::kPoll), 0);
            loop.Tick();  // the reply is taken in
            begin = loop.ticks;
            break;
    }
    for (int i = 0; i < JumpAt(c.wait) && c.jump != 0; ++i) {
        const PollResult r = loop.Tick().result;
        // Under KeepConn the silent server's HELLO wait ends within these ticks.
        ASSERT_EQ(r, c.wait == Wait::KeepConn && r == NoAnswer ? NoAnswer : NoEvent) << i;
    }
    loop.clock.Advance(c.jump);

    if (c.wait == Wait::KeyReply) {
        const int n = loop.TicksUntilResult(NoAnswer);
        ASSERT_GT(n, 0);
        EXPECT_EQ(loop.ticks - begin, c.after);
    } else {
        ASSERT_GT(loop.TicksUntil(c.wait == Wait::KeepConn ? wire::kHello : wire::kPoll), 0);
        EXPECT_EQ(loop.ticks - begin, c.after);
    }
}

TEST(ClientSession, WaitsWhenTheClockIsSetBackOrForwardOrWraps) {
    for (const ClockCase& c : kClockCases) {
        SCOPED_TRACE(c.what);
        RunClockCase(c);
    }
}

// Over the 2038 wrap a session that is up keeps polling every 31 s, and one that keeps
// failing keeps trying every 31 s.
TEST(ClientSession, PollsAndReconnectsGoOnAcrossThe2038Wrap) {
    Loop up(INT32_MAX - 100);
    up.session.Connect(up.settings);
    up.Drain();
    for (int i = 0; i < 200; ++i) up.Tick();
    EXPECT_GE(up.polls, 7);  // 200 s from the first POLL at 31-s intervals
    EXPECT_LT(up.clock.Now(), 0) << "the run crossed the wrap";

    Loop down(INT32_MAX - 100);
    down.answerHello = false;
    down.settings.keepConn = true;
    for (int i = 0; i < 200; ++i) down.Tick();
    EXPECT_EQ(down.hellos, 6);  // at 31, 62, ... 186 s
}

// ---- Sleeping between ticks -----------------------------------------------------------

// A run in which something happens to the network or the clock at given seconds.
struct Script {
    const char* what;
    int seconds;
    bool answerHello = true;
    bool answerPoll = true;
    bool keepConn = true;
    const char* echoLogin = "";
    int replyDelay = 0;
    int32_t start = kNow;
    int changeAt = 0;  // the second at which the clock is set on by `jump` or the machine sleeps
    int32_t jump = 0;
    int32_t sleep = 0;
};

// What went out and what the ticks reported, second by second.
struct Timeline {
    std::vector<std::string> lines;
    int ticks = 0;
};

// The session ticked every second (as the window does), or asleep between the ticks NextWake
// names and woken for the tick after a datagram when it asks for that, and at once when the
// clock changes (as brin-cli's sleep is).
Timeline RunScript(const Script& s, bool sleeping) {
    Loop loop(s.start);
    loop.answerHello = s.answerHello;
    loop.answerPoll = s.answerPoll;
    loop.settings.keepConn = s.keepConn;
    loop.echoLogin = s.echoLogin;
    loop.replyDelay = s.replyDelay;
    loop.session.Connect(loop.settings);
    loop.Drain();
    Timeline t;
    SessionWake wake = loop.session.NextWake(loop.settings);
    for (int second = 1; second <= s.seconds; ++second) {
        loop.clock.Advance(1);
        const bool changed = second == s.changeAt;
        if (changed && s.jump != 0) loop.clock.Advance(s.jump);
        if (changed && s.sleep != 0) loop.clock.Sleep(s.sleep);
        loop.Deliver(second);
        if (sleeping) {
            const int32_t left = static_cast<int32_t>(static_cast<uint32_t>(wake.at) -
                                                      static_cast<uint32_t>(loop.clock.Now()));
            const bool due = wake.timed && left <= 0;
            const bool datagram =
                wake.onDatagram && loop.session.Socket().Readable() == 1;
            if (!due && !datagram && !changed) continue;
        }
        ++t.ticks;
        const TickEvents e = loop.session.Tick(loop.settings);
        if (e.result != NoEvent || e.connectedChanged || e.replyApplied || e.reconnecting)
            t.lines.push_back(std::to_string(second) + ": result " + std::to_string(e.result) +
                              (e.connectedChanged ? e.connected ? " up" : " down" : "") +
                              (e.replyApplied ? " reply" : "") +
                              (e.reconnecting ? " reconnect" : ""));
        loop.ticks = second;
        const size_t before = loop.sent.size();
        loop.Drain();
        for (size_t i = before; i < loop.sent.size(); ++i)
            t.lines.push_back(std::to_string(second) + ": sent " +
                              std::to_string(loop.sent[i].second));
        wake = loop.session.NextWake(loop.settings);
    }
    return t;
}

// Every datagram leaves, and every event is reported, at the same second whether the session
// ticks every second or sleeps until its next tick with work, through losses, late replies,
// refusals, clock changes, a suspend and the 2038 wrap; and the sleep takes few ticks.
TEST(ClientSession, SleepingBetweenTicksKeepsEveryTimeToTheSecond) {
    Script scripts[] = {
        {"connected and idle", 600},
        {"the server stops answering polls", 600, true, false},
        {"no server", 300, false, false},
        {"refused", 200, true, true, true, "other"},
        {"replies 5 s late", 400},
        {"replies after the time-out", 400},
        {"clock back 1 h in the poll period", 300},
        {"clock forward 1 h in the poll period", 300},
        {"clock back 10 min while waiting to reconnect", 300, false, false},
        {"clock forward 1 h while waiting for a reply", 300, true, true, true, "", 0},
        {"10 min asleep", 300},
        {"a one-second hiccup", 300},
        {"2038", 400},
    };
    scripts[4].replyDelay = 5;
    scripts[5].replyDelay = 40;
    scripts[6].changeAt = 50, scripts[6].jump = -3600;
    scripts[7].changeAt = 50, scripts[7].jump = 3600;
    scripts[8].changeAt = 40, scripts[8].jump = -600;
    scripts[9].replyDelay = 20, scripts[9].changeAt = 40, scripts[9].jump = 3600;
    scripts[10].changeAt = 100, scripts[10].sleep = 600;
    scripts[11].changeAt = 100, scripts[11].sleep = 1;
    scripts[12].start = INT32_MAX - 100;
    for (const Script& s : scripts) {
        SCOPED_TRACE(s.what);
        const Timeline every = RunScript(s, false);
        const Timeline sleeping = RunScript(s, true);
        EXPECT_EQ(sleeping.lines, every.lines);
        EXPECT_EQ(every.ticks, s.seconds);
        EXPECT_LT(sleeping.ticks * 4, s.seconds) << "at most one tick in four seconds";
    }
    // Connected and idle: the POLL and the tick that reads its reply, once a poll period.
    const Timeline idle = RunScript(scripts[0], true);
    EXPECT_LE(idle.ticks, 600 / 32 * 2 + 4);
}

// ---- Reconnect rule, commands, exit --------------------------------------------------

// After the machine slept longer than the server keeps a session (100 s), a session that was
// up is lost at the first tick, and KeepConn connects again in that tick, instead of three
// silent polls (about 92 s) later. After a shorter sleep the server still has it: it polls at
// once and goes on.
TEST(ClientSession, ASessionIsLostAtResumeOnlyWhenTheServerHasGivenItUp) {
    struct Case {
        const char* what;
        bool up;
        bool keepConn;
        int32_t sleep;
        bool lost;
        bool pollsAtOnce;
    } cases[] = {
        {"up, KeepConn on, 10 min asleep", true, true, 600, true, false},
        {"up, KeepConn off, 10 min asleep", true, false, 600, true, false},
        {"up, just past the server's 100 s", true, true, 101, true, false},
        {"up, 99 s asleep, 100 s after the reply: the server still has it", true, true, 99, false,
         true},
        {"up, 5 s asleep", true, false, 5, false, true},
        {"up, a one-second hiccup is no sleep", true, true, 1, false, false},
        {"idle: nothing to lose", false, false, 600, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Loop loop;
        loop.settings.keepConn = c.keepConn;
        if (c.up) {
            loop.session.Connect(loop.settings);
            loop.Drain();
            loop.Tick();
            ASSERT_TRUE(loop.session.View().connected);
            loop.Tick();  // the first POLL and its reply
        }
        const int hellos = loop.hellos;
        const int polls = loop.polls;
        const size_t sent = loop.sent.size();
        loop.clock.Sleep(c.sleep);
        const TickEvents e = loop.Tick();
        EXPECT_EQ(e.result, c.lost ? Lost : NoEvent);
        EXPECT_EQ(loop.polls, polls + (c.pollsAtOnce ? 1 : 0));
        if (c.pollsAtOnce) {
            EXPECT_TRUE(e.resumed);
            EXPECT_FALSE(e.connectedChanged);
            loop.Tick();
            EXPECT_EQ(loop.session.View().state, PollWait) << "the reply came: the session goes on";
            EXPECT_TRUE(loop.session.View().connected);
        }
        if (!c.lost) continue;
        EXPECT_TRUE(e.resumed);
        EXPECT_TRUE(e.connectedChanged);
        EXPECT_FALSE(e.connected);
        EXPECT_EQ(loop.logouts, 0) << "nothing goes to a server that has forgotten the session";
        EXPECT_EQ(loop.hellos, hellos + (c.keepConn ? 1 : 0));
        EXPECT_EQ(loop.sent.size(), sent + (c.keepConn ? 1u : 0u));
        if (c.keepConn) {
            loop.Tick();
            EXPECT_TRUE(loop.session.View().connected) << "up again one tick after the resume";
        }
    }
}

// The system clock's time slept never runs backwards and is 0 or more.
TEST(ClientSession, SystemClockReportsTimeSlept) {
    SystemClock clock;
    const int64_t first = clock.SleptSeconds();
    EXPECT_GE(first, 0);
    EXPECT_GE(clock.SleptSeconds(), first);
}

// A tick woken a few milliseconds past a whole second reads that second. (Linux's time() reads
// a coarse clock that an idle machine moves on only at its next interrupt, and read the second
// before in most tries.)
TEST(ClientSession, SystemClockReadsTheSecondJustBegun) {
    using std::chrono::system_clock;
    const SystemClock clock;
    for (int i = 0; i < 3; ++i) {
        const auto second = std::chrono::duration_cast<std::chrono::seconds>(
                                system_clock::now().time_since_epoch()) +
                            std::chrono::seconds(1);
        std::this_thread::sleep_until(system_clock::time_point(second) +
                                      std::chrono::milliseconds(3));
        EXPECT_EQ(clock.Now(), static_cast<int32_t>(second.count())) << i;
    }
}

TEST(ClientSession, KeepConnWaitsMoreThanThirtySecondsFromTheLastAttemptOrDisconnect) {
    Loop loop;
    loop.settings.keepConn = true;
    for (int i = 0; i < 30; ++i) EXPECT_FALSE(loop.Tick().reconnecting) << i;
    EXPECT_TRUE(loop.Tick().reconnecting);  // 31 s after construction
    EXPECT_EQ(loop.hellos, 1);
    loop.Tick();
    ASSERT_TRUE(loop.session.View().connected);

    loop.session.Disconnect();  // the command: the wait starts again
    EXPECT_EQ(loop.logouts, 0);
    loop.Drain();
    EXPECT_EQ(loop.logouts, 1);
    const int disconnectedAt = loop.ticks;
    ASSERT_GT(loop.TicksUntil(wire::kHello), 0);
    EXPECT_EQ(loop.ticks - disconnectedAt, 31);
}

TEST(ClientSession, AfterExitNothingIsSentButTheLogout) {
    for (bool keepConn : {false, true}) {
        SCOPED_TRACE(keepConn ? "KeepConn on" : "KeepConn off");
        Loop loop;
        loop.settings.keepConn = keepConn;
        loop.session.Connect(loop.settings);
        loop.Drain();
        loop.Tick();
        ASSERT_TRUE(loop.session.View().connected);

        EXPECT_TRUE(loop.session.Exit());
        EXPECT_FALSE(loop.session.Exit()) << "one LOGOUT only";
        loop.Drain();
        loop.session.Connect(loop.settings);  // a command resumed after the exit
        loop.session.Disconnect();
        for (int i = 0; i < 100; ++i) EXPECT_EQ(loop.Tick().result, NoEvent);
        EXPECT_EQ(loop.hellos, 1);
        EXPECT_EQ(loop.logouts, 1);
        EXPECT_EQ(loop.sent.back().second, wire::kLogout);
    }
}

TEST(ClientSession, ExitDuringTheHandshakeSendsNothingAndConfirmsNothing) {
    Loop loop;
    loop.session.Connect(loop.settings);
    loop.Drain();  // the KEY_REPLY is on its way
    EXPECT_FALSE(loop.session.Exit());
    for (int i = 0; i < 5; ++i) loop.Tick();
    EXPECT_EQ(loop.sent.size(), 1u) << "the HELLO only, no CONFIRM";
}

TEST(ClientSession, TickEventsOfASession) {
    Loop loop;
    loop.session.Connect(loop.settings);
    loop.Drain();
    TickEvents e = loop.Tick();  // KEY_REPLY
    EXPECT_TRUE(e.connectedChanged);
    EXPECT_TRUE(e.connected);
    EXPECT_FALSE(e.replyApplied);

    loop.payload.AddBalance(-1500);
    loop.payload.AddCounterValue(7, 1572864);
    loop.payload.AddMessage(1236420309, "hello");
    loop.Tick();      // POLL
    e = loop.Tick();  // its reply
    EXPECT_FALSE(e.connectedChanged);
    EXPECT_TRUE(e.replyApplied);
    EXPECT_TRUE(e.countersChanged);
    ASSERT_TRUE(e.hasMessage);
    EXPECT_EQ(e.messageTime, 1236420309);
    EXPECT_EQ(e.messageText, "hello");
    EXPECT_EQ(SessionProbe::Engine(loop.session).messagePending, 0) << "taken out";

    e = loop.Tick();  // nothing new
    EXPECT_FALSE(e.replyApplied || e.countersChanged || e.hasMessage || e.connectedChanged);

    loop.session.Disconnect();
    e = loop.Tick();
    EXPECT_TRUE(e.connectedChanged);
    EXPECT_FALSE(e.connected);
}

TEST(ClientSession, AMessageFillingAll248BytesEndsAtTheField) {
    Loop loop;
    BrinCore& core = SessionProbe::Engine(loop.session);
    core.messagePending = 1;
    std::memset(core.messageText, 'x', sizeof core.messageText);
    const TickEvents e = loop.Tick();
    ASSERT_TRUE(e.hasMessage);
    EXPECT_EQ(e.messageText, std::string(248, 'x'));
}

TEST(ClientSession, NoAnswerAndRejectedLeavePendingChangesToTheNextTick) {
    for (PollResult expected : {NoAnswer, Rejected}) {
        SCOPED_TRACE(expected == NoAnswer ? "NoAnswer" : "Rejected");
        Loop loop;
        loop.answerHello = expected == Rejected;
        loop.echoLogin = "other";  // an echo that cannot match
        loop.session.Connect(loop.settings);
        loop.Drain();
        for (int i = 0; i < 3 && expected == NoAnswer; ++i) ASSERT_EQ(loop.Tick().result, NoEvent);
        SessionProbe::Engine(loop.session).countersChanged = 1;
        SessionProbe::Engine(loop.session).messagePending = 1;
        TickEvents e = loop.Tick();
        ASSERT_EQ(e.result, expected);
        EXPECT_FALSE(e.countersChanged || e.hasMessage);
        e = loop.Tick();
        EXPECT_EQ(e.result, NoEvent);
        EXPECT_TRUE(e.countersChanged && e.hasMessage);
    }
}

TEST(ClientSession, HandOverKeepsEveryFieldTerminated) {
    Loop loop;
    loop.settings.login = std::string(20, 'l');
    loop.settings.password = std::string(12, 'p');
    loop.settings.serverAddress = "127.000.000.001.5";
    loop.settings.port = 70000;
    loop.session.HandOver(loop.settings);
    const BrinCore& core = SessionProbe::Engine(loop.session);
    EXPECT_EQ(std::string(core.login), std::string(16, 'l'));
    EXPECT_EQ(std::string(core.password), std::string(8, 'p'));
    EXPECT_EQ(std::string(core.serverAddress), "127.000.000.001");
    EXPECT_EQ(core.port, 70000);  // the engine uses the low 16 bits
}

// ---- Display formats -------------------------------------------------------------------

TEST(DisplayFormat, MoneyMegabytesAndCounterLabels) {
    struct Case {
        int32_t balance;
        const char* text;
    } money[] = {{1234567, "1234.567"},     {5, "0.005"}, {-1, "-0.001"},
                 {-1500, "-1.500"},         {0, "0.000"}, {INT32_MIN, "-2147483.648"},
                 {INT32_MAX, "2147483.647"}};
    for (const Case& c : money) EXPECT_EQ(FormatMoney(c.balance), c.text) << c.balance;
    EXPECT_EQ(FormatMegabytes(1572864), "1.50");
    EXPECT_EQ(FormatMegabytes(0), "0.00");
    EXPECT_EQ(FormatMegabytes(-1048576), "-1.00");
    EXPECT_EQ(FormatMegabytes(5368709120), "5120.00");

    struct Label {
        uint64_t id;
        const char* name;
        const char* text;
    } labels[] = {{7, "", "traffic 7"},
                  {4294967301ull, "", "traffic 5"},  // the high half does not show
                  {2147483648ull, "", "traffic -2147483648"},
                  {3, "ABCDEFGHIJKLMNOPQ", "ABCDEFGHIJKLMNOP"}};  // never past 16 bytes
    for (const Label& l : labels) {
        TrafficCounter c;
        c.idLow = static_cast<uint32_t>(l.id);
        c.idHigh = static_cast<uint32_t>(l.id >> 32);
        std::memcpy(c.name, l.name, std::min(sizeof c.name, std::strlen(l.name)));
        EXPECT_EQ(CounterLabel(c), l.text);
    }
}

// What both front ends show of a reply's counters and of a tick's result.
TEST(DisplayFormat, CounterRowsRemainingAndStatusTexts) {
    const auto counter = [](uint32_t id, const char* name, int64_t bytes) {
        TrafficCounter c;
        c.idLow = id;
        std::memcpy(c.name, name, std::strlen(name));
        c.byteCount = bytes;
        return c;
    };
    const std::vector<CounterRow> rows = CounterRows({counter(7, "", 1572864),
                                                      counter(8, "idle", 0),  // no row, no gap
                                                      counter(9, "named", -1048576)});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].label + "|" + rows[0].megabytes, "traffic 7|1.50");
    EXPECT_EQ(rows[1].label + "|" + rows[1].megabytes, "named|-1.00");
    EXPECT_TRUE(CounterRows({counter(1, "", 0)}).empty());

    EXPECT_EQ(FormatRemaining(5368709120), "5120.00 (M)");
    EXPECT_EQ(FormatRemaining(0), "0.00 (M)");

    EXPECT_STREQ(ResultStatusText(NoAnswer), "Сервер не отвечает, проверьте настройки сети");
    EXPECT_STREQ(ResultStatusText(Rejected), "Неверный логин или пароль...");
    EXPECT_EQ(ResultStatusText(NoEvent), nullptr);
    EXPECT_EQ(ResultStatusText(Lost), nullptr);
}

}  // namespace
