// brin-cli's logic in-process against the access server: a fake clock, and a tick that pumps the
// server.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CliApp.h"
#include "cli/TickSource.h"
#include "core/Clock.h"
#include "core/Cp1251.h"
#include "core/UsageForecast.h"
#include "messages/MessageHistory.h"
#include "server/AccessServer.h"
#include "server/Accounts.h"
#include "tests/e2e/E2eSupport.h"

namespace {

// Each tick lets the server answer what the client sent, then one second passes.
// `stop` plays the stop signal: the tick at which it returns true ends the run.
class ServerTicks : public TickSource {
public:
    ServerTicks(FakeClock& clock, AccessServer& server) : clock_(clock), server_(server) {}
    bool WaitNextTick() override {
        if (pump) server_.Pump(0);
        if (server_.GetStats().handshakes != handshakes_) {
            handshakes_ = server_.GetStats().handshakes;
            handshakeTimes.push_back(clock_.Now() - start_);
        }
        if (++ticks > 400 || (stop && stop())) return false;
        clock_.Advance(1);
        return true;
    }
    std::function<bool()> stop;
    bool pump = true;                     // false: a server that never answers
    std::vector<int32_t> handshakeTimes;  // seconds after the start
    int ticks = 0;

private:
    FakeClock& clock_;
    AccessServer& server_;
    uint64_t handshakes_ = 0;
    int32_t start_ = clock_.Now();
};

Account Alice() {
    Account a;
    a.login = "alice";
    a.password = "secret";
    return a;
}

class CliAppTest : public TempDirTest {
public:
    std::ostringstream out_, err_;

protected:
    void Start(std::vector<Account> accounts, AccessServer::Options options = {}) {
        server_.reset(new AccessServer(std::move(accounts), options, clock_, nullptr));
        Endpoint local;
        local.address = ParseIPv4("127.0.0.1");
        ASSERT_TRUE(server_->Open(local));
        ticks_.reset(new ServerTicks(clock_, *server_));
    }
    std::string Port() const {
        return std::to_string(PortFromNetwork(server_->LocalEndpoint().port));
    }

    // Runs brin-cli's logic with `password` on standard input.
    int Run(std::vector<std::string> args, const std::string& password = "secret") {
        std::istringstream in(password + "\n");
        return Run(std::move(args), in);
    }
    int Run(std::vector<std::string> args, std::istream& in) {
        std::vector<std::string> all = {"--server", "127.0.0.1", "--port",          Port(),
                                        "--login",  "alice",     "--password-stdin"};
        all.insert(all.end(), args.begin(), args.end());
        out_.str("");
        err_.str("");
        CliApp app(in, out_, err_);
        app.SetClock(&clock_);
        app.SetTickSource(ticks_.get());
        const int code = app.Run(all);
        server_->Pump(0);  // whatever the last step sent
        return code;
    }
    std::vector<std::string> Events() {
        std::vector<std::string> names;
        for (const Json& j : JsonLines(out_.str())) names.push_back(j["event"].text);
        return names;
    }

