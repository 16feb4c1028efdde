// The password stays out of what the programs leave behind: freed memory, core files, the
// command line, the environment, the output, the logs and the files.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "core/BrinCore.h"
#include "core/ProcessHardening.h"
#include "server/AccessServer.h"
#include "server/Accounts.h"
#include "settings/SettingsStore.h"
#include "tests/e2e/E2eSupport.h"

namespace {

const char kSecret[] = "Zq7pW3xk";

bool Holds(const void* bytes, size_t size, const void* what, size_t whatSize) {
    const auto* b = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i + whatSize <= size; ++i)
        if (std::memcmp(b + i, what, whatSize) == 0) return true;
    return false;
}

// An object built and destroyed in storage the test owns, then searched for the password.
template <typename T, typename Use>
bool PasswordLeftInStorage(Use use) {
    alignas(T) unsigned char storage[sizeof(T)];
    T* object = new (storage) T;
    use(*object);
    const bool before = Holds(storage, sizeof storage, kSecret, std::strlen(kSecret));
    object->~T();
    EXPECT_TRUE(before) << "the object never held it: the test shows nothing";
    return Holds(storage, sizeof storage, kSecret, std::strlen(kSecret));
}

struct DetachedStore : SettingsStore {
    DetachedStore() : SettingsStore(Detached{}, 0x1234ABCD) {}
};

TEST(SecretsTest, DestroyedObjectsLeaveNoPasswordBehind) {
    EXPECT_FALSE(PasswordLeftInStorage<BrinCore>([](BrinCore& core) {
        std::strcpy(core.password, kSecret);
        core.Step();
    }));
    EXPECT_FALSE(PasswordLeftInStorage<DetachedStore>([](DetachedStore& store) {
        store.AddValue(SettingsStore::kPass, "");
        store.SetPassword(SettingsStore::kPass, kSecret);
        store.GetPassword(SettingsStore::kPass);  // the unscrambled text in scratch
    }));
}

// SIGABRT with core files allowed: a process marked not dumpable leaves none, and an unmarked
// one (the control) does, so the check can see a core file at all.
int AbortWithCoreAllowed(bool markFirst) {
    const pid_t pid = fork();
    if (pid == 0) {
        rlimit unlimited = {RLIM_INFINITY, RLIM_INFINITY};
        setrlimit(RLIMIT_CORE, &unlimited);
        if (markFirst) MarkProcessNotDumpable();
        std::abort();
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

class CoreFileTest : public TempDirTest {};

TEST_F(CoreFileTest, NoCoreFileOnceMarked) {
    rlimit hard;
    getrlimit(RLIMIT_CORE, &hard);
    if (hard.rlim_max != RLIM_INFINITY) GTEST_SKIP() << "core files are limited here";
    const int control = AbortWithCoreAllowed(false);
    ASSERT_TRUE(WIFSIGNALED(control));
    if (!WCOREDUMP(control)) GTEST_SKIP() << "this machine keeps no core files";
    const int marked = AbortWithCoreAllowed(true);
    ASSERT_TRUE(WIFSIGNALED(marked));
    EXPECT_FALSE(WCOREDUMP(marked));
}

// The real programs: SIGABRT leaves no core file, and the password appears nowhere another
// user or a log could see it.
TEST_F(CoreFileTest, ProgramsKeepThePasswordToThemselves) {
    WriteFile("accounts.ini", std::string("[alice]\npassword = ") + kSecret + "\nmessage = hi\n");
    rlimit saved, unlimited = {RLIM_INFINITY, RLIM_INFINITY};
    getrlimit(RLIMIT_CORE, &saved);
    const bool cores = setrlimit(RLIMIT_CORE, &unlimited) == 0;  // inherited by the children
    Background server({BRIN_SERVER_PATH, "--listen", "127.0.0.1:0", "--accounts", "accounts.ini"},
                      "server.log");
    const std::string port = ListeningPort(server);
    ASSERT_FALSE(port.empty());

    const std::vector<std::string> cli = {BRIN_CLI_PATH, "--server", "127.0.0.1", "--port", port,
                                          "--login", "alice", "--password-stdin", "--save"};
    for (const char* form : {"--json", "--once"}) {  // JSON Lines, then the readable lines
        std::vector<std::string> argv = cli;
        argv.push_back("--once");
        argv.push_back(form);
        const ProcessResult r = RunProcess(argv, std::string(kSecret) + "\n");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out.find(kSecret), std::string::npos) << r.out;
        EXPECT_EQ(r.err.find(kSecret), std::string::npos) << r.err;
    }

    // A client that runs on: its command line and environment, then SIGABRT.
    int in[2];
    ASSERT_EQ(pipe(in), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        close(in[1]);
        const int out = open("cli.out", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, 1);
        dup2(out, 2);
        std::vector<char*> args;
        for (const std::string& a : cli) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(const_cast<char*>("--json"));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    ASSERT_EQ(write(in[1], kSecret, std::strlen(kSecret)), static_cast<ssize_t>(std::strlen(kSecret)));
    ASSERT_EQ(write(in[1], "\n", 1), 1);
    EXPECT_NE(server.WaitForLine("\"snapshot\"", 10000, "cli.out"), "");
    for (const char* what : {"cmdline", "environ"}) {
        const std::string bytes = ReadFile("/proc/" + std::to_string(pid) + "/" + what);
        EXPECT_EQ(bytes.find(kSecret), std::string::npos) << what;
    }
    kill(pid, SIGABRT);
    int status = 0;
    waitpid(pid, &status, 0);
    close(in[1]);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_FALSE(WCOREDUMP(status)) << "brin-cli left a core file";

    server.Stop(SIGABRT);
    if (cores) setrlimit(RLIMIT_CORE, &saved);
    for (const auto& e : std::filesystem::directory_iterator(dir_))
        EXPECT_NE(e.path().filename().string().compare(0, 4, "core"), 0) << e.path();
    for (const char* file : {"server.log", "brin.ini", "history.ini", "cli.out"}) {
        EXPECT_TRUE(FileExists(file)) << file;
        EXPECT_EQ(ReadFile(file).find(kSecret), std::string::npos) << file;
    }
}

}  // namespace
