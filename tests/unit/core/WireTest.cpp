// The login field, the echo rule and the payload builder the reference server uses.
#include <gtest/gtest.h>

#include <cstring>

#include "core/AccountSnapshot.h"
#include "core/Wire.h"
#include "tests/unit/core/Hex.h"

using namespace wire;

TEST(Wire, LoginFieldIsTheLoginThenZeros) {
    const struct {
        const char* login;
        const char* field;
    } cases[] = {
        {"", "00000000000000000000000000000000"},
        {"user", "75736572000000000000000000000000"},
        {"abcdefghijklmnop", "6162636465666768696a6b6c6d6e6f70"},  // 16 characters, no terminator
    };
    for (const auto& c : cases) {
        uint8_t field[kLoginFieldSize + 1];
        std::memset(field, 0xEE, sizeof field);
        WriteLoginField(field, c.login);
        EXPECT_EQ(ToHex(field, kLoginFieldSize), c.field) << c.login;
        EXPECT_EQ(field[kLoginFieldSize], 0xEE);
    }
}

TEST(Wire, EchoMatchesUpToAndIncludingTheFirstZeroByte) {
    const struct {
        const char* own;
        const char* echo;  // 32 hex digits
        bool matches;
    } cases[] = {
        {"user", "75736572000000000000000000000000", true},
        {"user", "7573657200ffffffffffffffffffffff", true},   // after the zero: not compared
        {"user", "757365720a0000000000000000000000", false},  // the zero itself is compared
        {"user", "75736578000000000000000000000000", false},
        {"", "00ffffffffffffffffffffffffffffff", true},
        {"", "41000000000000000000000000000000", false},
        {"abcdefghijklmnop", "6162636465666768696a6b6c6d6e6f70", true},
        {"abcdefghijklmnop", "6162636465666768696a6b6c6d6e6f71", false},  // all 16 count
    };
    for (const auto& c : cases) {
        uint8_t own[kLoginFieldSize];
        WriteLoginField(own, c.own);
        EXPECT_EQ(LoginEchoMatches(FromHex(c.echo).data(), own), c.matches)
            << c.own << " " << c.echo;
    }
}

TEST(Wire, BuilderFramesRecordsAndPadsToWholeBlocks) {
    PayloadBuilder b;
    EXPECT_EQ(b.Size(), 8u);  // the zero byte alone, padded
    ASSERT_TRUE(b.AddBalance(-1000));
    EXPECT_EQ(ToHex(b.Data(), 8), "010418fcffff0000");
    ASSERT_TRUE(b.AddCounterValue(0x0000000200000001ull, 1048576));
    ASSERT_TRUE(b.AddCounterName(0x0000000200000001ull, "Internet"));
    ASSERT_TRUE(b.AddMessage(1700000000, "hi"));
    // 6 + 18 + 26 + (2 + 4 + 3) bytes of records, then the zero byte: 60 -> 64
    EXPECT_EQ(b.Used(), 59u);
    EXPECT_EQ(b.Size(), 64u);
    EXPECT_EQ(ToHex(b.Data() + 6, 18), "021001000000020000000000100000000000");
    EXPECT_EQ(b.Data()[b.Used()], 0);
    EXPECT_FALSE(b.AddRecord(kRecEnd, nullptr, 0));
    uint8_t big[256] = {};
    EXPECT_FALSE(b.AddRecord(9, big, 256));

    AccountSnapshot s;
    EXPECT_EQ(ApplyPayloadRecords(b.Data(), b.Size(), s), 4);
    EXPECT_EQ(s.balance, -1000);
    ASSERT_EQ(s.counters.size(), 1u);
    EXPECT_EQ(s.counters[0].idHigh, 2u);
    EXPECT_EQ(s.counters[0].byteCount, 1048576);
    EXPECT_STREQ(s.counters[0].name, "Internet");
    EXPECT_EQ(s.messageTime, 1700000000);
    EXPECT_STREQ(s.messageText, "hi");
}

TEST(Wire, BuilderStopsWhereAPollReplyIsFull) {
    PayloadBuilder b;
    int accepted = 0;
    while (b.AddCounterValue(static_cast<uint64_t>(accepted) + 1, accepted)) ++accepted;
    EXPECT_EQ(accepted, 111);  // 111 * 18 + 1 = 1999 <= 2016 < 112 * 18 + 1
    EXPECT_LE(b.Size(), kMaxPayload);
    const uint8_t filler[9] = {};
    EXPECT_TRUE(b.AddBalance(5));            // 1998 + 6 + 1 still fits
    EXPECT_TRUE(b.AddRecord(9, filler, 9));  // 2004 + 11 + 1 = 2016 exactly
    EXPECT_FALSE(b.AddRecord(9, filler, 0));
    EXPECT_EQ(b.Size(), kMaxPayload);

    AccountSnapshot s;
    EXPECT_EQ(ApplyPayloadRecords(b.Data(), b.Size(), s), accepted + 1);
    EXPECT_EQ(s.counters.size(), static_cast<size_t>(accepted));
    EXPECT_EQ(s.balance, 5);
}

TEST(Wire, MessageRecordCarriesItsTerminatorUnlessTheTextFillsTheField) {
    const struct {
        size_t textLength;
        size_t recordValue;
    } cases[] = {{0, 5}, {247, 252}, {248, 252}, {300, 252}};
    for (const auto& c : cases) {
        std::string text(c.textLength, 'x');
        PayloadBuilder b;
        ASSERT_TRUE(b.AddMessage(7, text.c_str()));
        EXPECT_EQ(b.Data()[1], c.recordValue) << c.textLength;
        AccountSnapshot s;
        ApplyPayloadRecords(b.Data(), b.Size(), s);
        EXPECT_EQ(std::string(s.messageText, strnlen(s.messageText, 248)),
                  text.substr(0, kMessageTextSize));
    }
}
