// The Windows-1251 codec against Python's cp1251 table, and what it refuses.
#include <gtest/gtest.h>

#include <cstring>

#include "core/Cp1251.h"
#include "tests/unit/core/Hex.h"

namespace {

// Code points of bytes 0x80..0xFF, 4 hex digits each (0000: unassigned), from
//   ''.join('%04x' % (ord(bytes([b]).decode('cp1251')) if b != 0x98 else 0)
//           for b in range(128, 256))
const char kHighCodePoints[] =
    "04020403201a0453201e20262020202120ac203004092039040a040c040b040f045220182019201c201d2022"
    "20132014000021220459203a045a045c045b045f00a0040e045e040800a4049000a600a7040100a9040400ab"
    "00ac00ad00ae040700b000b104060456049100b500b600b704512116045400bb045804050455045704100411"
    "04120413041404150416041704180419041a041b041c041d041e041f04200421042204230424042504260427"
    "04280429042a042b042c042d042e042f0430043104320433043404350436043704380439043a043b043c043d"
    "043e043f0440044104420443044404450446044704480449044a044b044c044d044e044f";

std::string Utf8Of(char32_t c) {
    std::string s;
    if (c < 0x80) {
        s += static_cast<char>(c);
    } else if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        s += static_cast<char>(0xE0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    }
    return s;
}

}  // namespace

TEST(Cp1251, EveryAssignedByteMapsToItsCharacterAndBack) {
    const std::vector<uint8_t> table = FromHex(kHighCodePoints);
    ASSERT_EQ(table.size(), 256u);
    std::string all, expectedUtf8;
    for (int b = 0; b < 256; ++b) {
        char32_t c =
            b < 0x80
                ? b
                : static_cast<char32_t>(table[2 * (b - 0x80)] << 8 | table[2 * (b - 0x80) + 1]);
        if (b >= 0x80 && c == 0) continue;  // 0x98
        all += static_cast<char>(b);
        expectedUtf8 += Utf8Of(c);
        EXPECT_TRUE(IsCp1251Encodable(c)) << b;
    }
    ASSERT_EQ(all.size(), 255u);
    EXPECT_EQ(Cp1251ToUtf8(all), expectedUtf8);
    std::string back;
    ASSERT_TRUE(Utf8ToCp1251(expectedUtf8, &back));
    EXPECT_EQ(back, all);
}

TEST(Cp1251, TheUnassignedByteShowsAsReplacementAndCannotBeTyped) {
    EXPECT_EQ(Cp1251ToUtf8("\x98"), "\xEF\xBF\xBD");
    EXPECT_FALSE(IsCp1251Encodable(0xFFFD));
}

TEST(Cp1251, RefusesWhatItCannotHoldAndWhatIsNotUtf8) {
    const char* refused[] = {
        "\xE4\xB8\xAD",      // a CJK character
        "\xF0\x9F\x98\x80",  // outside the BMP
        "\xC3\xA9",          // e with acute: Latin-1, not in this code page
        "ok\xC3",            // cut short
        "\xE2\x82",          // cut short
        "\x80",              // continuation without a lead
        "\xD0\x41",          // lead without a continuation
        "\xFF",              // no such lead byte
        "\xC0\xAF",          // overlong '/'
        "\xE0\x81\x81",      // overlong 'A'
        "\xED\xA0\x80",      // a surrogate
        "\xF4\x90\x80\x80",  // past U+10FFFF
    };
    for (const char* text : refused) {
        std::string out;
        EXPECT_FALSE(Utf8ToCp1251(text, &out))
            << ToHex(reinterpret_cast<const uint8_t*>(text), strlen(text));
    }
    std::string out;
    ASSERT_TRUE(
        Utf8ToCp1251("\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xE2\x84\x96"
                     "1",
                     &out));
    EXPECT_EQ(out,
              "\xCF\xF0\xE8\xE2\xE5\xF2 \xB9"
              "1");  // "Привет №1"
}
