// brin.ini as the store reads, completes and writes it back; crash-safe saves; the hand-built fixture.
#include <gtest/gtest.h>

#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "core/TestSeams.h"
#include "settings/SettingsStore.h"
#include "tests/support/TempDir.h"

namespace {

constexpr uint32_t kSerial = 0x12345678;
// The empty password scrambled under kSerial (key 78 56 34 12 78 56 34 12), computed with
// printf '\0\0\0\0\0\0\0\0' | openssl enc -des-ecb -K 7856341278563412 -nopad
//     -provider legacy -provider default | xxd -p -u
const std::string kPassEmpty = "Pass = A9F4ED983A43125D";

const std::string kSave1 = "SavePassword = 1";
const std::string kAuto0 = "AutoConnect = 0";
const std::string kKeep0 = "KeepConn = 0";
const std::string kIpEmpty = "IP = ";
const std::string kPort5001 = "Port = 5001";
const std::string kLoginEmpty = "Login = ";

std::string CrLfLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

const std::vector<std::string> kFirstStart = {kSave1,    kAuto0,      kKeep0,    kIpEmpty,
                                              kPort5001, kLoginEmpty, kPassEmpty};

struct StoreCase {
    const char* what;
    bool hasFile;
    std::string input;
    std::vector<std::string> written;  // brin.ini after construction, line by line
    std::string ipText;
    std::string portText;
    int savePassword, autoConnect, keepConn;
};

const std::string k31(31, 'n');

const std::vector<StoreCase> kStoreCases = {
    {"first start", false, "", kFirstStart, "", "5001", 1, 0, 0},
    {"second start: empty IP and Login come back last", true, CrLfLines(kFirstStart),
     {kSave1, kAuto0, kKeep0, kPort5001, kPassEmpty, kIpEmpty, kLoginEmpty}, "", "5001", 1, 0, 0},
    {"no blanks around =", true, "IP=10.0.0.1\n",
     {"IP = 10.0.0.1", kSave1, kPort5001, kLoginEmpty, kPassEmpty, kAuto0, kKeep0}, "10.0.0.1",
     "5001", 1, 0, 0},
    {"blanks around =", true, "  IP  =  10.0.0.1  \n",
     {"IP = 10.0.0.1", kSave1, kPort5001, kLoginEmpty, kPassEmpty, kAuto0, kKeep0}, "10.0.0.1",
     "5001", 1, 0, 0},
    {"tabs around =", true, "\tIP\t=\t 10.0.0.1\t\n",
     {"IP = 10.0.0.1", kSave1, kPort5001, kLoginEmpty, kPassEmpty, kAuto0, kKeep0}, "10.0.0.1",
     "5001", 1, 0, 0},
    {"a==b", true, "a==b\n",
     {"a = b", kSave1, kIpEmpty, kPort5001, kLoginEmpty, kPassEmpty, kAuto0, kKeep0}, "", "5001",
     1, 0, 0},
    {"a=b=c", true, "a=b=c\n",
     {"a = b", kSave1, kIpEmpty, kPort5001, kLoginEmpty, kPassEmpty, kAuto0, kKeep0}, "", "5001",
     1, 0, 0},
    {"two-word value yields nothing", true, "Login = ivan petrov\n",
     {kSave1, kIpEmpty, kPort5001, kLoginEmpty, kPassEmpty, kAuto0, kKeep0}, "", "5001", 1, 0, 0},
    {"lines that yield nothing", true, "=IP = 1.1.1.1\nIP 1.1.1.1\nIP =\nIP = \t\n\r\n = 5\n",
     {kSave1, kIpEmpty, kPort5001, kLoginEmpty, kPassEmpty, kAuto0, kKeep0}, "", "5001", 1, 0, 0},
    {"repeated key: the first wins", true, "Port = 6000\nPort = 7000\n",
     {"Port = 6000", kSave1, kIpEmpty, kLoginEmpty, kPassEmpty, kAuto0, kKeep0}, "", "6000", 1, 0,
     0},
    {"lower-case name is another key", true, "ip = 10.0.0.1\n",
     {"ip = 10.0.0.1", kSave1, kIpEmpty, kPort5001, kLoginEmpty, kPassEmpty, kAuto0, kKeep0}, "",
     "5001", 1, 0, 0},
    {"40-character value cut to 31", true, "Login = " + std::string(40, 'x') + "\n",
     {"Login = " + std::string(31, 'x'), kSave1, kIpEmpty, kPort5001, kPassEmpty, kAuto0, kKeep0},
     "", "5001", 1, 0, 0},
    {"long names alike in their first 31 characters are one name", true,
     k31 + "AAAA = 1\n" + k31 + "BBBB = 2\n",
     {k31 + " = 1", kSave1, kIpEmpty, kPort5001, kLoginEmpty, kPassEmpty, kAuto0, kKeep0}, "",
     "5001", 1, 0, 0},
    {"SavePassword 2 is on", true, "SavePassword = 2\n",
     {"SavePassword = 2", kIpEmpty, kPort5001, kLoginEmpty, kPassEmpty, kAuto0, kKeep0}, "", "5001",
     1, 0, 0},
    {"SavePassword -1 is on", true, "SavePassword = -1\n",
     {"SavePassword = -1", kIpEmpty, kPort5001, kLoginEmpty, kPassEmpty, kAuto0, kKeep0}, "",
     "5001", 1, 0, 0},
    {"SavePassword text is off and stays", true, "SavePassword = yes\n",
     {"SavePassword = yes", kIpEmpty, kPort5001, kLoginEmpty, kPassEmpty, kAuto0, kKeep0}, "",
     "5001", 0, 0, 0},
    {"switches on; a number too long for 32 bits, zeros in front, is still on", true,
     "AutoConnect = 1\nKeepConn = 004294967296\n",
     {"AutoConnect = 1", "KeepConn = 004294967296", kSave1, kIpEmpty, kPort5001, kLoginEmpty,
      kPassEmpty},
     "", "5001", 1, 1, 1},
    {"empty Port comes back as 5001 after the loaded keys", true,
     CrLfLines({"SavePassword = 0", "AutoConnect = 1", "KeepConn = 0", "IP = 10.0.0.1", "Port = ",
                "Login = user", "Pass = 0123456789ABCDEF"}),
     {"SavePassword = 0", "AutoConnect = 1", "KeepConn = 0", "IP = 10.0.0.1", "Login = user",
      "Pass = 0123456789ABCDEF", kPort5001},
     "10.0.0.1", "5001", 0, 1, 0},
    {"unknown names keep their order, in front of added keys", true,
     "Zeta = 1\nAlpha = 2\nIP = 1.2.3.4\nMid = 3\n",
     {"Zeta = 1", "Alpha = 2", "IP = 1.2.3.4", "Mid = 3", kSave1, kPort5001, kLoginEmpty,
      kPassEmpty, kAuto0, kKeep0},
     "1.2.3.4", "5001", 1, 0, 0},
    // 300 characters: the first 254 are one piece; the next begins exactly at "B".
    {"300-character line read in pieces of 254", true,
     "A = " + std::string(250, 'v') + "B = " + std::string(42, 'w') + "\n",
     {"A = " + std::string(31, 'v'), "B = " + std::string(31, 'w'), kSave1, kIpEmpty, kPort5001,
      kLoginEmpty, kPassEmpty, kAuto0, kKeep0},
     "", "5001", 1, 0, 0},
    {"CR LF and bare LF: no CR in any value", true,
     "IP = 10.0.0.1\r\nPort = 6000\nLogin = bob\r\n",
     {"IP = 10.0.0.1", "Port = 6000", "Login = bob", kSave1, kPassEmpty, kAuto0, kKeep0},
     "10.0.0.1", "6000", 1, 0, 0},
};

TEST(SettingsStoreTest, ReadsCompletesAndWritesBack) {
    for (const StoreCase& c : kStoreCases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        if (c.hasFile) WriteFile("brin.ini", c.input);
        SettingsStore store(kSerial);
        EXPECT_EQ(ReadFile("brin.ini"), CrLfLines(c.written));
        EXPECT_EQ(store.ipText, c.ipText);
        EXPECT_EQ(store.portText, c.portText);
        EXPECT_EQ(store.savePassword, c.savePassword);
        EXPECT_EQ(store.autoConnect, c.autoConnect);
        EXPECT_EQ(store.keepConn, c.keepConn);
        EXPECT_EQ(store.connectedShown, 0);
    }
}

// A damaged brin.ini of a few megabytes must not hold the start up: it is read in one pass,
// every name once, and written back as read. (Checking each line against the whole list took
// minutes for these 200 000 lines.)
TEST(SettingsStoreTest, LongFileIsReadInOnePass) {
    TempDir dir;
    std::string lines;
    for (int i = 0; i < 200000; ++i) lines += "k" + std::to_string(i) + " = v\r\n";
    WriteFile("brin.ini", lines + "k7 = again\r\n");
    const std::clock_t start = std::clock();
    SettingsStore store(kSerial);
    const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    EXPECT_LT(seconds, 10.0);
    EXPECT_STREQ(store.GetValue("k7"), "v");
    EXPECT_STREQ(store.GetValue("k199999"), "v");
    const std::string written = ReadFile("brin.ini");
    EXPECT_EQ(written.compare(0, lines.size(), lines), 0);
    EXPECT_EQ(written.find("again"), std::string::npos);
}

TEST(SettingsStoreTest, SetValueChangesInPlaceAndNeverAdds) {
    TempDir dir;
    SettingsStore store(kSerial);
    EXPECT_STREQ(store.SetValue("Login", "ivanov"), "ivanov");
    EXPECT_EQ(store.SetValue("Nickname", "x"), nullptr);
    EXPECT_EQ(store.GetValue("Nickname"), nullptr);
    ASSERT_EQ(store.SaveFile(), 0);
    std::vector<std::string> lines = kFirstStart;
    lines[5] = "Login = ivanov";
    EXPECT_EQ(ReadFile("brin.ini"), CrLfLines(lines));
}

// LowBalance is no default key: absent until the user sets it, then one line at the end among
// the unknown keys kept as they are; cleared, it is gone after the next start.
TEST(SettingsStoreTest, LowBalanceIsAddedWhenSetAndGoesWhenCleared) {
    TempDir dir;
    WriteFile("brin.ini", "Theme = dark\r\n");
    {
        SettingsStore store(kSerial);
        EXPECT_EQ(store.LowBalanceText(), "");
        store.StoreLowBalance("");  // nothing to clear: no line
        ASSERT_EQ(store.SaveFile(), 0);
        EXPECT_EQ(ReadFile("brin.ini").find("LowBalance"), std::string::npos);
        store.StoreLowBalance("100.000");
        ASSERT_EQ(store.SaveFile(), 0);
    }
    std::vector<std::string> lines = {"Theme = dark", kSave1,    kIpEmpty, kPort5001, kLoginEmpty,
                                      kPassEmpty,     kAuto0,    kKeep0,   "LowBalance = 100.000"};
    EXPECT_EQ(ReadFile("brin.ini"), CrLfLines(lines));
    {
        SettingsStore store(kSerial);
        EXPECT_EQ(store.LowBalanceText(), "100.000");
        store.StoreLowBalance("");
        ASSERT_EQ(store.SaveFile(), 0);
    }
    SettingsStore store(kSerial);
    EXPECT_EQ(store.GetValue("LowBalance"), nullptr);
    EXPECT_EQ(ReadFile("brin.ini").find("LowBalance"), std::string::npos);
    EXPECT_EQ(ReadFile("brin.ini").find("Theme = dark\r\n"), 0u);
}

// A save that breaks off part-way leaves the old file whole and nothing beside it.
TEST(SettingsStoreTest, FailedSaveKeepsOldFile) {
    for (long failAfter : {0L, 10L, 100000L}) {
        SCOPED_TRACE(failAfter);
        TempDir dir;
        SettingsStore store(kSerial);
        std::string before = ReadFile("brin.ini");
        store.SetValue("IP", "192.168.1.1");
        InjectAtomicWriteFailure(failAfter);
        EXPECT_EQ(store.SaveFile(), -1);
        EXPECT_EQ(ReadFile("brin.ini"), before);
        EXPECT_EQ(dir.Names(), std::vector<std::string>{"brin.ini"});
        ASSERT_EQ(store.SaveFile(), 0);  // the failure was for one save only
        EXPECT_NE(ReadFile("brin.ini").find("IP = 192.168.1.1\r\n"), std::string::npos);
    }
}

// The reader's rules stay, but a rewrite that would lose lines first keeps the file as it
// was in brin.ini.bak; what the store writes itself (empty values) loses nothing.
TEST(SettingsStoreTest, LinesTheRewriteWouldDropAreCountedAndTheOldFileKept) {
    std::mt19937 rng(23);
    std::string random(100 * 1024, '\0');
    for (char& c : random) c = static_cast<char>(rng());
    struct Case {
        const char* what;
        std::string input;
        int dropped;  // -1: some
    } cases[] = {
        {"the file the store writes", CrLfLines(kFirstStart), 0},
        {"blank lines, an empty value, a value with an '=' run", "\r\n \t\nIP =\nPort == 6000\n", 0},
        {"no blanks, or tabs, around =", "IP=10.0.0.1\n\tLogin\t=\tbob\n", 0},
        {"a name given twice with the same value", "Port = 6000\nPort = 6000\n", 0},
        {"a line without =", "IP 10.0.0.1\n", 1},
        {"a value of two words", "Login = ivan petrov\n", 1},
        {"a line that starts with =", "= 5\n", 1},
        {"two words before =", "my name = x\n", 1},
        {"a name given twice, another value", "Port = 6000\nPort = 7000\n", 1},
        {"a value cut to 31", "Login = " + std::string(40, 'x') + "\n", 1},
        {"a name cut to 31", std::string(40, 'n') + " = 1\n", 1},
        {"a 300-character line, in pieces", "A = " + std::string(250, 'v') + "B = w\nC = 1\n", 1},
        {"a zero byte", std::string("IP = 1.2.3.4\0x\nPort = 1\n", 24), 1},
        {"a damaged file", "IP = 1.2.3.4\ngarbage\nmore garbage\nPort = 6000\n", 2},
        {"100 KB of random bytes", random, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        WriteFile("brin.ini", c.input);
        SettingsStore store(kSerial);
        if (c.dropped >= 0) {
            EXPECT_EQ(store.DroppedLines(), static_cast<size_t>(c.dropped));
        } else {
            EXPECT_GT(store.DroppedLines(), 0u);
        }
        if (store.DroppedLines() == 0) {
            EXPECT_EQ(store.BackupOutcome(), SettingsStore::Backup::None);
            EXPECT_EQ(dir.Names(), std::vector<std::string>{"brin.ini"});
            continue;
        }
        EXPECT_EQ(store.BackupOutcome(), SettingsStore::Backup::Kept);
        EXPECT_EQ(ReadFile("brin.ini.bak"), c.input);
        EXPECT_NE(ReadFile("brin.ini"), c.input);
        // Kept once: the rewritten file loses nothing more, so the next start keeps the copy.
        SettingsStore again(kSerial);
        EXPECT_EQ(again.DroppedLines(), 0u);
        EXPECT_EQ(again.BackupOutcome(), SettingsStore::Backup::None);
        EXPECT_EQ(ReadFile("brin.ini.bak"), c.input);
    }
}

// Without its copy, a damaged brin.ini is not replaced, at start or later.
TEST(SettingsStoreTest, ADamagedFileStaysWhenItsCopyCannotBeWritten) {
    TempDir dir;
    const std::string damaged = "IP = 10.0.0.1\ngarbage\n";
    WriteFile("brin.ini", damaged);
    InjectAtomicWriteFailure(0);  // the copy is the first file written
    SettingsStore store(kSerial);
    EXPECT_EQ(store.DroppedLines(), 1u);
    EXPECT_EQ(store.BackupOutcome(), SettingsStore::Backup::Failed);
    EXPECT_EQ(ReadFile("brin.ini"), damaged);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"brin.ini"});
    EXPECT_EQ(store.ipText, "10.0.0.1");  // the values read are in force all the same
    store.SetValue("Port", "6000");
    EXPECT_EQ(store.SaveFile(), 0);  // the next save makes the copy first
    EXPECT_EQ(store.BackupOutcome(), SettingsStore::Backup::Kept);
    EXPECT_EQ(ReadFile("brin.ini.bak"), damaged);
    EXPECT_NE(ReadFile("brin.ini").find("Port = 6000\r\n"), std::string::npos);
}

