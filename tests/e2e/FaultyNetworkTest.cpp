// brin-cli's logic and many client sessions through a relay that loses, repeats, reorders and
// delays datagrams, adds garbage and goes silent, against the access server; a fake clock lets
// the minutes pass in milliseconds.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "AccessServer.h"
#include "Accounts.h"
#include "CliApp.h"
#include "ClientSession.h"
#include "Clock.h"
#include "E2eSupport.h"
#include "FaultyRelay.h"
#include "SettingsStore.h"
#include "TickSource.h"

namespace {

// One second of the fake clock: the relay and the server get `slices` turns in it, so
// that a delay of a fraction of a second is a delay and not the next second.
class Network {
public:
    Network(FakeClock& clock, AccessServer& server, FaultyRelay& relay, int slices)
        : clock_(clock), server_(server), relay_(relay), slices_(slices) {}
    int64_t NowMs() const { return (static_cast<int64_t>(clock_.Now()) - start_) * 1000 + slice_; }
    void Second() {
        for (int i = 0; i < slices_; ++i) {
            slice_ = i * 1000 / slices_;
            relay_.Pump(NowMs());
            server_.Pump(0);
            relay_.Pump(NowMs());
        }
        slice_ = 0;
        clock_.Advance(1);
    }

private:
    FakeClock& clock_;
    AccessServer& server_;
    FaultyRelay& relay_;
    int slices_;
    int32_t start_ = clock_.Now();
    int slice_ = 0;
};

class NetworkTicks : public TickSource {
public:
    NetworkTicks(Network& network, int seconds) : network_(network), left_(seconds) {}
    bool WaitNextTick() override {
        if (left_-- <= 0) return false;
        if (onSecond) onSecond(left_);
        network_.Second();
        return true;
    }
    std::function<void(int secondsLeft)> onSecond;

private:
    Network& network_;
    int left_;
};

// The entries of a history file: each a time line, the text, an empty line, CR LF throughout.
// False when the bytes are not a sequence of such entries.
bool HistoryTexts(const std::string& bytes, std::vector<std::string>* texts) {
    size_t at = 0;
    while (at < bytes.size()) {
        const size_t timeEnd = bytes.find("\r\n", at);
        if (timeEnd == std::string::npos) return false;
        const size_t textEnd = bytes.find("\r\n", timeEnd + 2);
        if (textEnd == std::string::npos || bytes.compare(textEnd, 4, "\r\n\r\n") != 0) return false;
        texts->push_back(bytes.substr(timeEnd + 2, textEnd - timeEnd - 2));
        at = textEnd + 4;
    }
    return true;
}

// brin.ini as the store writes it: "name = value" lines ended by CR LF, each of the seven keys once.
bool WellFormedSettings(const std::string& bytes) {
    std::map<std::string, int> keys;
    size_t at = 0;
    while (at < bytes.size()) {
        const size_t end = bytes.find("\r\n", at);
        if (end == std::string::npos) return false;
        const std::string line = bytes.substr(at, end - at);
        const size_t eq = line.find(" = ");
        if (eq == std::string::npos || eq == 0 || line.find('\n') != std::string::npos) return false;
        ++keys[line.substr(0, eq)];
        at = end + 2;
    }
    for (const char* key : {SettingsStore::kSavePassword, SettingsStore::kAutoConnect,
                            SettingsStore::kKeepConn, SettingsStore::kIp, SettingsStore::kPort,
                            SettingsStore::kLogin, SettingsStore::kPass})
        if (keys[key] != 1) return false;
    return keys.size() == 7;
}

Endpoint Loopback() {
    Endpoint e;
    e.address = ParseIPv4("127.0.0.1");
    return e;
}

class FaultyNetworkTest : public TempDirTest {};

// 40 minutes: 25 under a bad network with a 2-minute silence in them, then 15 clean
// ones in which the client must catch up with the server.
TEST_F(FaultyNetworkTest, KeepRecoversAndConvergesAndWritesEachMessageOnce) {
    FakeClock clock(1700000000);
    Account alice;
    alice.login = "alice";
    alice.password = "secret";
    alice.balance = 1000000;
    alice.remainingBytes = 5368709120;
    alice.counters = {{1, "Internet", 52428800}, {2, "Local", 1048576}};
    std::set<std::string> sent;
    for (int i = 0; i < 60; ++i) {
        const std::string text = "message " + std::to_string(i);
        alice.messages.push_back({false, 0, text});
        sent.insert(text);
    }
    AccessServer::Options options;
    options.demo = true;  // the values move at every poll, so a stale snapshot shows

    for (uint32_t seed : {1u, 2u, 3u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::remove("history.ini");
        std::remove("brin.ini");
        AccessServer server({alice}, options, clock, nullptr);
        ASSERT_TRUE(server.Open(Loopback()));
        FaultPlan plan;
        plan.seed = seed;
        plan.silentFromMs = 10 * 60 * 1000;
        plan.silentForMs = 2 * 60 * 1000;
        Endpoint to = server.LocalEndpoint();
        FaultyRelay relay(to, plan);
        Network network(clock, server, relay, 4);
        NetworkTicks ticks(network, 40 * 60);
        ticks.onSecond = [&relay](int left) {
            if (left != 15 * 60) return;
            FaultPlan& p = relay.Plan();
            p.loss = p.duplicate = p.delayed = p.garbage = 0;
        };
        std::istringstream in("secret\n");
        std::ostringstream out, err;
        CliApp app(in, out, err);
        app.SetClock(&clock);
        app.SetTickSource(&ticks);
        ASSERT_EQ(app.Run({"--server", "127.0.0.1", "--port", std::to_string(relay.Port()),
                           "--login", "alice", "--password-stdin", "--keep", "--json"}),
                  kExitDone)
            << err.str();

        const FaultyRelay::Stats& s = relay.GetStats();
        EXPECT_GT(s.lost, 0u);
        EXPECT_GT(s.duplicated, 0u);
        EXPECT_GT(s.delayed, 0u);
        EXPECT_GT(s.garbage, 0u);
        EXPECT_GT(s.silenced, 0u);

        // Every loss ends in a new session, and the last snapshot is the server's account.
        const std::vector<Json> events = JsonLines(out.str());
        int losses = 0, connects = 0;
        const Json* last = nullptr;
        for (const Json& e : events) {
            if (e["event"].text == "lost") ++losses;
            if (e["event"].text == "connected") ++connects;
            if (e["event"].text == "snapshot") last = &e;
        }
        EXPECT_GE(losses, 1) << "the silent spell outlasts three polls";
        EXPECT_EQ(connects, losses + 1);
        ASSERT_NE(last, nullptr);
        const Account& now = server.Accounts()[0];
        EXPECT_EQ((*last)["balance_milli"].text, std::to_string(now.balance));
        EXPECT_EQ((*last)["remaining_bytes"].text, std::to_string(now.remainingBytes));
        ASSERT_EQ((*last)["counters"].items.size(), now.counters.size());
        for (size_t i = 0; i < now.counters.size(); ++i)
            EXPECT_EQ((*last)["counters"].items[i]["bytes"].text,
                      std::to_string(now.counters[i].bytes));

        std::vector<std::string> texts;
        ASSERT_TRUE(HistoryTexts(ReadFile("history.ini"), &texts));
        std::map<std::string, int> seen;
        for (const std::string& t : texts) {
            EXPECT_TRUE(sent.count(t)) << "not a message of the server: " << t;
            EXPECT_EQ(++seen[t], 1) << "written twice: " << t;
        }
        EXPECT_GT(texts.size(), 0u);
        std::printf("seed %u: %zu messages written, %d sessions lost\n", seed, texts.size(), losses);
        EXPECT_TRUE(WellFormedSettings(ReadFile("brin.ini")));
    }
}

// 1000 clients with KeepConn through one relay for 6 minutes, a silence among them; then they
// all vanish without a LOGOUT and the server must end and free every session.
TEST_F(FaultyNetworkTest, AThousandClientsComeBackAndEverySessionIsFreedAfterThem) {
    constexpr size_t kClients = 1000;
    rlimit files;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
    if (files.rlim_max != RLIM_INFINITY && files.rlim_max < 2 * kClients + 64)
        GTEST_SKIP() << "needs " << 2 * kClients + 64 << " descriptors";
    files.rlim_cur = files.rlim_max;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &files), 0);

