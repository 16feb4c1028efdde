// The checks of a client's directory and files against other users: what is refused and what is
// not, and that nothing is written through another user's link.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>

#include "core/AtomicFile.h"
#include "core/WorkDir.h"
#include "tests/support/TempDir.h"

namespace {

constexpr uid_t kOtherUser = 54321;  // no one's; only root can give a file to it

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Another user's link, as it would be planted in a shared directory.
void PlantLink(const std::string& target, const std::string& name) {
    ASSERT_EQ(symlink(target.c_str(), name.c_str()), 0);
    ASSERT_EQ(lchown(name.c_str(), kOtherUser, kOtherUser), 0);
}

TEST(WorkDirTest, SharedDirectoriesAndOtherUsersFilesAreRefusedNamingWhat) {
    struct Case {
        const char* what;
        mode_t mode;
        bool asRoot;  // needs a file of another user
        void (*setUp)();
        const char* refusal;  // nullptr: accepted
    } cases[] = {
        {"own, owner-only", 0700, false, [] {}, nullptr},
        {"own, readable by all", 0755, false, [] {}, nullptr},
        {"writable by all", 0777, false, [] {}, "may be written by others (mode 0777, not sticky)"},
        {"writable by the group", 0770, false, [] {}, "(mode 0770, not sticky)"},
        {"sticky and shared, empty", 01777, false, [] {}, nullptr},
        {"sticky, the user's own link", 01777, false,
         [] { ASSERT_EQ(symlink("../dotfiles-brin.ini", "brin.ini"), 0); }, nullptr},
        {"sticky, another user's link", 01777, true,
         [] { PlantLink("../victim.ini", "history.ini"); },
         "/history.ini is a symbolic link made by another user (uid 54321)"},
        {"sticky, another user's file", 01777, true,
         [] {
             Write("brin.lock", "1\n");
             ASSERT_EQ(chown("brin.lock", kOtherUser, kOtherUser), 0);
         },
         "/brin.lock belongs to another user (uid 54321)"},
        {"another user's link in the user's own directory", 0700, true,
         [] { PlantLink("../victim.ini", "ping.sh"); }, "/ping.sh is a symbolic link made by"},
        {"another user's directory", 0755, true,
         [] { ASSERT_EQ(chown(".", kOtherUser, kOtherUser), 0); },
         " belongs to another user (uid 54321)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.asRoot && geteuid() != 0) continue;  // only root can make another user's file
        TempDir dir;
        ASSERT_EQ(mkdir("d", 0700), 0);
        ASSERT_EQ(chmod("d", c.mode), 0);
        ASSERT_EQ(chdir("d"), 0);
        c.setUp();
        std::string problem;
        const bool accepted = CheckWorkDirectory("/the/dir", &problem);
        ASSERT_EQ(chdir(".."), 0);
        if (c.refusal == nullptr) {
            EXPECT_TRUE(accepted) << problem;
        } else {
            EXPECT_FALSE(accepted);
            EXPECT_EQ(problem.compare(0, 8, "/the/dir"), 0) << problem;
            EXPECT_NE(problem.find(c.refusal), std::string::npos) << problem;
        }
    }
}

// A link planted after the start (the name was free then): saves and appends go nowhere
// through it and the user's file it points at stays as it was; the user's own link is
// followed as before.
TEST(WorkDirTest, NothingIsWrittenThroughAnotherUsersLink) {
    if (geteuid() != 0) GTEST_SKIP() << "only root can make another user's link";
    TempDir dir;
    Write("victim", "the user's own file\n");
    PlantLink("victim", "history.ini");
    PlantLink("victim", "usage.csv");
    PlantLink("victim", "brin.lock");
    EXPECT_EQ(ReplaceFileAtomically("history.ini", "planted\n"), -1);
    EXPECT_EQ(AppendToFile("usage.csv", "planted\n"), -1);
    errno = 0;
    EXPECT_EQ(OpenOwnFile("brin.lock", O_RDWR | O_CREAT, 0644), -1);
    EXPECT_EQ(errno, ELOOP);
    EXPECT_EQ(Read("victim"), "the user's own file\n");

    ASSERT_EQ(symlink("victim", "brin.ini"), 0);  // the user's own (a dotfiles link)
    EXPECT_EQ(ReplaceFileAtomically("brin.ini", "mine\n"), 0);
    EXPECT_EQ(Read("victim"), "mine\n");
    struct stat st = {};
    ASSERT_EQ(lstat("brin.ini", &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link stays a link";
}

}  // namespace
