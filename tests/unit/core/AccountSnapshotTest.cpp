// The record walk: what each record does to the snapshot, and where a walk ends.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/AccountSnapshot.h"
#include "core/Wire.h"
#include "tests/unit/core/Hex.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Le(uint64_t v, int n) {
    Bytes b(n);
    wire::PutLe(b.data(), v, n);
    return b;
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes Record(uint8_t type, const Bytes& value) {
    return Bytes{type, static_cast<uint8_t>(value.size())} + value;
}
Bytes Bal(int32_t v) {
    return Record(1, Le(static_cast<uint32_t>(v), 4));
}
Bytes Val(uint64_t id, int64_t count) {
    return Record(2, Le(id, 8) + Le(count, 8));
}
Bytes Name(uint64_t id, std::string name) {
    name.resize(16, '\0');
    return Record(3, Le(id, 8) + Text(name));
}
Bytes Msg(int32_t time, const std::string& text) {
    return Record(4, Le(static_cast<uint32_t>(time), 4) + Text(text) + Bytes{0});
}
const Bytes kEnd{0};
// The record without its last byte.
Bytes Cut(Bytes record) {
    record.pop_back();
    return record;
}

struct Counter {
    uint64_t id;
    std::string name;  // compared as the whole 16-byte field
    int64_t count;
};

struct WalkCase {
    const char* what;
    Bytes payload;
    int applied;
    int32_t balance;
    int64_t remaining;
    std::vector<Counter> counters;
    uint8_t countersChanged;
    uint8_t messagePending;
    int32_t messageTime;
    std::string messageText;  // compared as the whole 248-byte field
};

constexpr int32_t kOldBalance = 77;
constexpr int64_t kOldRemaining = 5;

