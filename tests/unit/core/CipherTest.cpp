// Known answers for the DES helpers, the key fold and the key agreement.
#include <gtest/gtest.h>

#include <cstring>

#include "core/Cipher.h"
#include "core/TestSeams.h"
#include "tests/unit/core/DhVectors.h"
#include "tests/unit/core/Hex.h"

namespace {

const char kNowIsTheTime[] =
    "4e6f77206973207468652074696d6520666f7220616c6c20";  // "Now is the time for all "

struct DesVector {
    const char* key;
    const char* plain;
    const char* cipher;
};

// Published vectors (the first block of row 1 and row 2 are the classic textbook
// ones); every row also reproduced with
//   printf ... | openssl enc -des-ecb -K <key> -nopad -provider legacy -provider default
const DesVector kDesVectors[] = {
    // openssl enc -des-ecb -K 0123456789abcdef -nopad ... ("Now is t" -> 3fa40e8a984d4815)
    {"0123456789abcdef", kNowIsTheTime, "3fa40e8a984d48156a271787ab8883f9893d51ec4b563b53"},
    // openssl enc -des-ecb -K 133457799bbcdff1 -nopad ...
    {"133457799bbcdff1", "0123456789abcdef", "85e813540f0ab405"},
    // The parity bits are ignored: openssl enc -des-ecb -K 0022446688aaccee -nopad ...
    {"0022446688aaccee", kNowIsTheTime, "3fa40e8a984d48156a271787ab8883f9893d51ec4b563b53"},
    // A password key ("pass", zero-padded): openssl enc -des-ecb -K 7061737300000000 -nopad ...
    {"7061737300000000", kNowIsTheTime, "6242aff7209db0c87cf92afae9ce9e5cb40d97136005d0a9"},
};

struct TripleDesVector {
    const char* key1;
    const char* key2;
    const char* plain;
    const char* cipher;
};

// Two-key EDE, K3 = K1: openssl enc -des-ede -K <key1><key2> -nopad
const TripleDesVector kTripleDesVectors[] = {
    // openssl enc -des-ede -K 0123456789abcdeffedcba9876543210 -nopad
    {"0123456789abcdef", "fedcba9876543210", kNowIsTheTime,
     "d80a0d8b2bae5e4e6a0094171abcfc2775d2235a706e232c"},
    // A password key and an all-zero session key:
    // openssl enc -des-ede -K 70617373776f72640000000000000000 -nopad
    {"70617373776f7264", "0000000000000000", kNowIsTheTime,
     "4d36a26b0c4dc61f17c951c611e5123e471c0fb54564a7be"},
    // openssl enc -des-ede -K 0022446688aacceefedcba9876543210 -nopad
    {"0022446688aaccee", "fedcba9876543210", kNowIsTheTime,
     "d80a0d8b2bae5e4e6a0094171abcfc2775d2235a706e232c"},
};

// Runs one cipher both ways in a buffer with guard bytes after the blocks.
template <typename Fn>
void CheckBothWays(const std::vector<uint8_t>& plain, const std::vector<uint8_t>& cipher, Fn run) {
    const int blocks = static_cast<int>(plain.size() / 8);
    std::vector<uint8_t> buf = plain;
    buf.insert(buf.end(), {0xA5, 0x5A, 0xA5});
    EXPECT_EQ(run(buf.data(), blocks, 1), 0);
    EXPECT_EQ(ToHex(buf.data(), plain.size()), ToHex(cipher.data(), cipher.size()));
    EXPECT_EQ(ToHex(buf.data() + plain.size(), 3), "a55aa5");
    EXPECT_EQ(run(buf.data(), blocks, 0), 0);
    EXPECT_EQ(ToHex(buf.data(), plain.size()), ToHex(plain.data(), plain.size()));
}

}  // namespace

TEST(Cipher, DesKnownAnswers) {
    for (const DesVector& v : kDesVectors) {
        SCOPED_TRACE(v.key);
        const std::vector<uint8_t> key = FromHex(v.key);
        CheckBothWays(FromHex(v.plain), FromHex(v.cipher), [&](uint8_t* d, int n, int enc) {
            return DesEcbBlocks(d, n, key.data(), enc);
        });
    }
}

TEST(Cipher, TripleDesKnownAnswers) {
    for (const TripleDesVector& v : kTripleDesVectors) {
        SCOPED_TRACE(std::string(v.key1) + "/" + v.key2);
        const std::vector<uint8_t> k1 = FromHex(v.key1), k2 = FromHex(v.key2);
        CheckBothWays(FromHex(v.plain), FromHex(v.cipher), [&](uint8_t* d, int n, int enc) {
            return TripleDesEcbBlocks(d, n, k1.data(), k2.data(), enc);
        });
    }
}

