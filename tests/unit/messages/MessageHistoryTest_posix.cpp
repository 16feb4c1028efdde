// The time line in local time, seconds first; a new history.ini readable by all.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "core/AtomicFile.h"
#include "messages/MessageHistory.h"
#include "tests/support/TempDir.h"

namespace {

class ZoneTest : public ::testing::Test {
protected:
    void SetZone(const char* zone) {
        setenv("TZ", zone, 1);
        tzset();
    }
    void TearDown() override {
        if (saved_.empty()) {
            unsetenv("TZ");
        } else {
            setenv("TZ", saved_.c_str(), 1);
        }
        tzset();
    }

private:
    std::string saved_ = std::getenv("TZ") ? std::getenv("TZ") : "";
};

struct TimeCase {
    const char* zone;
    int year, month, day, hour, minute, second;  // local time in that zone
    const char* line;
};

const TimeCase kTimeCases[] = {
    {"UTC0", 2009, 3, 7, 13, 5, 9, "09:05:13 07/03/2009"},
    {"MSK-3", 2009, 3, 7, 16, 5, 9, "09:05:16 07/03/2009"},  // the same instant, local hours
    {"UTC0", 1999, 12, 31, 23, 59, 58, "58:59:23 31/12/1999"},
};

TEST_F(ZoneTest, TimeLineIsLocalSecondsFirst) {
    for (const TimeCase& c : kTimeCases) {
        SCOPED_TRACE(c.line);
        SetZone(c.zone);
        std::tm local{};
        local.tm_year = c.year - 1900;
        local.tm_mon = c.month - 1;
        local.tm_mday = c.day;
        local.tm_hour = c.hour;
        local.tm_min = c.minute;
        local.tm_sec = c.second;
        local.tm_isdst = 0;
        int32_t time = static_cast<int32_t>(std::mktime(&local));
        EXPECT_EQ(MessageHistory::FormatMessageTime(time), c.line);
    }
    SetZone("MSK-3");
    EXPECT_EQ(MessageHistory::FormatMessageTime(1236431109), "09:05:16 07/03/2009");
}

TEST(HistoryFileModeTest, NewFileIsReadableByAll) {
    mode_t previous = umask(022);
    {
        TempDir dir;
        MessageHistory history;
        history.AddMessage(0, "x");
        struct stat st;
        ASSERT_EQ(stat("history.ini", &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0644u);
    }
    umask(previous);
}

// A file-size limit as a full disk shows it to a writer (EFBIG, SIGXFSZ ignored): the old
// file stays whole, the entry waits in memory and is written once the limit is gone.
TEST(HistoryFullDiskTest, OldFileStaysAndTheEntryIsWrittenLater) {
    TempDir dir;
    const std::string old(8192, 'o');
    WriteFile("history.ini", old + "\r\n");
    MessageHistory history;
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    history.AddMessage(1236431109, "kept");
    const bool failing = history.SaveFailing();
    const std::string during = ReadFile("history.ini");
    const int retry = history.RetrySave();
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    std::signal(SIGXFSZ, previous);
    EXPECT_TRUE(failing);
    EXPECT_EQ(retry, -1);
    EXPECT_EQ(during, old + "\r\n");
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"history.ini"});

    EXPECT_EQ(history.RetrySave(), 0);
    EXPECT_EQ(ReadFile("history.ini"),
              old + "\r\n" + MessageHistory::FormatMessageTime(1236431109) + "\r\nkept\r\n\r\n");
}

// A save cut off by a kill leaves ".history.ini.PID.SUFFIX"; the next save removes those of
// processes that are gone, never one of a live process nor a file of any other form, however
// alike ("SUFFIX" is exactly twelve lower-case hex digits).
TEST(HistoryLeftoversTest, TheNextSaveRemovesOnlyThoseOfProcessesThatAreGone) {
    TempDir dir;
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    const std::string gone = ".history.ini." + std::to_string(child) + ".0000000a0001";
    const std::string live = ".history.ini." + std::to_string(getppid()) + ".0000000a0001";
    // A user's own files that merely start alike, of a process id that is gone too.
    const std::string pid = std::to_string(child);
    const std::vector<std::string> users = {
        ".history.ini.x",
        ".brin.ini." + pid + ".1",
        ".history.ini." + pid + ".bak",
        ".history.ini.20241211.bak",
        ".history.ini." + pid + ".0000000a0001.orig",
        ".history.ini." + pid + ".0000000A0001",
        ".history.ini." + pid + ".0000000a000",
        ".history.ini.0" + pid + ".0000000a0001",
    };
    for (const std::string& name : {gone, live}) WriteFile(name, "partial");
    for (const std::string& name : users) WriteFile(name, "the user's");
    MessageHistory history;
    history.AddMessage(0, "x");
    std::vector<std::string> names = dir.Names();
    std::sort(names.begin(), names.end());
    std::vector<std::string> expected = users;
    expected.push_back(live);
    expected.push_back("history.ini");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
}

}  // namespace
