// The accounts file of brin-server: what it reads, what it refuses and why.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/UdpSocket.h"
#include "server/Accounts.h"
#include "tests/e2e/E2eSupport.h"

namespace {

TEST(AccountsFileTest, ReadsEveryKey) {
    const std::string text =
        "\xEF\xBB\xBF# accounts\r\n"
        "; another comment\r\n"
        "[ абонент ]\r\n"
        "password = пароль 1\r\n"
        "address = 10.0.0.5\r\n"
        "balance = -2147483.648\r\n"
        "remaining = 5368709120\r\n"
        "counter 4294967301 = 1572864 Городской трафик\r\n"
        "counter 7=0\r\n"
        "message 1236420309 = Привет = мир # not a comment\r\n"
        "message = second\r\n"
        "\r\n"
        "[guest]\n"
        "balance = 0.5\n";
    std::vector<Account> accounts;
    std::string error;
    ASSERT_TRUE(ParseAccounts(text, &accounts, &error)) << error;
    ASSERT_EQ(accounts.size(), 2u);

    const Account& a = accounts[0];
    EXPECT_EQ(a.login, Cp1251Bytes("абонент"));
    EXPECT_EQ(a.password, Cp1251Bytes("пароль 1"));
    EXPECT_TRUE(a.bound);
    EXPECT_EQ(a.address, ParseIPv4("10.0.0.5"));
    EXPECT_EQ(a.balance, INT32_MIN);
    EXPECT_EQ(a.remainingBytes, 5368709120);
    ASSERT_EQ(a.counters.size(), 2u);
    EXPECT_EQ(a.counters[0].id, 4294967301u);
    EXPECT_EQ(a.counters[0].bytes, 1572864);
    EXPECT_EQ(a.counters[0].name, Cp1251Bytes("Городской трафик"));  // 16 bytes exactly
    EXPECT_EQ(a.counters[1].id, 7u);
    EXPECT_EQ(a.counters[1].name, "");
    ASSERT_EQ(a.messages.size(), 2u);
    EXPECT_TRUE(a.messages[0].hasTime);
    EXPECT_EQ(a.messages[0].time, 1236420309);
    EXPECT_EQ(a.messages[0].text, Cp1251Bytes("Привет = мир # not a comment"));
    EXPECT_FALSE(a.messages[1].hasTime);

    const Account& g = accounts[1];
    EXPECT_EQ(g.login, "guest");
    EXPECT_EQ(g.password, "");
    EXPECT_FALSE(g.bound);
    EXPECT_EQ(g.balance, 500);
}

TEST(AccountsFileTest, RefusesBadLinesNamingThem) {
    struct Case {
        std::string text;
        const char* error;
    } cases[] = {
        {"password = x\n", "line 1: 'password' before the first [login] section"},
        {"[a]\nflavour = x\n", "line 2: unknown key 'flavour'"},
        {"[a]\nno equals sign\n", "line 2: expected [login] or key = value"},
        {"[a\n", "line 1: a section line must end with ]"},
        {"[абвгдеёжзийклмноп]\n", "line 1: login is longer than 16"},
        {"[日本]\n", "line 1: login is not UTF-8 text that Windows-1251 can hold"},
        {"[a]\npassword = 123456789\n", "line 2: password is longer than 8"},
        {"[a]\naddress = 10.0.0.256\n", "line 2: address is not a dotted IPv4 address"},
        {"[a]\nbalance = 2147483.648\n", "line 2: balance must be"},
        {"[a]\nbalance = 1.2345\n", "line 2: balance must be"},
        {"[a]\nbalance = 1.\n", "line 2: balance must be"},
        {"[a]\nremaining = 9223372036854775808\n",
         "line 2: remaining is too large (from 0 to 9223372036854775807)"},
        {"[a]\nremaining = -5\n", "line 2: remaining cannot be negative"},
        {"[a]\nremaining = lots\n", "line 2: remaining must be a number of bytes"},
        {"[a]\ncounter 3 = -1 Город\n", "line 2: counter 3: the byte count cannot be negative"},
        {"[a]\ncounter 3 = 9223372036854775808\n",
         "line 2: counter 3: the byte count is too large"},
        {std::string("\xFF\xFE[\0a\0]\0", 8), "line 1: the file is UTF-16 text; save it as UTF-8"},
        {std::string("\xFE\xFF\0[\0a\0]", 8), "line 1: the file is UTF-16 text"},
        {std::string("[\0a\0]\0", 6), "line 1: the file is UTF-16 text"},
        {"[a]\ncounter 0 = 5\n", "line 2: counter needs an identifier from 1 up"},
        {"[a]\ncounter 18446744073709551616 = 5\n", "line 2: counter needs an identifier"},
        {"[a]\ncounter 3 = lots\n", "line 2: counter value must start with a byte count"},
        {"[a]\ncounter 3 = 1 seventeen-bytes-xx\n", "line 2: counter name is longer than 16"},
        {"[a]\ncounter 3 = 1\ncounter 3 = 2\n", "line 3: counter 3 is given twice"},
        {"[a]\nmessage 1e9 = x\n", "line 2: message time must be"},
        {"[a]\nmessage = " + std::string(248, 'x') + "\n", "line 2: message is longer than 247"},
        {"[a]\npassword 2 = x\n", "line 2: 'password' takes no argument"},
        {std::string("[a]\npassword = a\0b\n", 18), "line 2: holds a zero byte"},
        {"# nothing\n", "no [login] section"},
        {"[a]\n[a]\n", "account 'a' is given twice"},
        {"[a]\n[b]\n", "accounts 'a' and 'b' both lack an address"},
        {"[a]\naddress = 10.0.0.1\n[b]\naddress = 10.0.0.1\n",
         "account 'b': another account has the same address"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<Account> accounts;
        std::string error;
        EXPECT_FALSE(ParseAccounts(c.text, &accounts, &error));
        EXPECT_EQ(error.find(c.error), 0u) << error;
    }
}

// The reply carries byte counts as signed 64-bit fields: 0 to 2^63-1 go through whole.
TEST(AccountsFileTest, ByteCountsRunFromZeroToTheLargestTheReplyCarries) {
    std::vector<Account> accounts;
    std::string error;
    ASSERT_TRUE(ParseAccounts("[a]\nremaining = 9223372036854775807\ncounter 1 = 0\n"
                              "counter 2 = 9223372036854775807 x\n",
                              &accounts, &error))
        << error;
    EXPECT_EQ(accounts[0].remainingBytes, INT64_MAX);
    EXPECT_EQ(accounts[0].counters[0].bytes, 0);
    EXPECT_EQ(accounts[0].counters[1].bytes, INT64_MAX);
}

TEST(AccountsFileTest, HoldsAtMostTheCountersOneReplyCarries) {
    std::string text = "[a]\n";
    for (size_t i = 1; i <= kMaxCounters; ++i)
        text +=
            "counter " + std::to_string(i) + " = 1 sixteen-bytes-" + std::to_string(i % 10) + "\n";
    std::vector<Account> accounts;
    std::string error;
    ASSERT_TRUE(ParseAccounts(text, &accounts, &error)) << error;
    EXPECT_EQ(accounts[0].counters.size(), kMaxCounters);
    text += "counter 1000 = 1\n";
    EXPECT_FALSE(ParseAccounts(text, &accounts, &error));
    EXPECT_NE(error.find("do not fit in one poll reply"), std::string::npos) << error;
}

TEST(AccountsFileTest, DamagedFilesAreRefusedOrKeptWithinTheLimits) {
    const std::string good =
        "[абонент]\npassword = пароль\naddress = 10.0.0.5\nbalance = -12.345\n"
        "counter 7 = 1572864 Город\nmessage 5 = Привет\n[b]\nremaining = 99\n";
    std::mt19937 rng(11);
    for (int i = 0; i < 3000; ++i) {
        std::string text = good;
        for (int k = 1 + static_cast<int>(rng() % 4); k > 0; --k) {
            const size_t at = rng() % text.size();
            switch (rng() % 3) {
                case 0:
                    text[at] = static_cast<char>(rng());
                    break;
                case 1:
                    text.erase(at, 1 + rng() % 8);
                    break;
                default:
                    text.insert(at, std::string(1 + rng() % 40, "x=[] 9\n#-."[rng() % 11]));
                    break;
            }
            if (text.empty()) text = "[";
        }
        std::vector<Account> accounts;
        std::string error;
        if (!ParseAccounts(text, &accounts, &error)) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_TRUE(CheckAccountSet(accounts).empty());
        for (const Account& a : accounts) {
            EXPECT_LE(a.login.size(), kLoginLimit);
            EXPECT_LE(a.password.size(), kPasswordLimit);
            EXPECT_LE(a.counters.size(), kMaxCounters);
            for (const ServerCounter& c : a.counters) {
                EXPECT_NE(c.id, 0u);
                EXPECT_LE(c.name.size(), kMaxCounterNameBytes);
            }
            for (const ServerMessage& m : a.messages) EXPECT_LE(m.text.size(), kMaxMessageBytes);
        }
    }
}

}  // namespace
