// The scrambled password: known answers, the key from the volume serial, and the hex decoder.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "settings/SettingsStore.h"

namespace {

// Expected values are independent: each is
// printf '<password, zero-padded to 8 bytes>' | openssl enc -des-ecb -K <key> -nopad
//     -provider legacy -provider default | xxd -p -u
// with <key> the serial's bytes little-endian, twice.
struct PasswordCase {
    uint32_t serial;
    const char* password;
    const char* stored;
    const char* readBack;
};

const PasswordCase kPasswordCases[] = {
    {0x12345678, "", "A9F4ED983A43125D", ""},              // -K 7856341278563412, 8 zero bytes
    {0x12345678, "secret", "2B6FF721EE9C5027", "secret"},  // -K 7856341278563412
    {0x87654321, "secret", "ED095F7FA6F4443F", "secret"},  // -K 2143658721436587: another volume
    {0x1A2B3C4D, "pa55word", "A7058AE89C133571", "pa55word"},    // -K 4D3C2B1A4D3C2B1A
    {0x1A2B3C4D, "pa55word!!", "A7058AE89C133571", "pa55word"},  // only 8 characters count
};

TEST(PasswordTest, ScramblesUnderTheVolumeKey) {
    for (const PasswordCase& c : kPasswordCases) {
        SCOPED_TRACE(c.password);
        SettingsStore store(SettingsStore::Detached{}, c.serial);
        store.AddValue("Pass", "");
        EXPECT_EQ(store.SetPassword("Pass", c.password), c.password);
        EXPECT_STREQ(store.GetValue("Pass"), c.stored);
        EXPECT_STREQ(store.GetPassword("Pass"), c.readBack);
    }
}

TEST(PasswordTest, ReadsLowerCaseDigits) {
    SettingsStore store(SettingsStore::Detached{}, 0x12345678);
    store.AddValue("Pass", "2b6ff721ee9c5027");
    EXPECT_STREQ(store.GetPassword("Pass"), "secret");
}

TEST(PasswordTest, UnknownNameChangesNothing) {
    SettingsStore store(SettingsStore::Detached{}, 0x12345678);
    store.AddValue("Pass", "0123456789ABCDEF");
    EXPECT_EQ(store.SetPassword("Password", "x"), nullptr);
    EXPECT_EQ(store.GetPassword("Password"), nullptr);
    EXPECT_STREQ(store.GetValue("Pass"), "0123456789ABCDEF");
}

struct HexCase {
    const char* hex;
    std::vector<uint8_t> bytes;  // what is written; the rest of the buffer stays untouched
};

const HexCase kHexCases[] = {
    {"A9F4ED983A43125D", {0xA9, 0xF4, 0xED, 0x98, 0x3A, 0x43, 0x12, 0x5D}},
    {"a9f4ed983a43125d", {0xA9, 0xF4, 0xED, 0x98, 0x3A, 0x43, 0x12, 0x5D}},
    {"0123456789ABCDE", {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0x0E}},  // 15 digits
    {"G1zz", {0x00, 0x00}},  // a pair without a number is 0
    {"1G2", {0x01, 0x02}},   // digits up to the first other character
    // Hand-edited values read as sscanf "%2x" reads them: a sign, blanks skipped first
    // (then the two characters after them count, even past the pair).
    {"-1+A", {0xFF, 0x0A}},
    {"-F\f1A", {0xF1, 0x1A, 0x0A}},
    {"", {}},
};

TEST(PasswordTest, HexToBytesDecodesPairs) {
    for (const HexCase& c : kHexCases) {
        SCOPED_TRACE(c.hex);
        uint8_t out[32];
        std::memset(out, 0xEE, sizeof out);
        SettingsStore::HexToBytes(c.hex, out);
        std::vector<uint8_t> expected = c.bytes;
        expected.resize(sizeof out, 0xEE);
        EXPECT_EQ(std::vector<uint8_t>(out, out + sizeof out), expected);
    }
}

}  // namespace