// tests/data/brin-known.ini was written by hand: the seven keys with CR LF, and Pass the
// password "pa55word" under serial 0x1A2B3C4D (key 4D 3C 2B 1A 4D 3C 2B 1A), from
// printf 'pa55word' | openssl enc -des-ecb -K 4D3C2B1A4D3C2B1A -nopad
//     -provider legacy -provider default | xxd -p -u
TEST(SettingsStoreTest, MatchesHandBuiltFile) {
    const std::string fixture = ReadFile(BRIN_TEST_DATA_DIR "/brin-known.ini");
    ASSERT_FALSE(fixture.empty());
    {
        TempDir dir;
        SettingsStore store(0x1A2B3C4D);
        store.SetValue("IP", "10.20.30.40");
        store.SetValue("Login", "ivanov");
        store.SetPassword("Pass", "pa55word");
        ASSERT_EQ(store.SaveFile(), 0);
        EXPECT_EQ(ReadFile("brin.ini"), fixture);
    }
    {
        TempDir dir;
        WriteFile("brin.ini", fixture);
        SettingsStore store(0x1A2B3C4D);
        EXPECT_EQ(ReadFile("brin.ini"), fixture);
        EXPECT_STREQ(store.GetPassword("Pass"), "pa55word");
        EXPECT_STREQ(store.GetValue("Login"), "ivanov");
        EXPECT_EQ(store.ipText, "10.20.30.40");
    }
}

}  // namespace
