// brin-cli against brin-server, both as real programs on a free loopback port.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/Cipher.h"
#include "core/UdpSocket.h"
#include "messages/MessageHistory.h"
#include "settings/SettingsStore.h"
#include "settings/VolumeSerial.h"
#include "tests/e2e/E2eSupport.h"

namespace {

const std::string kServer = BRIN_SERVER_PATH;
const std::string kCli = BRIN_CLI_PATH;

// The account of these tests, written into the accounts file from these values.
const char kLogin[] = "абонент";
const char kPassword[] = "пароль1";
struct CounterRow {
    uint64_t id;
    const char* name;
    int64_t bytes;
};
const CounterRow kCounters[] = {
    {7, "Город", 1572864},
    {4294967301ull, "", 2048},   // no name; high half set
    {9, "ABCDEFGHIJKLMNOP", 0},  // a name that fills all 16 bytes; empty counter
};
const char kMessage[] = "Привет, \"мир\" \\ ok";
const int32_t kMessageTime = 1236420309;

std::string AccountsFile() {
    std::string text = "# the e2e account\n[" + std::string(kLogin) + "]\npassword = " + kPassword +
                       "\r\nbalance = -12.345\nremaining = 5368709120\n";
    for (const CounterRow& c : kCounters)
        text += "counter " + std::to_string(c.id) + " = " + std::to_string(c.bytes) + " " + c.name +
                "\n";
    text += "message " + std::to_string(kMessageTime) + " = " + kMessage + "\n";
    return text;
}

class ProgramsTest : public TempDirTest {
protected:
    void StartServer(const std::vector<std::string>& extra = {}) {
        WriteFile("accounts.ini", AccountsFile());
        std::vector<std::string> argv = {kServer, "--listen", "127.0.0.1:0", "--accounts",
                                         "accounts.ini"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        server_.reset(new Background(argv, "server.log"));
        const std::string line = server_->WaitForLine("listening on 127.0.0.1:");
        ASSERT_FALSE(line.empty()) << ReadFile("server.log");
        port_ = std::stoi(line.substr(line.find("127.0.0.1:") + 10));
        ASSERT_GT(port_, 0);
    }
    // Stops the server as an operator would and returns its log.
    std::string StopServer() {
        EXPECT_EQ(server_->Stop(SIGTERM), 0);
        return ReadFile("server.log");
    }
    ProcessResult Cli(std::vector<std::string> args, const std::string& input = "") {
        args.insert(args.begin(), kCli);
        return RunProcess(args, input);
    }
    std::vector<std::string> Target() const {
        return {"--server", "127.0.0.1", "--port", std::to_string(port_), "--login", kLogin};
    }

    std::unique_ptr<Background> server_;
    int port_ = 0;
};

std::vector<std::string> Plus(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(ProgramsTest, OnceJsonCarriesTheAccountFieldByField) {
    StartServer();
    const ProcessResult r = Cli(Plus(Target(), {"--once", "--json", "--password-stdin"}),
                                std::string(kPassword) + "\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<Json> events = JsonLines(r.out);
    ASSERT_EQ(events.size(), 4u) << r.out;

    EXPECT_EQ(events[0]["event"].text, "connected");
    EXPECT_EQ(events[0]["login"].text, kLogin);
    EXPECT_EQ(events[0]["port"].text, std::to_string(port_));

    const Json& s = events[1];
    EXPECT_EQ(s["event"].text, "snapshot");
    EXPECT_EQ(s["balance"].type, Json::String);
    EXPECT_EQ(s["balance"].text, "-12.345");
    EXPECT_EQ(s["balance_milli"].text, "-12345");
    EXPECT_EQ(s["remaining_bytes"].text, "5368709120");
    ASSERT_EQ(s["counters"].items.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const Json& c = s["counters"].items[i];
        EXPECT_EQ(c["id"].text, std::to_string(kCounters[i].id));
        EXPECT_EQ(c["name"].text, kCounters[i].name);
        EXPECT_EQ(c["bytes"].text, std::to_string(kCounters[i].bytes));
    }

    EXPECT_EQ(events[2]["event"].text, "message");
    EXPECT_EQ(events[2]["time"].text, std::to_string(kMessageTime));
    EXPECT_EQ(events[2]["text"].text, kMessage);
    EXPECT_EQ(events[3]["event"].text, "disconnected");

    // The message is kept as the window keeps it, in Windows-1251.
    EXPECT_EQ(ReadFile("history.ini"), MessageHistory::FormatMessageTime(kMessageTime) + "\r\n" +
                                           Cp1251Bytes(kMessage) + "\r\n\r\n");
    const std::string log = StopServer();
    EXPECT_NE(log.find("confirmed login '" + std::string(kLogin) + "'"), std::string::npos) << log;
    EXPECT_NE(log.find("logout '" + std::string(kLogin) + "'"), std::string::npos) << log;
    EXPECT_NE(log.find("stopped: 0 session(s) open"), std::string::npos) << log;
}

TEST_F(ProgramsTest, WrongPasswordIsRejectedWithExitThree) {
    StartServer();
    const ProcessResult r =
        Cli(Plus(Target(), {"--once", "--json", "--password-stdin"}), "пароль2\n");
    EXPECT_EQ(r.exitCode, 3) << r.err;
    const std::vector<Json> events = JsonLines(r.out);
    ASSERT_EQ(events.size(), 1u) << r.out;
    EXPECT_EQ(events[0]["event"].text, "rejected");
    const std::string log = StopServer();
    EXPECT_NE(log.find("refused"), std::string::npos) << log;
    EXPECT_NE(log.find("stopped: 0 session(s) open"), std::string::npos) << log;
}

TEST_F(ProgramsTest, NoServerGivesNoAnswerAfterTheHelloWait) {
    // A bound socket that never reads: nothing else can answer on this port.
    UdpSocket silent;
    Endpoint local;
    local.address = ParseIPv4("127.0.0.1");
    ASSERT_TRUE(silent.Bind(local));
    port_ = PortFromNetwork(silent.LocalEndpoint().port);
    const ProcessResult r = Cli(Plus(Target(), {"--once", "--json", "--password-stdin"}), "x\n");
    EXPECT_EQ(r.exitCode, 2) << r.err;
    const std::vector<Json> events = JsonLines(r.out);
    ASSERT_EQ(events.size(), 1u) << r.out;
    EXPECT_EQ(events[0]["event"].text, "no_answer");
    EXPECT_GT(r.seconds, 2.9);
    EXPECT_LT(r.seconds, 7.0);
}

// An IP or Port in brin.ini that the engine could not use is named, with the file, before
// anything is sent: before, it showed as a server that does not answer (exit 2 after 4 s).
TEST_F(ProgramsTest, BadServerSettingsInBrinIniAreNamedBeforeAnythingIsSent) {
    // Where a Port of P + 65536 would have gone: the engine keeps the low 16 bits.
    UdpSocket listener;
    Endpoint local;
    local.address = ParseIPv4("127.0.0.1");
    ASSERT_TRUE(listener.Bind(local));
    const int port = PortFromNetwork(listener.LocalEndpoint().port);
    const std::string wrapped = std::to_string(port + 65536);
    struct Case {
        std::string ip, port, line;
    } cases[] = {
        {"999.1.1.1", "5001", "IP = 999.1.1.1 is not a dotted IPv4 address; set IP there or give --server"},
        {"localhost", "5001", "IP = localhost is not a dotted IPv4 address; set IP there or give --server"},
        {"127.0.0.1", "notanumber",
         "Port = notanumber is not a port number from 1 to 65535; set Port there or give --port"},
        {"127.0.0.1", "99999", "Port = 99999 is not a port number from 1 to 65535; set Port there or give --port"},
        {"127.0.0.1", "0", "Port = 0 is not a port number from 1 to 65535; set Port there or give --port"},
        {"127.0.0.1", wrapped,
         "Port = " + wrapped + " is not a port number from 1 to 65535; set Port there or give --port"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        WriteFile("brin.ini", "IP = " + c.ip + "\r\nPort = " + c.port + "\r\nLogin = x\r\n");
        const ProcessResult r = Cli({"--once"});
        EXPECT_EQ(r.exitCode, 64);
        EXPECT_EQ(r.err, "brin-cli: brin.ini: " + c.line + "\n");
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_LT(r.seconds, 2.0) << "refused at once, not after the HELLO wait";
    }
    EXPECT_EQ(listener.Readable(), 0) << "a HELLO went out";
    // The command line's own value stands in for the stored one.
    WriteFile("brin.ini", "IP = localhost\r\nPort = 99999\r\n");
    const ProcessResult given = Cli({"--server", "127.0.0.1", "--port", std::to_string(port), "--once",
                                     "--json", "--password-stdin"},
                                    "x\n");
    EXPECT_EQ(given.exitCode, 2) << given.err;
    EXPECT_EQ(listener.Readable(), 1) << "the HELLO goes where --server and --port say";
}

// A damaged brin.ini: the lines the rewrite drops are said once, the file as it was kept.
TEST_F(ProgramsTest, ADamagedBrinIniIsKeptAsBakAndSaidInOneLine) {
    StartServer();
    std::string damaged = "IP = 127.0.0.1\r\nPort = " + std::to_string(port_) + "\r\n";
    for (int i = 0; i < 3; ++i) damaged += "no equals sign here " + std::to_string(i) + "\r\n";
    WriteFile("brin.ini", damaged);
    const std::vector<std::string> args = {"--login", kLogin, "--once", "--password-stdin"};
    const ProcessResult first = Cli(args, std::string(kPassword) + "\n");
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(first.err,
              "brin-cli: brin.ini: 3 lines could not be read; the file as it was is kept as "
              "brin.ini.bak\n");
    EXPECT_EQ(ReadFile("brin.ini.bak"), damaged);
    EXPECT_EQ(ReadFile("brin.ini").find("no equals"), std::string::npos);
    const ProcessResult second = Cli(args, std::string(kPassword) + "\n");
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(second.err, "") << "said once: the rewritten file loses nothing more";
    EXPECT_EQ(ReadFile("brin.ini.bak"), damaged);
}

// The stored form computed here from its definition: the password's first 8 bytes,
// zero-padded, under single DES keyed by the serial (little-endian, twice), in hex.
std::string ExpectedPass(uint32_t serial, const std::string& password) {
    uint8_t key[8], block[8] = {};
    for (int i = 0; i < 4; ++i) key[i] = key[i + 4] = static_cast<uint8_t>(serial >> (8 * i));
    std::memcpy(block, password.data(), std::min<size_t>(password.size(), 8));
    DesEcbBlocks(block, 1, key, 1);
    char hex[17];
    for (int i = 0; i < 8; ++i) std::snprintf(hex + 2 * i, 3, "%02X", block[i]);
    return hex;
}

TEST_F(ProgramsTest, SaveStoresTheScrambledPassword) {
    StartServer();
    const ProcessResult serialRun = Cli({"--volume-serial"});
    ASSERT_EQ(serialRun.exitCode, 0);
    ASSERT_EQ(serialRun.out.size(), 9u) << serialRun.out;
    EXPECT_EQ(serialRun.out.find_first_not_of("0123456789ABCDEF"), 8u) << serialRun.out;
    const uint32_t serial = static_cast<uint32_t>(std::stoul(serialRun.out, nullptr, 16));
    EXPECT_EQ(serial, VolumeSerialNumber());
    EXPECT_FALSE(FileExists("brin.ini")) << "--volume-serial must not touch brin.ini";

    struct Case {
        const char* savePasswordLine;  // brin.ini before the run; empty: no file
        std::string storedPassword;
    } cases[] = {{"", Cp1251Bytes(kPassword)}, {"SavePassword = 0\r\n", ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.savePasswordLine);
        std::remove("brin.ini");
        if (*c.savePasswordLine) WriteFile("brin.ini", c.savePasswordLine);
        const ProcessResult r = Cli(Plus(Target(), {"--save", "--once", "--password-stdin"}),
                                    std::string(kPassword) + "\n");
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const std::string ini = ReadFile("brin.ini");
        EXPECT_NE(ini.find("\r\nPass = " + ExpectedPass(serial, c.storedPassword) + "\r\n"),
                  std::string::npos)
            << ini;
        EXPECT_NE(ini.find("\r\nLogin = " + Cp1251Bytes(kLogin) + "\r\n"), std::string::npos)
            << ini;
        EXPECT_NE(ini.find("\r\nIP = 127.0.0.1\r\n"), std::string::npos) << ini;
        EXPECT_NE(ini.find("\r\nPort = " + std::to_string(port_) + "\r\n"), std::string::npos)
            << ini;
        SettingsStore store(serial);
        EXPECT_EQ(std::string(store.GetPassword("Pass")), c.storedPassword);
    }
    // The stored values alone carry the next run.
    const ProcessResult again = Cli({"--once", "--json"});
    EXPECT_EQ(again.exitCode, 3) << "the saved empty password must be refused";
    std::remove("brin.ini");
    ASSERT_EQ(
        Cli(Plus(Target(), {"--save", "--once", "--password-stdin"}), std::string(kPassword) + "\n")
            .exitCode,
        0);
    EXPECT_EQ(Cli({"--once", "--json"}).exitCode, 0);
}

TEST_F(ProgramsTest, BadUsageExitsSixtyFourWithOneLineAndTheHint) {
    struct Case {
        std::vector<std::string> args;
        std::string input;
        const char* expected;  // part of the one-line message
    } cases[] = {
        {{"--bogus"}, "", "unknown option '--bogus'"},
        {{"extra"}, "", "unexpected argument 'extra'"},
        {{"--port", "0"}, "", "--port wants a number"},
        {{"--port", "65536"}, "", "--port wants a number"},
        {{"--port", "12a"}, "", "--port wants a number"},
        {{"--login"}, "", "--login needs NAME"},
        {{"--once=1"}, "", "--once takes no value"},
        {{"--server", "example.net"}, "", "--server wants a dotted IPv4 address"},
        {{"--polls", "0"}, "", "--polls wants a number"},
        {{"--login", "абвгдеёжзийклмноп"}, "", "login is longer than 16"},
        {{"--login", "日本"}, "", "login holds a character that Windows-1251 cannot hold"},
        {{"--password-stdin"}, "123456789\n", "password is longer than 8"},
        {{"--password-stdin"},
         "密码\n",
         "password holds a character that Windows-1251 cannot hold"},
        {{"--password-stdin"}, "", "found no line"},
        {{"--dir", "d", "--user-dir"}, "", "--dir and --user-dir cannot be given together"},
        {{"--user-dir", "--dir=d"}, "", "--dir and --user-dir cannot be given together"},
        {{"--once", "--polls", "3"}, "", "--once and --polls cannot be given together"},
        {{"--polls=3", "--once"}, "", "--once and --polls cannot be given together"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        const ProcessResult r = Cli(c.args, c.input);
        EXPECT_EQ(r.exitCode, 64);
        EXPECT_TRUE(r.out.empty()) << r.out;
        const std::string firstLine = r.err.substr(0, r.err.find('\n'));
        EXPECT_EQ(firstLine.find("brin-cli: "), 0u) << r.err;
        EXPECT_NE(firstLine.find(c.expected), std::string::npos) << r.err;
        EXPECT_EQ(r.err.substr(firstLine.size() + 1), "try 'brin-cli --help' for the options\n")
            << "the usage would bury the line";
        EXPECT_FALSE(FileExists("brin.ini")) << "bad usage must leave brin.ini alone";
        EXPECT_FALSE(FileExists("d")) << "bad usage must make no directory";
    }
    // Found only once brin.ini has been read: still bad usage, and nothing is stored.
    const ProcessResult noServer = Cli({"--once"});
    EXPECT_EQ(noServer.exitCode, 64);
    EXPECT_NE(noServer.err.find("no server address"), std::string::npos) << noServer.err;
    // A value with a blank would come back as its first word only.
    for (const auto& [server, login] :
         {std::pair<const char*, const char*>{"127.0.0.1", "a b"}, {"127.0.0.1 x", "a"}}) {
        SCOPED_TRACE(std::string(server) + "/" + login);
        const ProcessResult blank = Cli({"--save", "--server", server, "--login", login});
        EXPECT_EQ(blank.exitCode, 64);
        EXPECT_NE(blank.err.find("cannot be stored in brin.ini"), std::string::npos) << blank.err;
        EXPECT_EQ(ReadFile("brin.ini").find("127.0.0.1"), std::string::npos);
    }
}

// Conflicts are refused, but an option given twice is no conflict: the last one counts.
TEST_F(ProgramsTest, AnOptionGivenTwiceTakesItsLastValue) {
    StartServer();
    const ProcessResult r =
        Cli(Plus({"--port", "1", "--polls", "5"}, Plus(Target(), {"--polls", "1", "--password-stdin"})),
            std::string(kPassword) + "\n");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.find("rejected"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("balance: -12.345"), std::string::npos) << r.out;
}

TEST_F(ProgramsTest, SignalWhileConnectedLogsOutAndExitsZero) {
    StartServer();
    ASSERT_EQ(
        Cli(Plus(Target(), {"--save", "--once", "--password-stdin"}), std::string(kPassword) + "\n")
            .exitCode,
        0);
    Background cli({kCli, "--json"}, "cli.err", "cli.out");
    ASSERT_FALSE(cli.WaitForLine("\"snapshot\"", 8000, "cli.out").empty()) << ReadFile("cli.err");
    EXPECT_EQ(cli.Stop(SIGTERM), 0);
    const std::vector<Json> events = JsonLines(ReadFile("cli.out"));
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back()["event"].text, "disconnected");
    const std::string log = StopServer();
    size_t logouts = 0;
    for (size_t at = log.find("logout '"); at != std::string::npos;
         at = log.find("logout '", at + 1))
        ++logouts;
    EXPECT_EQ(logouts, 2u) << log;
    EXPECT_NE(log.find("stopped: 0 session(s) open"), std::string::npos) << log;
}

// A second stop signal a moment after the first (timeout(1) sends one to the process and one
// to its group) only hurries the end: the LOGOUT goes out, history.ini is kept and the exit
// status is 0, every time, wherever in the logout the second one lands.
TEST_F(ProgramsTest, RepeatedStopSignalsStillLogOutAndExitZero) {
    StartServer();
    ASSERT_EQ(
        Cli(Plus(Target(), {"--save", "--once", "--password-stdin"}), std::string(kPassword) + "\n")
            .exitCode,
        0);
    ASSERT_TRUE(FileExists("history.ini"));
    const std::string history = ReadFile("history.ini");
    const std::pair<int, int> cases[] = {{SIGTERM, 0},  {SIGTERM, 200}, {SIGTERM, 600},
                                         {SIGINT, 300}, {SIGHUP, 1000}, {SIGTERM, 3000}};
    int run = 0;
    for (const auto& [signal, gapMicros] : cases) {
        SCOPED_TRACE("signal " + std::to_string(signal) + ", " + std::to_string(gapMicros) +
                     " us apart");
        const std::string out = "cli" + std::to_string(++run) + ".out";
        Background cli({kCli, "--json"}, "cli.err", out);
        ASSERT_FALSE(cli.WaitForLine("\"connected\"", 8000, out).empty()) << ReadFile("cli.err");
        EXPECT_EQ(cli.Stop(signal, 2, gapMicros), 0) << ReadFile("cli.err");
        const std::vector<Json> events = JsonLines(ReadFile(out));
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back()["event"].text, "disconnected");
        EXPECT_EQ(ReadFile("history.ini"), history);
    }
    const std::string log = StopServer();
    size_t logouts = 0;
    for (size_t at = log.find("logout '"); at != std::string::npos;
         at = log.find("logout '", at + 1))
        ++logouts;
    EXPECT_EQ(logouts, 1u + run) << log;
    EXPECT_NE(log.find("stopped: 0 session(s) open"), std::string::npos) << log;
}

// --dir makes the directory owner-only and works in it; one client per directory, and a
// lock left by a client killed outright is taken over by the next one.
TEST_F(ProgramsTest, OneClientPerDirectoryGivenByDir) {
    StartServer();
    const std::string dir = dir_ + "/brin2";
    ASSERT_EQ(Cli(Plus(Target(), {"--dir", dir, "--save", "--once", "--password-stdin"}),
                  std::string(kPassword) + "\n")
                  .exitCode,
              0);
    EXPECT_TRUE(FileExists(dir + "/brin.ini"));
    EXPECT_TRUE(FileExists(dir + "/history.ini"));
    EXPECT_FALSE(FileExists("brin.ini")) << "nothing in the directory it was started in";
    EXPECT_FALSE(FileExists(dir + "/brin.lock")) << "removed at a clean end";
    struct stat st = {};
    ASSERT_EQ(stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    for (int signal : {SIGTERM, SIGKILL}) {
        SCOPED_TRACE(signal == SIGTERM ? "first ends cleanly" : "first killed");
        // Files of their own each time: a line left from the last run would pass for this one.
        const std::string err = "first" + std::to_string(signal) + ".err";
        const std::string out = "first" + std::to_string(signal) + ".out";
        Background first({kCli, "--dir", dir, "--json"}, err, out);
        ASSERT_FALSE(first.WaitForLine("\"snapshot\"", 8000, out).empty()) << ReadFile(err);
        const ProcessResult second = Cli({"--dir", dir, "--once"});
        EXPECT_EQ(second.exitCode, 5);
        EXPECT_NE(second.err.find("brin-cli: this directory is in use by brin-cli, process "),
                  std::string::npos)
            << second.err;
        EXPECT_TRUE(second.out.empty()) << second.out;
        first.Stop(signal);
        const ProcessResult third = Cli({"--dir", dir, "--once"});
        EXPECT_EQ(third.exitCode, 0) << third.err;
    }
}

// --dir makes only the directory it names, as mkdir does, and only once nothing else on
// the command line is wrong: a mistake leaves no tree and no brin.ini behind.
TEST_F(ProgramsTest, DirMakesOnlyItsLastPartAndOnlyForAGoodCommandLine) {
    struct Case {
        std::vector<std::string> args;
        std::string input;
        int code;
        const char* expected;  // part of standard error
    } cases[] = {
        {{"--dir", "typo/x/y", "--server", "127.0.0.1", "--once"},
         "",
         1,
         "brin-cli: cannot make typo/x/y: No such file or directory\n"},
        {{"--dir", "new", "--once"}, "", 64, "no server address: new does not exist yet"},
        {{"--dir", "new", "--server", "127.0.0.1", "--polls", "0"}, "", 64, "--polls wants"},
        {{"--dir", "new", "--server", "127.0.0.1", "--password-stdin"},
         "123456789\n",
         64,
         "password is longer than 8"},
        {{"--dir", "new", "--server", "127.0.0.1", "--save", "--login", "a b"},
         "",
         64,
         "cannot be stored in brin.ini"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        const ProcessResult r = Cli(c.args, c.input);
        EXPECT_EQ(r.exitCode, c.code);
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
        EXPECT_FALSE(FileExists("typo")) << "nothing of the path is made";
        EXPECT_FALSE(FileExists("new")) << "no directory for a bad command line";
    }
    // A good one makes the directory, owner-only; the per-user directory gets its parents
    // too, as a new account may have no ~/.config yet.
    ASSERT_EQ(Cli({"--dir", "new", "--volume-serial"}).exitCode, 0);
    struct stat st = {};
    ASSERT_EQ(stat("new", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    const ProcessResult user =
        RunProcess({"/usr/bin/env", "XDG_CONFIG_HOME=" + dir_ + "/home/.config", kCli,
                    "--user-dir", "--volume-serial"});
    EXPECT_EQ(user.exitCode, 0) << user.err;
    EXPECT_TRUE(FileExists(dir_ + "/home/.config/brin2")) << user.err;
}

}  // namespace

// A shared directory as another user leaves it: sticky and writable by all, with brin.ini,
// history.ini and brin.lock planted as that user's links to the user's own files. brin-cli
// refuses it naming the link, exits 1 and writes nothing anywhere; a directory writable by
// all without the sticky bit is refused the same way; the user's own link (a dotfiles copy)
// keeps working.
TEST_F(ProgramsTest, SharedDirectoriesAndPlantedLinksAreRefusedTouchingNothing) {
    StartServer();
    const auto names = [](const std::string& dir) {
        std::vector<std::string> list;
        for (const auto& e : std::filesystem::directory_iterator(dir))
            list.push_back(e.path().filename().string());
        std::sort(list.begin(), list.end());
        return list;
    };
    if (geteuid() == 0) {
        ASSERT_EQ(mkdir("shared", 0700), 0);
        ASSERT_EQ(chmod("shared", 01777), 0);
        const char* planted[] = {"brin.ini", "history.ini", "brin.lock"};
        for (const char* name : planted) {
            const std::string victim = dir_ + "/own-" + name;
            WriteFile(victim, std::string("the user's own ") + name + "\n");
            ASSERT_EQ(chmod(victim.c_str(), 0600), 0);
            const std::string link = std::string("shared/") + name;
            ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
            ASSERT_EQ(lchown(link.c_str(), 54321, 54321), 0);  // another user's
        }
        const ProcessResult r = Cli(Plus(Target(), {"--dir", dir_ + "/shared", "--save", "--once",
                                                    "--password-stdin"}),
                                    std::string(kPassword) + "\n");
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find("brin-cli: " + dir_ +
                             "/shared/brin.ini is a symbolic link made by another user (uid "
                             "54321)"),
                  std::string::npos)
            << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
        for (const char* name : planted) {
            struct stat st = {};
            ASSERT_EQ(stat((dir_ + "/own-" + name).c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
            EXPECT_EQ(ReadFile(dir_ + "/own-" + name), std::string("the user's own ") + name + "\n");
        }
        EXPECT_EQ(names("shared"), (std::vector<std::string>{"brin.ini", "brin.lock", "history.ini"}));
    }

    ASSERT_EQ(mkdir("open", 0700), 0);
    ASSERT_EQ(chmod("open", 0777), 0);
    const ProcessResult open = Cli(Plus(Target(), {"--dir", dir_ + "/open", "--save", "--once",
                                                   "--password-stdin"}),
                                   std::string(kPassword) + "\n");
    EXPECT_EQ(open.exitCode, 1) << open.err;
    EXPECT_NE(open.err.find("brin-cli: " + dir_ + "/open may be written by others (mode 0777, not "
                            "sticky)"),
              std::string::npos)
        << open.err;
    EXPECT_TRUE(names("open").empty());

    ASSERT_EQ(mkdir("dotfiles", 0700), 0);
    ASSERT_EQ(mkdir("mine", 0700), 0);
    WriteFile("dotfiles/brin.ini", "KeepConn = 0\r\n");
    ASSERT_EQ(symlink("../dotfiles/brin.ini", "mine/brin.ini"), 0);
    const ProcessResult mine = Cli(Plus(Target(), {"--dir", dir_ + "/mine", "--save", "--once",
                                                   "--password-stdin"}),
                                   std::string(kPassword) + "\n");
    EXPECT_EQ(mine.exitCode, 0) << mine.err;
    EXPECT_NE(ReadFile("dotfiles/brin.ini").find("IP = 127.0.0.1\r\n"), std::string::npos);
    struct stat st = {};
    ASSERT_EQ(lstat("mine/brin.ini", &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link stays a link";
}

// brin-server's log on a pipe whose reader went away (a `| head` that ended): the writes fail,
// and the server serves on; its SIGTERM still ends it cleanly.
TEST_F(ProgramsTest, ServerOutlivesTheReaderOfItsLog) {
    WriteFile("accounts.ini", AccountsFile());
    int log[2];
    ASSERT_EQ(pipe(log), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(log[1], 2);
        close(log[0]);
        close(log[1]);
        execl(kServer.c_str(), kServer.c_str(), "--listen", "127.0.0.1:0", "--accounts",
              "accounts.ini", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(log[1]);
    std::string first;  // the "listening on" line, then the reader goes
    char c = 0;
    while (read(log[0], &c, 1) == 1 && c != '\n') first += c;
    close(log[0]);
    const size_t at = first.find("127.0.0.1:");
    ASSERT_NE(at, std::string::npos) << first;
    port_ = std::stoi(first.substr(at + 10));
    for (int run = 0; run < 2; ++run) {
        const ProcessResult r =
            Cli(Plus(Target(), {"--once", "--password-stdin"}), std::string(kPassword) + "\n");
        EXPECT_EQ(r.exitCode, 0) << r.err;
    }
    EXPECT_EQ(kill(pid, 0), 0) << "the server is gone";
    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// brin-server takes --listen only as a dotted address and a port; anything looser is bad usage.
TEST_F(ProgramsTest, ServerRefusesLooseListenAddresses) {
    for (const char* listen :
         {"127.1:5001", "127.0.0.1 x:5001", "127.0.0.1:+5001", "127.0.0.1: 5001",
          "127.0.0.256:5001", "127.0.0.1:65536", "127.0.0.1:", ":5001"}) {
        SCOPED_TRACE(listen);
        const ProcessResult r = RunProcess({kServer, "--demo", "--listen", listen});
        EXPECT_EQ(r.exitCode, 64);
        EXPECT_NE(r.err.find("--listen wants a dotted IPv4 address"), std::string::npos) << r.err;
    }
}

// A server that cannot start says why, in one line naming what it could not use.
TEST_F(ProgramsTest, ServerThatCannotStartSaysWhy) {
    StartServer();  // holds a port, so that another server cannot bind it
    const std::string taken = "127.0.0.1:" + std::to_string(port_);
    WriteFile("utf16.ini", std::string("\xFF\xFE[\0a\0]\0\n\0", 8));
    WriteFile("utf16-no-mark.ini", std::string("[\0a\0]\0\n\0", 8));
    WriteFile("negative.ini", "[a]\nremaining = -5\n");
    WriteFile("huge.ini", "[a]\ncounter 3 = 9223372036854775808 Город\n");
    struct Case {
        std::vector<std::string> args;
        std::string expected;
    } cases[] = {
        {{"--accounts", "missing.ini"}, "cannot read missing.ini: No such file or directory"},
        {{"--accounts", "."}, "cannot read .: it is a directory"},
        {{"--accounts", "utf16.ini"}, "utf16.ini: line 1: the file is UTF-16 text; save it as UTF-8"},
        {{"--accounts", "utf16-no-mark.ini"}, "utf16-no-mark.ini: line 1: the file is UTF-16 text"},
        {{"--accounts", "negative.ini"}, "negative.ini: line 2: remaining cannot be negative"},
        {{"--accounts", "huge.ini"}, "huge.ini: line 2: counter 3: the byte count is too large"},
        {{"--demo", "--listen", taken}, "cannot listen on " + taken + ": Address already in use"},
        {{"--demo", "--listen", "192.0.2.1:5001"},
         "cannot listen on 192.0.2.1:5001: Cannot assign requested address"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        const ProcessResult r = RunProcess(Plus({kServer}, c.args));
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err.rfind("brin-server: " + c.expected, 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
    }
    const std::string log = StopServer();
    // Every line of the log starts with the local time, the first one too.
    size_t lines = 0;
    for (size_t at = 0; at < log.size(); at = log.find('\n', at) + 1, ++lines) {
        const std::string line = log.substr(at, log.find('\n', at) - at);
        EXPECT_TRUE(line.size() > 20 && line[4] == '-' && line[10] == ' ' && line[13] == ':' &&
                    line[19] == ' ')
            << line;
    }
    EXPECT_EQ(log.find(" listening on 127.0.0.1:"), 19u) << log;
    EXPECT_NE(log.find(" stopped: "), std::string::npos) << log;
    EXPECT_EQ(lines, 2u) << log;
}
