// brin.ini holds the scrambled password: created owner-only, and a replaced file keeps its mode.
#include <gtest/gtest.h>
#include <sys/stat.h>

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

}  // namespace
