// brin-cli's logic and many client sessions through a relay that loses, repeats, reorders and
// delays datagrams, adds garbage and goes silent, against the access server (a fake clock lets
// the minutes pass in milliseconds); brin-cli on a full disk and in a read-only directory.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CliApp.h"
#include "cli/TickSource.h"
#include "core/ClientSession.h"
#include "core/Clock.h"
#include "messages/MessageHistory.h"
#include "server/AccessServer.h"
#include "server/Accounts.h"
#include "settings/SettingsStore.h"
#include "tests/e2e/E2eSupport.h"
#include "tests/support/FaultyRelay.h"

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

FaultPlan NoFaults() {
    FaultPlan plan;
    plan.loss = plan.duplicate = plan.delayed = plan.garbage = 0;
    return plan;
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
            if (left == 15 * 60) relay.Plan() = NoFaults();
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

// 1000 clients with KeepConn through one relay: 6 bad minutes with a 2-minute silence, 3 clean
// ones; then they
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
    AccessServer::Options options;
    options.helloBurst = 0;  // the relay's one address carries all 1000 clients
    AccessServer server({a}, options, clock, &log);
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
    for (int second = 0; second < 9 * 60; ++second) {
        if (second == 6 * 60) relay.Plan() = NoFaults();  // 3 clean minutes to come back in
        network.Second();
        for (auto& c : clients) c->Tick(settings);
        most = std::max(most, server.SessionCount());
    }
    size_t connected = 0;
    for (auto& c : clients) connected += c->View().connected ? 1 : 0;
    EXPECT_EQ(connected, kClients) << "every client back after the bad network";
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

class DiskFaultsTest : public TempDirTest {};

// A file-size limit as a full disk shows it (EFBIG, SIGXFSZ ignored) for the first two minutes:
// one warning line, the old history.ini whole meanwhile, then the kept messages written once.
TEST_F(DiskFaultsTest, CliKeepsMessagesWhileTheDiskIsFullAndWritesThemAfter) {
    FakeClock clock(1700000000);
    Account alice;
    alice.login = "alice";
    alice.password = "secret";
    for (const char* text : {"one", "two", "three", "four"}) alice.messages.push_back({false, 0, text});
    AccessServer server({alice}, {}, clock, nullptr);
    ASSERT_TRUE(server.Open(Loopback()));
    FaultyRelay relay(server.LocalEndpoint(), NoFaults());
    Network network(clock, server, relay, 1);
    const std::string old(1 << 20, 'o');
    WriteFile("history.ini", old + "\r\n");
    WriteFile("brin.ini", "");

    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
    rlimit full = saved;
    full.rlim_cur = 1 << 20;  // brin.ini fits, the longer history.ini does not
    std::vector<std::string> duringFull;
    NetworkTicks ticks(network, 4 * 60);
    ticks.onSecond = [&](int left) {
        if (left == 4 * 60 - 1) setrlimit(RLIMIT_FSIZE, &full);
        if (left > 2 * 60) duringFull.push_back(ReadFile("history.ini"));
        if (left == 2 * 60) setrlimit(RLIMIT_FSIZE, &saved);
    };
    std::istringstream in("secret\n");
    std::ostringstream out, err;
    CliApp app(in, out, err);
    app.SetClock(&clock);
    app.SetTickSource(&ticks);
    const int code = app.Run({"--server", "127.0.0.1", "--port", std::to_string(relay.Port()),
                              "--login", "alice", "--password-stdin", "--json"});
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(code, kExitDone) << err.str();

    EXPECT_EQ(err.str(),
              "brin-cli: warning: could not write history.ini; new messages are kept and written "
              "once it can be written\n"
              "brin-cli: history.ini written again\n");
    for (const std::string& file : duringFull) ASSERT_EQ(file, old + "\r\n");
    std::vector<std::string> texts;
    const std::string now = ReadFile("history.ini");
    ASSERT_EQ(now.compare(0, old.size() + 2, old + "\r\n"), 0);
    ASSERT_TRUE(HistoryTexts(now.substr(old.size() + 2), &texts));
    EXPECT_EQ(texts, (std::vector<std::string>{"one", "two", "three", "four"}));
}

// The real brin-cli on a tiny filesystem that is full, then read-only: the session goes on
// (exit 0, the message on standard output), a warning on standard error, and both files
// exactly as they were, with nothing left beside them.
TEST_F(DiskFaultsTest, CliOnAFullAndOnAReadOnlyFilesystem) {
    const std::string fs = dir_ + "/fs";
    ASSERT_EQ(mkdir(fs.c_str(), 0755), 0);
    if (mount("tmpfs", fs.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "no tmpfs can be mounted here";
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{fs};
    WriteFile("accounts.ini", "[alice]\npassword = secret\nmessage = first\nmessage = second\n");
    Background server({BRIN_SERVER_PATH, "--listen", "127.0.0.1:0", "--accounts", "accounts.ini"},
                      "server.log");
    const std::string port = ListeningPort(server);
    ASSERT_FALSE(port.empty());
    const std::string ini =
        "SavePassword = 1\r\nAutoConnect = 0\r\nKeepConn = 0\r\nPort = 5001\r\n"
        "Pass = 0123456789ABCDEF\r\nIP = 127.0.0.1\r\nLogin = alice\r\n";
    const std::string history = "00:00:12 01/01/2009\r\nold\r\n\r\n";
    WriteFile(fs + "/brin.ini", ini);
    WriteFile(fs + "/history.ini", history);
    {
        std::ofstream filler(fs + "/filler", std::ios::binary);
        const std::string block(4096, 'x');
        while (filler.write(block.data(), block.size()) && filler.flush()) {
        }
    }
    const std::vector<std::string> cli = {BRIN_CLI_PATH, "--dir", fs, "--port", port,
                                          "--password-stdin", "--once", "--json"};
    for (const char* state : {"full", "read-only"}) {
        SCOPED_TRACE(state);
        if (std::string(state) == "read-only") {
            std::remove((fs + "/filler").c_str());
            ASSERT_EQ(mount(nullptr, fs.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, "size=64k"), 0);
        }
        const ProcessResult r = RunProcess(cli, "secret\n");
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.out.find("\"event\":\"message\""), std::string::npos) << r.out;
        EXPECT_NE(r.err.find("brin-cli: warning: could not write history.ini"), std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("history.ini could not be written; the messages of this run are not"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(ReadFile(fs + "/brin.ini"), ini);
        EXPECT_EQ(ReadFile(fs + "/history.ini"), history);
        std::set<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(fs))
            names.insert(e.path().filename().string());
        std::set<std::string> expected = {"brin.ini", "history.ini"};
        if (std::string(state) == "full") expected.insert("filler");
        EXPECT_EQ(names, expected);
    }
}

// A child that saves brin.ini and appends to history.ini as fast as it can, killed with SIGKILL
// at random moments, over and over: each file is always one whole version the child wrote, and
// the next start reads it. The child reports each finished pair of saves, and the kill comes a
// random moment after 0 to 2 of them, so that every round lands where the saves are, however
// slow the machine is.
TEST_F(DiskFaultsTest, KillDuringSavesLeavesAWholeOldOrNewFile) {
    std::mt19937 random(11);
    int killedMidway = 0;
    int version = 0;  // the brin.ini versions written so far: Port = 1000 + version
    int reported = 0;  // the pairs of saves the children said they finished
    // Each round costs about what a sync costs on this disk; the soak run asks for more.
    const char* rounds = std::getenv("BRIN_KILL_ROUNDS");
    const int kRounds = rounds != nullptr ? std::atoi(rounds) : 150;
    for (int round = 0; round < kRounds; ++round) {
        const std::string before = ReadFile("history.ini");
        int done[2];
        ASSERT_EQ(pipe(done), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(done[0]);
            SettingsStore store(0x1234ABCD);
            MessageHistory history;
            for (int i = version + 1;; ++i) {
                store.SetValue(SettingsStore::kPort, std::to_string(1000 + i).c_str());
                store.SaveFile();
                history.AddMessage(1236431109 + i, ("message " + std::to_string(i)).c_str());
                if (write(done[1], "s", 1) != 1) _exit(1);
            }
        }
        close(done[1]);
        const int wanted = std::uniform_int_distribution<int>(0, 2)(random);
        int finished = 0;
        char byte;
        while (finished < wanted && read(done[0], &byte, 1) == 1) ++finished;
        usleep(std::uniform_int_distribution<int>(0, 3000)(random));
        kill(pid, SIGKILL);
        close(done[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "round " << round;
        ASSERT_EQ(finished, wanted) << "round " << round;
        reported += finished;

        // brin.ini: the seven keys, Port the last or a newer version.
        const std::string ini = ReadFile("brin.ini");
        if (ini.empty() && version == 0) continue;  // killed before the first save
        ASSERT_TRUE(WellFormedSettings(ini)) << "round " << round << ":\n" << ini;
        SettingsStore reread(SettingsStore::Detached{}, 0x1234ABCD);
        reread.LoadText(ini);
        const int port = std::atoi(reread.GetValue(SettingsStore::kPort));
        ASSERT_GE(port, 1000 + version + finished) << "round " << round;
        // history.ini: what it held before, then whole entries, one per version since.
        const std::string history = ReadFile("history.ini");
        ASSERT_EQ(history.compare(0, before.size(), before), 0) << "round " << round;
        std::vector<std::string> texts;
        ASSERT_TRUE(HistoryTexts(history, &texts)) << "round " << round;
        ASSERT_GE(static_cast<int>(texts.size()), version + finished) << "round " << round;
        for (size_t i = 0; i < texts.size(); ++i)
            ASSERT_EQ(texts[i], "message " + std::to_string(i + 1));
        if (port > 1000 + version + 1) ++killedMidway;
        version = std::max(port - 1000, static_cast<int>(texts.size()));
        // The saves go on from there; a kill between the two saves leaves one ahead.
        if (static_cast<int>(texts.size()) < version) {
            MessageHistory fill;
            for (int i = static_cast<int>(texts.size()) + 1; i <= version; ++i)
                fill.AddMessage(1236431109 + i, ("message " + std::to_string(i)).c_str());
        }
    }
    std::printf("%d kills, %d versions written (%d reported before a kill), %d kills after more "
                "than one save\n",
                kRounds, version, reported, killedMidway);
    std::set<std::string> names;
    // The last kill's leftovers, if any, go at the next save.
    SettingsStore(0x1234ABCD).SaveFile();
    MessageHistory().SaveHistory();
    for (const auto& e : std::filesystem::directory_iterator(dir_))
        names.insert(e.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"brin.ini", "history.ini"})) << "no leftovers";
}

}  // namespace