    FakeClock clock_{1700000000};
    std::unique_ptr<AccessServer> server_;
    std::unique_ptr<ServerTicks> ticks_;
};

TEST_F(CliAppTest, TextLinesUseTheWindowFormats) {
    Account a = Alice();
    a.balance = -1500;
    a.remainingBytes = 5368709120;
    a.counters = {{7, "", 1572864},  // no name: "traffic" and the low half
                  {4294967301ull, "", 2048},
                  {9, Cp1251Bytes("Ноль"), 0},  // empty: no row
                  {2147483648ull, "", 1048576},
                  {3, "ABCDEFGHIJKLMNOP", 5368709120}};
    a.messages.push_back({true, 1236420309, Cp1251Bytes("Оплата получена")});
    Start({a});
    ASSERT_EQ(Run({"--once"}), kExitDone) << err_.str();
    EXPECT_EQ(out_.str(), "connected: alice @ 127.0.0.1:" + Port() +
                              "\n"
                              "balance: -1.500\n"
                              "remaining: 5120.00 (M)\n"
                              "  traffic 7: 1.50\n"
                              "  traffic 5: 0.00\n"
                              "  traffic -2147483648: 1.00\n"
                              "  ABCDEFGHIJKLMNOP: 5120.00\n"
                              "message " +
                              MessageHistory::FormatMessageTime(1236420309) +
                              ": Оплата получена\n"
                              "disconnected\n");
    EXPECT_EQ(server_->SessionCount(), 0u) << "--once logs out";
}

TEST_F(CliAppTest, KeepConnectsAgainThirtyOneSecondsAfterTheLastAttempt) {
    // --keep on the command line, or KeepConn in brin.ini: the same rule.
    for (bool fromIni : {false, true}) {
        SCOPED_TRACE(fromIni ? "KeepConn = 1" : "--keep");
        Start({Alice()});
        WriteFile("brin.ini", fromIni ? "KeepConn = 1\r\n" : "");
        ticks_->stop = [this] { return ticks_->ticks > 70; };
        std::vector<std::string> args = {"--json"};
        if (!fromIni) args.push_back("--keep");
        EXPECT_EQ(Run(args, "wrong"), kExitDone) << err_.str();
        EXPECT_EQ(ticks_->handshakeTimes, (std::vector<int32_t>{0, 31, 62}));
        EXPECT_EQ(Events(), (std::vector<std::string>{"rejected", "rejected", "rejected"}));
    }
}

TEST_F(CliAppTest, WithoutKeepAFailureEndsTheRunWithItsCode) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        const char* password;
        uint32_t dropPolls;
        bool serverAnswers;
        int code;
        std::vector<std::string> events;
    } cases[] = {
        {"rejected", {"--json"}, "wrong", 0, true, kExitRejected, {"rejected"}},
        {"rejected, once", {"--json", "--once"}, "wrong", 0, true, kExitRejected, {"rejected"}},
        {"lost", {"--json"}, "secret", 3, true, kExitLost, {"connected", "lost"}},
        {"lost, once beats keep",
         {"--json", "--once", "--keep"},
         "secret",
         3,
         true,
         kExitLost,
         {"connected", "lost"}},
        {"no answer", {"--json"}, "secret", 0, false, kExitNoAnswer, {"no_answer"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AccessServer::Options options;
        options.dropPolls = c.dropPolls;
        Start({Alice()}, options);
        ticks_->pump = c.serverAnswers;
        EXPECT_EQ(Run(c.args, c.password), c.code) << err_.str();
        EXPECT_EQ(Events(), c.events);
    }
}

TEST_F(CliAppTest, StopSignalLogsOutOnlyWhenConnected) {
    struct Case {
        const char* name;
        std::function<bool(CliAppTest*)> stop;
        std::vector<std::string> events;
        size_t sessionsLeft;
    } cases[] = {
        {"connected",
         [](CliAppTest* t) { return t->out_.str().find("snapshot") != std::string::npos; },
         {"connected", "snapshot", "disconnected"},
         0},
        // Still in the handshake: nothing to log out of; the server keeps the half-open session.
        {"handshake", [](CliAppTest*) { return true; }, {}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Start({Alice()});
        ticks_->stop = [this, &c] { return c.stop(this); };
        EXPECT_EQ(Run({"--json"}), kExitDone) << err_.str();
        EXPECT_EQ(Events(), c.events);
        EXPECT_EQ(server_->SessionCount(), c.sessionsLeft);
    }
}

// A reader that goes away (`brin-cli --json | head -1`): the run logs out and ends.
TEST_F(CliAppTest, ClosedOutputLogsOut) {
    Start({Alice()});
    ticks_->stop = [this] {
        if (out_.str().find("snapshot") != std::string::npos) out_.setstate(std::ios::badbit);
        return false;
    };
    EXPECT_EQ(Run({"--json"}), kExitDone) << err_.str();
    EXPECT_EQ(Events(), std::vector<std::string>({"connected", "snapshot"}));
    EXPECT_EQ(server_->SessionCount(), 0u);
    EXPECT_LT(ticks_->ticks, 40);  // at once, not at some later poll
}

TEST_F(CliAppTest, PollsLimitEndsAfterThatManyRepliesAndKeepsTheMessages) {
    AccessServer::Options options;
    options.demo = true;
    Start({DemoAccount()}, options);
    std::vector<std::string> args = {"--json", "--polls", "2"};
    std::istringstream in("demo\n");
    CliApp app(in, out_, err_);
    app.SetClock(&clock_);
    app.SetTickSource(ticks_.get());
    const std::vector<std::string> target = {"--server", "127.0.0.1", "--port",          Port(),
                                             "--login",  "demo",      "--password-stdin"};
    args.insert(args.end(), target.begin(), target.end());
    ASSERT_EQ(app.Run(args), kExitDone) << err_.str();
    const std::vector<Json> events = JsonLines(out_.str());
    ASSERT_EQ(events.size(), 5u) << out_.str();
    EXPECT_EQ(events[1]["event"].text, "snapshot");
    EXPECT_EQ(events[2]["event"].text, "message");
    EXPECT_EQ(events[3]["event"].text, "snapshot");
    EXPECT_EQ(events[4]["event"].text, "disconnected");
    EXPECT_EQ(
        std::stol(events[1]["balance_milli"].text) - std::stol(events[3]["balance_milli"].text),
        250);
    EXPECT_GE(ticks_->ticks, 33) << "the second poll goes out about 31 s after the first reply";

    const std::string welcome = DemoAccount().messages.front().text;
    EXPECT_EQ(events[2]["text"].text, Cp1251ToUtf8(welcome));
    const std::string history = ReadFile("history.ini");
    EXPECT_NE(history.find("\r\n" + welcome + "\r\n\r\n"), std::string::npos) << history;
}

// The balance of the demo account falls 0.250 a poll: one low_balance event as it goes
// below LowBalance, none at the polls after, and every reply's line in usage.csv.
TEST_F(CliAppTest, LowBalanceWarnsOncePerCrossingAndUsageCsvGrowsPerReply) {
    AccessServer::Options options;
    options.demo = true;
    Account a = Alice();
    a.balance = 100500;
    Start({a}, options);
    WriteFile("brin.ini", "LowBalance = 100\r\n");
    ASSERT_EQ(Run({"--json", "--polls", "6"}), kExitDone) << err_.str();
    std::vector<Json> warnings;
    for (const Json& j : JsonLines(out_.str()))
        if (j["event"].text == "low_balance") warnings.push_back(j);
    ASSERT_EQ(warnings.size(), 1u) << out_.str();
    EXPECT_EQ(warnings[0]["balance"].text, "99.750");  // 100.250, 100.000, then below
    EXPECT_EQ(warnings[0]["threshold"].text, "100.000");
    EXPECT_EQ(warnings[0]["reason"].text, "not_enough_history");
    const std::string csv = ReadFile("usage.csv");
    EXPECT_EQ(csv.compare(0, 35, "time,balance_milli,remaining_bytes\n"), 0) << csv;
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 7) << csv;
    EXPECT_NE(csv.find(",99750,"), std::string::npos) << csv;
    EXPECT_NE(ReadFile("brin.ini").find("LowBalance = 100\r\n"), std::string::npos);

    // The next run starts from usage.csv's last balance, already below: no warning.
    ASSERT_EQ(Run({"--polls", "2"}), kExitDone) << err_.str();
    EXPECT_EQ(out_.str().find("low balance"), std::string::npos) << out_.str();
}

TEST_F(CliAppTest, UsageReadsTheFileWithoutConnecting) {
    setenv("TZ", "UTC-10", 1);  // local days ten hours ahead of UTC
    tzset();
    // Ten days at 1.000 a day, one line every six hours, the last at the clock's now.
    const int64_t now = clock_.Now();
    std::string csv = "time,balance_milli,remaining_bytes\n";
    int32_t balance = 60000;
    for (int64_t t = now - 10 * 86400; t <= now; t += 6 * 3600, balance -= 250)
        csv += UsageLine(UsageRecord{t, balance, int64_t{1048576} * balance / 250}) + "\n";
    csv += "damaged line\n";
    WriteFile("usage.csv", csv);
    const std::string brinIni = "Login = x\r\n";
    WriteFile("brin.ini", brinIni);

    std::istringstream in;
    CliApp app(in, out_, err_);
    app.SetClock(&clock_);
    ASSERT_EQ(app.Run({"--usage"}), kExitDone) << err_.str();
    std::vector<std::string> lines;
    std::istringstream text(out_.str());
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    // A header, 30 days, the forecast: 50.000 left at 1.000 a day from 2023-11-15 08:13 local.
    ASSERT_EQ(lines.size(), 32u) << out_.str();
    EXPECT_EQ(lines[31], "forecast: balance lasts until 2024-01-04 (spending 1.000 a day)");
    EXPECT_EQ(lines[30].substr(0, 10), "2023-11-15");
    EXPECT_NE(lines[30].find(" 50.000 "), std::string::npos) << lines[30];
    EXPECT_EQ(lines[19].substr(0, 10), "2023-11-04");
    EXPECT_EQ(lines[19].substr(10).find_first_not_of(" -"), std::string::npos)
        << "no history yet that day: " << lines[19];
    EXPECT_EQ(ReadFile("brin.ini"), brinIni) << "--usage never rewrites brin.ini";
    EXPECT_FALSE(FileExists("brin.lock"));

    out_.str("");
    ASSERT_EQ(app.Run({"--usage", "--json"}), kExitDone);
    const std::vector<Json> events = JsonLines(out_.str());
    ASSERT_EQ(events.size(), 31u);
    EXPECT_EQ(events[29]["event"].text, "day");
    EXPECT_EQ(events[29]["balance"].text, "50.000");
    EXPECT_EQ(events[29]["spent"].text, "0.500");  // the two lines after local midnight
    EXPECT_EQ(JsonLines(out_.str()).back()["until"].text, "2024-01-04");
    EXPECT_EQ(out_.str().substr(out_.str().rfind('{')),
              "{\"event\":\"forecast\",\"until\":\"2024-01-04\",\"per_day\":\"1.000\"}\n");
    unsetenv("TZ");
    tzset();
}


// What the main thread's stack holds at this moment, dead frames included: the copies a
// finished call left behind lie there until a deeper call overwrites them.
std::string StackBytes() {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    uintptr_t from = 0, to = 0;
    while (std::getline(maps, line))
        if (line.find("[stack]") != std::string::npos)
            std::sscanf(line.c_str(), "%zx-%zx", &from, &to);
    std::string bytes(to - from, '\0');
    const int fd = open("/proc/self/mem", O_RDONLY);
    const ssize_t n = fd < 0 ? -1 : pread(fd, &bytes[0], bytes.size(), static_cast<off_t>(from));
    if (fd >= 0) close(fd);
    bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return bytes;
}

__attribute__((noinline)) void LeaveOnTheStack(const char* text) {
    volatile char copy[16] = {};
    for (size_t i = 0; i < 8; ++i) copy[i] = text[i];
    (void)copy[0];
}

// Calls `f` 64 KiB further down the stack, so the frames it leaves lie below those of the
// search that follows, which would otherwise overwrite the shallowest of them.
__attribute__((noinline)) void BelowAPad(const std::function<void()>& f) {
    volatile char pad[65536];
    pad[0] = 0;
    f();
    (void)pad[0];  // read after the call: no tail call may drop the pad first
}

// The password reaches the run and the server only through the heap, so every copy on the
// stack after the run is one the client or the server made and did not wipe: the line read,
// its Windows-1251 form, the settings copies, the DES key and its schedule.
TEST_F(CliAppTest, ARunLeavesNoCopyOfThePasswordOnTheStack) {
    static const char kPassword[] = "Zq7pW3xk";
    std::vector<Account> accounts(1, Alice());
    accounts[0].password.assign(kPassword, 8);
    Start(std::move(accounts));
    std::string input;
    input.reserve(64);  // on the heap from the start, never a short string on the stack
    input.append(kPassword, 8).append("\n--------------------------------\n");
    auto in = std::make_unique<std::istringstream>(std::move(input));
    int code = -1;
    BelowAPad([&] { code = Run({"--polls", "2", "--save"}, *in); });
    ASSERT_EQ(code, kExitDone) << err_.str();
    const std::string stack = StackBytes();
    ASSERT_GT(stack.size(), 4096u) << "the stack could not be read";
    EXPECT_EQ(stack.find(kPassword, 0, 8), std::string::npos) << "typed and saved";

    // The next run takes it from brin.ini: unscrambled, bounded, handed to the engine.
    std::istringstream nothing;
    CliApp app(nothing, out_, err_);
    app.SetClock(&clock_);
    app.SetTickSource(ticks_.get());
    BelowAPad([&] { code = app.Run({"--polls", "2"}); });
    ASSERT_EQ(code, kExitDone) << err_.str();
    EXPECT_NE(out_.str().find("balance"), std::string::npos) << "it logged in";
    EXPECT_EQ(StackBytes().find(kPassword, 0, 8), std::string::npos) << "stored";
    BelowAPad([] { LeaveOnTheStack(kPassword); });  // the control: a copy left there is found
    EXPECT_NE(StackBytes().find(kPassword, 0, 8), std::string::npos);
}

}  // namespace
