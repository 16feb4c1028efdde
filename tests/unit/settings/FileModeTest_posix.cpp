// brin.ini holds the scrambled password: created owner-only; a replaced file keeps its mode, a link stays a link.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "SettingsStore.h"
#include "TempDir.h"

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
        EXPECT_NE(ReadBytes("brin.ini").find("Login = ivanov\r\n"), std::string::npos);
    }
    umask(previous);
}

// A brin.ini kept elsewhere behind a symbolic link: the target is rewritten, the link stays.
TEST(FileModeTest, LinkedFileIsReplacedAtItsTarget) {
    TempDir dir;
    ASSERT_EQ(mkdir("shared", 0700), 0);
    WriteBytes("shared/brin.ini", "Login = ivanov\r\n");
    ASSERT_EQ(symlink("shared/brin.ini", "brin.ini"), 0);
    SettingsStore store(0x12345678);
    struct stat st;
    ASSERT_EQ(lstat("brin.ini", &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    std::string written = ReadBytes("shared/brin.ini");
    EXPECT_EQ(written.rfind("Login = ivanov\r\nSavePassword = 1\r\n", 0), 0u);
}

}  // namespace