    FakeClock clock(1700000000);
    Account a;
    a.login = "many";
    a.password = "pw";
    std::ostringstream log;
    AccessServer server({a}, {}, clock, &log);
    ASSERT_TRUE(server.Open(Loopback()));
    FaultPlan plan;
    plan.seed = 7;
    plan.maxDelayMs = 3000;
    plan.silentFromMs = 2 * 60 * 1000;
    plan.silentForMs = 2 * 60 * 1000;
    FaultyRelay relay(server.LocalEndpoint(), plan);
    Network network(clock, server, relay, 2);

    SessionSettings settings;
    settings.login = "many";
    settings.password = "pw";
    settings.serverAddress = "127.0.0.1";
    settings.port = relay.Port();
    settings.keepConn = true;
    std::vector<std::unique_ptr<ClientSession>> clients;
    for (size_t i = 0; i < kClients; ++i) {
        clients.emplace_back(new ClientSession(&clock));
        clients.back()->Connect(settings);
    }
    size_t most = 0;
    for (int second = 0; second < 8 * 60; ++second) {
        network.Second();
        for (auto& c : clients) c->Tick(settings);
        most = std::max(most, server.SessionCount());
    }
    size_t connected = 0;
    for (auto& c : clients) connected += c->core.connected != 0;
    EXPECT_GT(connected, kClients * 9 / 10) << "back after the silence";
    EXPECT_LE(most, kClients) << "one session per client endpoint at most";
    EXPECT_EQ(relay.Clients(), kClients);

    clients.clear();  // gone without a word
    // A HELLO the relay still holds makes a session up to maxDelayMs later.
    for (int second = 0; second <= 100 + plan.maxDelayMs / 1000 + 1; ++second) network.Second();
    EXPECT_EQ(server.SessionCount(), 0u);
    size_t expired = 0;
    for (size_t at = 0; (at = log.str().find("expired", at)) != std::string::npos; ++at) ++expired;
    EXPECT_GE(expired, connected);
}

}  // namespace
