// brin-cli's logic in-process against the access server: a fake clock, and a tick that pumps the
// server.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "AccessServer.h"
#include "Accounts.h"
#include "CliApp.h"
#include "Clock.h"
#include "Cp1251.h"
#include "E2eSupport.h"
#include "MessageHistory.h"
#include "TickSource.h"

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
        std::vector<std::string> all = {"--server", "127.0.0.1", "--port",          Port(),
                                        "--login",  "alice",     "--password-stdin"};
        all.insert(all.end(), args.begin(), args.end());
        std::istringstream in(password + "\n");
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
                  {9, Cp("Ноль"), 0},  // empty: no row
                  {2147483648ull, "", 1048576},
                  {3, "ABCDEFGHIJKLMNOP", 5368709120}};
    a.messages.push_back({true, 1236420309, Cp("Оплата получена")});
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

}  // namespace
