// brin.ini holds the scrambled password: created owner-only; a replaced file keeps its mode, a link
// stays a link.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "settings/SettingsStore.h"
#include "tests/support/TempDir.h"

namespace {

int ModeOf(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

TEST(FileModeTest, NewFileOwnerOnlyReplacedFileKeepsMode) {
    mode_t previous = umask(022);
    {
        TempDir dir;
        SettingsStore store(0x12345678);
        EXPECT_EQ(ModeOf("brin.ini"), 0600);
        ASSERT_EQ(chmod("brin.ini", 0640), 0);
        store.SetValue("Login", "ivanov");
        ASSERT_EQ(store.SaveFile(), 0);
        EXPECT_EQ(ModeOf("brin.ini"), 0640);
        EXPECT_NE(ReadFile("brin.ini").find("Login = ivanov\r\n"), std::string::npos);
    }
    umask(previous);
}

// A brin.ini kept elsewhere behind a symbolic link: the target is rewritten, the link stays.
TEST(FileModeTest, LinkedFileIsReplacedAtItsTarget) {
    TempDir dir;
    ASSERT_EQ(mkdir("shared", 0700), 0);
    WriteFile("shared/brin.ini", "Login = ivanov\r\n");
    ASSERT_EQ(symlink("shared/brin.ini", "brin.ini"), 0);
    SettingsStore store(0x12345678);
    struct stat st;
    ASSERT_EQ(lstat("brin.ini", &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    std::string written = ReadFile("shared/brin.ini");
    EXPECT_EQ(written.rfind("Login = ivanov\r\nSavePassword = 1\r\n", 0), 0u);
}

// A brin.ini the user may not write (left by a run under another account, or made
// read-only) is neither replaced nor taken over: the save fails and the file stays whole.
TEST(FileModeTest, FileWeMayNotWriteIsKept) {
    TempDir dir;
    ASSERT_EQ(chmod(".", 0777), 0);  // the directory itself would let anyone rename into it
    const std::string old = "IP = 10.1.2.3\r\nLogin = ivanov\r\n";
    WriteFile("brin.ini", old);
    ASSERT_EQ(chmod("brin.ini", geteuid() == 0 ? 0600 : 0444), 0);
    struct stat before;
    ASSERT_EQ(stat("brin.ini", &before), 0);

    // Root may write any file: the save then runs as an unprivileged user.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        SettingsStore store(0x12345678);
        store.SetValue("Login", "petrov");
        _exit(store.SaveFile() == -1 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFile("brin.ini"), old);
    struct stat after;
    ASSERT_EQ(stat("brin.ini", &after), 0);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(dir.Names(), std::vector<std::string>({"brin.ini"}));
}

}  // namespace
