// The directory lock between processes and within one: one holder at a time through every race
// of a holder ending while another opens the file, no lock lost on a full disk, and no holder
// removing a file it does not hold.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <memory>
#include <string>

#include "core/DirectoryLock.h"
#include "tests/support/TempDir.h"

namespace {

ino_t InodeOf(const char* path) {
    struct stat st = {};
    return stat(path, &st) == 0 ? st.st_ino : 0;
}

TEST(DirectoryLockTest, OneHolderAtATimeAndTheFileGoesWithIt) {
    TempDir dir;
    std::string detail;
    auto first = std::make_unique<DirectoryLock>();
    ASSERT_EQ(first->Acquire(&detail), DirectoryLock::Acquired) << detail;
    DirectoryLock second;
    EXPECT_EQ(second.Acquire(&detail), DirectoryLock::Busy);
    EXPECT_NE(detail.find(", process " + std::to_string(getpid())), std::string::npos) << detail;
    first.reset();
    EXPECT_EQ(InodeOf(kLockFileName), 0u) << "removed at the end";
    EXPECT_EQ(second.Acquire(&detail), DirectoryLock::Acquired) << detail;
}

// A holder ends (removes the file, lets it go) after a second client opened the file and before
// it locked it, and a third client makes a new file and locks it meanwhile: the second must not
// count the lock on the removed file as the directory's.
std::unique_ptr<DirectoryLock> g_ending, g_third;
DirectoryLock::Result g_thirdResult;
void EndHolderAndStartAThird() {
    SetLockRaceHook(nullptr);
    g_ending.reset();
    g_third = std::make_unique<DirectoryLock>();
    std::string detail;
    g_thirdResult = g_third->Acquire(&detail);
}

TEST(DirectoryLockTest, ALockOnAFileRemovedMeanwhileIsNoLock) {
    TempDir dir;
    std::string detail;
    g_ending = std::make_unique<DirectoryLock>();
    ASSERT_EQ(g_ending->Acquire(&detail), DirectoryLock::Acquired);
    DirectoryLock second;
    SetLockRaceHook(EndHolderAndStartAThird);
    const DirectoryLock::Result result = second.Acquire(&detail);
    SetLockRaceHook(nullptr);
    ASSERT_EQ(g_thirdResult, DirectoryLock::Acquired);
    EXPECT_EQ(result, DirectoryLock::Busy) << "two holders of one directory";
    g_third.reset();
    EXPECT_EQ(second.Acquire(&detail), DirectoryLock::Acquired) << detail;
}

// A holder whose file was replaced (another client took the directory over after it) leaves
// the new file alone at its end.
TEST(DirectoryLockTest, AHolderNeverRemovesAFileItDoesNotHold) {
    TempDir dir;
    std::string detail;
    auto holder = std::make_unique<DirectoryLock>();
    ASSERT_EQ(holder->Acquire(&detail), DirectoryLock::Acquired);
    { std::ofstream("other") << "another client's\n"; }
    ASSERT_EQ(rename("other", kLockFileName), 0);
    const ino_t other = InodeOf(kLockFileName);
    holder.reset();
    EXPECT_EQ(InodeOf(kLockFileName), other);
}

// Processes that take and give up the lock as fast as they can: never two inside at once.
TEST(DirectoryLockTest, ProcessesRacingForItAreNeverInsideTogether) {
    TempDir dir;
    constexpr int kProcesses = 4, kRounds = 300;
    pid_t children[kProcesses];
    for (pid_t& child : children) {
        child = fork();
        if (child != 0) continue;
        for (int round = 0; round < kRounds;) {
            DirectoryLock lock;
            std::string detail;
            const DirectoryLock::Result r = lock.Acquire(&detail);
            if (r == DirectoryLock::Failed) _exit(2);
            if (r == DirectoryLock::Busy) continue;
            const int inside = open("inside", O_WRONLY | O_CREAT | O_EXCL, 0600);
            if (inside < 0) _exit(1);  // another holder is inside
            close(inside);
            usleep(20);
            unlink("inside");
            ++round;
        }
        _exit(0);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "1: two holders at once, 2: the lock failed";
    }
}

// On a full filesystem the file still opens and its lock is the lock: the second client is
// refused. Where nothing can be written and no file is, no other client can write either.
TEST(DirectoryLockTest, AFullDiskStillLocksAndAReadOnlyOneNeedsNoFile) {
    TempDir dir;
    ASSERT_EQ(mkdir("fs", 0700), 0);
    if (mount("tmpfs", "fs", "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "no tmpfs mount here";
    ASSERT_EQ(chdir("fs"), 0);
    {
        std::ofstream fill("fill", std::ios::binary);
        const std::string block(4096, 'x');
        for (int i = 0; i < 64 && fill; ++i) fill << block << std::flush;
    }
    std::string detail;
    {
        DirectoryLock first, second;
        EXPECT_EQ(first.Acquire(&detail), DirectoryLock::Acquired) << detail;
        EXPECT_EQ(second.Acquire(&detail), DirectoryLock::Busy) << detail;
    }
    ASSERT_EQ(chdir(".."), 0);
    umount2("fs", MNT_DETACH);
    ASSERT_EQ(mount("tmpfs", "fs", "tmpfs", MS_RDONLY, "size=16k"), 0);
    ASSERT_EQ(chdir("fs"), 0);
    {
        DirectoryLock lock;
        EXPECT_EQ(lock.Acquire(&detail), DirectoryLock::Acquired) << detail;
    }
    ASSERT_EQ(chdir(".."), 0);
    umount2("fs", MNT_DETACH);
}

}  // namespace