TEST(Cipher, NoWholeBlockLeavesTheBufferAlone) {
    const uint8_t key[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (int blocks : {0, -1}) {
        uint8_t buf[8] = {9, 9, 9, 9, 9, 9, 9, 9};
        EXPECT_EQ(DesEcbBlocks(buf, blocks, key, 1), 0);
        EXPECT_EQ(TripleDesEcbBlocks(buf, blocks, key, key, 1), 0);
        EXPECT_EQ(ToHex(buf, 8), "0909090909090909");
    }
}

TEST(Cipher, PasswordKeyIsTheFirstEightBytesZeroPadded) {
    const struct {
        const char* password;
        const char* key;
    } cases[] = {
        {"", "0000000000000000"}, {"abc", "6162630000000000"}, {"12345678", "3132333435363738"}};
    for (const auto& c : cases) {
        uint8_t key[8];
        std::memset(key, 0xEE, sizeof key);
        MakePasswordKey(c.password, key);
        EXPECT_EQ(ToHex(key, 8), c.key) << c.password;
    }
}

TEST(Cipher, FoldAddsTheTwoHalvesBytewiseWithoutCarry) {
    const struct {
        const char* secret16;
        const char* key;
    } cases[] = {
        {"0102030405060708090a0b0c0d0e0f10", "0a0c0e1012141618"},
        // ff + 01 wraps to 00 and carries nothing into the next byte
        {"ffffffffffffffff0100000000000000", "00ffffffffffffff"},
        // the first 16 bytes of the agreed secret below
        {"11c7d5f066e2b4264c012b6f4f4a8c4e", "5dc8005fb52c4074"},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> s = FromHex(c.secret16);
        uint8_t key[8];
        FoldSessionKey(s.data(), key);
        EXPECT_EQ(ToHex(key, 8), c.key) << c.secret16;
    }
}

TEST(KeyAgreement, MatchesAnIndependentComputation) {
    DhKeyPair pair;
    std::vector<uint8_t> priv = FromHex(dh::kPrivate);
    DhKeyPairSeam::SetPrivate(pair, priv.data(), priv.size());
    uint8_t field[kDhSize];
    pair.WritePublic(field);
    EXPECT_EQ(ToHex(field, kDhSize), dh::kPublic);

    uint8_t secret[kDhSize];
    EXPECT_EQ(pair.ComputeSecret(FromHex(dh::kPeerPublic).data(), secret), 56);
    EXPECT_EQ(ToHex(secret, kDhSize), dh::kSecret);
}

TEST(KeyAgreement, LeadingZeroBytesStayInThePublicFieldAndLeaveTheSecret) {
    DhKeyPair pair;
    std::vector<uint8_t> priv = FromHex(dh::kLeadingZeroPrivate);
    DhKeyPairSeam::SetPrivate(pair, priv.data(), priv.size());
    uint8_t field[kDhSize];
    std::memset(field, 0xEE, sizeof field);
    pair.WritePublic(field);
    EXPECT_EQ(ToHex(field, kDhSize), dh::kLeadingZeroPublic);  // right-aligned, 00 in front

    priv = FromHex(dh::kPrivate);
    DhKeyPairSeam::SetPrivate(pair, priv.data(), priv.size());
    uint8_t secret[kDhSize];
    std::memset(secret, 0xEE, sizeof secret);
    EXPECT_EQ(pair.ComputeSecret(FromHex(dh::kShortSecretPeer).data(), secret), 55);
    EXPECT_EQ(ToHex(secret, 55), dh::kShortSecret);  // left-aligned
    EXPECT_EQ(secret[55], 0);                        // the zero fill at the end
}

TEST(KeyAgreement, UnusablePeerValuesGiveAnAllZeroSecret) {
    std::vector<uint8_t> p(kDhPrime, kDhPrime + kDhSize);
    std::vector<uint8_t> pMinus1 = p;
    pMinus1.back() -= 1;  // p is odd
    std::vector<uint8_t> zero(kDhSize, 0), one(kDhSize, 0), allOnes(kDhSize, 0xFF);
    one.back() = 1;
    DhKeyPair pair;
    for (const auto& peer : {zero, one, pMinus1, p, allOnes}) {
        uint8_t secret[kDhSize];
        std::memset(secret, 0xEE, sizeof secret);
        EXPECT_EQ(pair.ComputeSecret(peer.data(), secret), -1) << ToHex(peer.data(), 4);
        EXPECT_EQ(ToHex(secret, kDhSize), std::string(2 * kDhSize, '0'));
    }
}

TEST(KeyAgreement, GeneratedPairsAgree) {
    DhKeyPair a, b;
    uint8_t pa[kDhSize], pb[kDhSize], sa[kDhSize], sb[kDhSize];
    a.WritePublic(pa);
    b.WritePublic(pb);
    EXPECT_NE(ToHex(pa, kDhSize), ToHex(pb, kDhSize));
    const int la = a.ComputeSecret(pb, sa);
    EXPECT_GE(la, 40);
    EXPECT_EQ(la, b.ComputeSecret(pa, sb));
    EXPECT_EQ(ToHex(sa, kDhSize), ToHex(sb, kDhSize));
}