// clang-format off
std::vector<WalkCase> Cases() {
    const std::string x248(248, 'x');
    return {
        {"a zero type byte first ends the walk at once", kEnd + Bal(5), 0, kOldBalance,
         kOldRemaining, {}, 0, 0, 0, ""},
        {"an empty payload", {}, 0, kOldBalance, kOldRemaining, {}, 0, 0, 0, ""},
        {"counter 0 is the remaining traffic", Val(0, 1048576) + kEnd, 1, kOldBalance, 1048576, {},
         1, 0, 0, ""},
        {"a name for counter 0 only raises the flag", Name(0, "x") + kEnd, 1, kOldBalance,
         kOldRemaining, {}, 1, 0, 0, ""},
        {"a value appends with an empty name; a later name keeps count and place",
         Val(5, 100) + Val(7, 200) + Name(5, "five") + kEnd, 3, kOldBalance, kOldRemaining,
         {{5, "five", 100}, {7, "", 200}}, 1, 0, 0, ""},
        {"a name appends with a count of 0", Name(8, "eight") + kEnd, 1, kOldBalance,
         kOldRemaining, {{8, "eight", 0}}, 1, 0, 0, ""},
        {"a value for a known counter keeps its name and place",
         Name(5, "a") + Name(7, "b") + Val(5, 100) + kEnd, 3, kOldBalance, kOldRemaining,
         {{5, "a", 100}, {7, "b", 0}}, 1, 0, 0, ""},
        {"identifiers that differ in the high half are two counters",
         Val(1, 10) + Val(1ull << 32 | 1, 20) + kEnd, 2, kOldBalance, kOldRemaining,
         {{1, "", 10}, {1ull << 32 | 1, "", 20}}, 1, 0, 0, ""},
        {"names are copied as strings; 16 bytes fill the field",
         Name(1, "abcde") + Name(2, "0123456789abcdef") + Name(3, std::string("ab\0zz", 5)) + kEnd,
         3, kOldBalance, kOldRemaining,
         {{1, "abcde", 0}, {2, "0123456789abcdef", 0}, {3, "ab", 0}}, 1, 0, 0, ""},
        {"balance ff ff ff ff is -1", FromHex("01 04 ff ff ff ff 00"), 1, -1, kOldRemaining, {}, 0,
         0, 0, ""},
        {"balance 18 fc ff ff is -1000", FromHex("01 04 18 fc ff ff 00"), 1, -1000, kOldRemaining,
         {}, 0, 0, 0, ""},
        {"an unknown type is stepped over by its length byte",
         FromHex("07 03 01 04 05") + Bal(9) + kEnd, 1, 9, kOldRemaining, {}, 0, 0, 0, ""},
        {"the length byte, not the value size, finds the next record",
         FromHex("01 08 e8 03 00 00 01 04 02 00") + Val(0, 42) + kEnd, 2, 1000, 42, {}, 1, 0, 0,
         ""},
        {"a length byte shorter than the value takes the bytes that follow",
         FromHex("01 00 05 00 00 00 00"), 1, 5, kOldRemaining, {}, 0, 0, 0, ""},
        {"the second of two messages stays pending", Msg(1, "first") + Msg(2, "second") + kEnd, 2,
         kOldBalance, kOldRemaining, {}, 0, 1, 2, "second"},
        {"a message text runs on past its record to the next zero byte",
         Record(4, Le(1700000000, 4) + Text("ab")) + Bal(0x12345678) + kEnd, 2, 0x12345678,
         kOldRemaining, {}, 0, 1, 1700000000, "ab\x01\x04\x78\x56\x34\x12"},
        {"a 248-byte text fills the field without a terminator",
         Record(4, Le(3, 4) + Text(x248)) + Bal(1) + kEnd, 2, 1, kOldRemaining, {}, 0, 1, 3, x248},
        // The walk never reads past the payload.
        {"a value reaching past the end ends the walk; earlier records stand",
         Bal(1000) + FromHex("02 10 01 00 00 00 00 00 00 00"), 1, 1000, kOldRemaining, {}, 0, 0, 0,
         ""},
        {"a counter name reaching past the end changes nothing",
         FromHex("03 18") + Le(4, 8) + Text("name"), 0, kOldBalance, kOldRemaining, {}, 0, 0, 0,
         ""},
        {"a message text ends at the end of the payload", FromHex("04 fc 0a 00 00 00") + Text("abc"),
         1, kOldBalance, kOldRemaining, {}, 0, 1, 10, "abc"},
        {"a message whose time is cut off changes nothing", FromHex("04 fc 01 02"), 0, kOldBalance,
         kOldRemaining, {}, 0, 0, 0, ""},
        {"whole records without a closing zero byte are all applied", Bal(5) + Val(0, 6), 2, 5, 6,
         {}, 1, 0, 0, ""},
        // A record that ends exactly at the payload's end stands; one byte short, nothing.
        {"a balance one byte short at the end changes nothing", Bal(1000) + Cut(Bal(9)), 1, 1000,
         kOldRemaining, {}, 0, 0, 0, ""},
        {"a counter value one byte short at the end changes nothing", Bal(2) + Cut(Val(0, 6)), 1, 2,
         kOldRemaining, {}, 0, 0, 0, ""},
        {"a counter name in the last 24 bytes is applied", Bal(3) + Name(4, "last"), 2, 3,
         kOldRemaining, {{4, "last", 0}}, 1, 0, 0, ""},
        {"a counter name one byte short at the end changes nothing", Bal(3) + Cut(Name(4, "last")),
         1, 3, kOldRemaining, {}, 0, 0, 0, ""},
        {"a message time in the last four bytes is applied with no text",
         FromHex("04 04 0a 00 00 00"), 1, kOldBalance, kOldRemaining, {}, 0, 1, 10, ""},
        {"a type byte without its length byte ends the walk", Bal(6) + FromHex("01"), 1, 6,
         kOldRemaining, {}, 0, 0, 0, ""},
        {"a length byte reaching past the end ends the walk", FromHex("07 ff") + Bal(8) + kEnd, 0,
         kOldBalance, kOldRemaining, {}, 0, 0, 0, ""},
    };
}
// clang-format on

}  // namespace

TEST(RecordWalk, AppliesEachRecordAndStaysWithinThePayload) {
    for (const WalkCase& c : Cases()) {
        SCOPED_TRACE(c.what);
        AccountSnapshot s;
        s.balance = kOldBalance;
        s.remainingBytes = kOldRemaining;
        const Bytes exact(c.payload);  // exactly sized: a read past the end is a sanitizer report
        EXPECT_EQ(ApplyPayloadRecords(exact.data(), exact.size(), s), c.applied);
        EXPECT_EQ(s.balance, c.balance);
        EXPECT_EQ(s.remainingBytes, c.remaining);
        ASSERT_EQ(s.counters.size(), c.counters.size());
        for (size_t i = 0; i < c.counters.size(); ++i) {
            const TrafficCounter& got = s.counters[i];
            EXPECT_EQ(static_cast<uint64_t>(got.idHigh) << 32 | got.idLow, c.counters[i].id) << i;
            std::string name = c.counters[i].name;
            name.resize(16, '\0');
            EXPECT_EQ(std::string(got.name, 16), name) << i;
            EXPECT_EQ(got.byteCount, c.counters[i].count) << i;
        }
        EXPECT_EQ(s.countersChanged, c.countersChanged);
        EXPECT_EQ(s.messagePending, c.messagePending);
        if (c.messagePending) {
            EXPECT_EQ(s.messageTime, c.messageTime);
            std::string text = c.messageText;
            text.resize(248, '\0');
            EXPECT_EQ(std::string(s.messageText, 248), text);
        }
    }
}
