// DES helpers and key agreement on OpenSSL libcrypto.
//
// The DES calls are deprecated in OpenSSL 3 but still correct; the deprecation
// warnings are silenced for this file only. OpenSSL 3's DH layer refuses any
// prime under 512 bits, so the agreement runs on the big-number layer.
#define OPENSSL_SUPPRESS_DEPRECATED 1

#include "core/Cipher.h"

#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/des.h>

#include <cstring>

#include "core/TestSeams.h"

const uint8_t kDhPrime[kDhSize] = {
    0xca, 0x9c, 0x3c, 0xb3, 0xe2, 0x39, 0x84, 0x50, 0x76, 0xac, 0xc3, 0x96, 0x36, 0x34,
    0xa0, 0x2f, 0x1a, 0x50, 0x03, 0x20, 0x9b, 0x29, 0xb1, 0xbf, 0x31, 0x7e, 0x18, 0xa0,
    0xd2, 0x44, 0x0a, 0x63, 0x08, 0x25, 0xc0, 0xc3, 0xe3, 0xf7, 0x22, 0x58, 0x59, 0x62,
    0x91, 0x17, 0xc7, 0xdf, 0x28, 0x99, 0x49, 0x3c, 0x7c, 0x49, 0xb1, 0x0f, 0x89, 0x37};

int DesEcbBlocks(uint8_t* data, int blocks, const uint8_t key[8], int encrypt) {
    if (blocks <= 0) return 0;
    DES_cblock k;
    std::memcpy(k, key, 8);
    DES_key_schedule schedule;
    DES_set_key_unchecked(&k, &schedule);
    for (int i = 0; i < blocks; ++i) {
        DES_cblock in, out;
        std::memcpy(in, data + 8 * i, 8);
        DES_ecb_encrypt(&in, &out, &schedule, encrypt ? DES_ENCRYPT : DES_DECRYPT);
        std::memcpy(data + 8 * i, out, 8);
    }
    // The key is the password's own bytes when the handshake uses it: no copy outlives the call.
    OPENSSL_cleanse(k, sizeof k);
    OPENSSL_cleanse(&schedule, sizeof schedule);
    return 0;
}

int TripleDesEcbBlocks(uint8_t* data, int blocks, const uint8_t key1[8], const uint8_t key2[8],
                       int encrypt) {
    if (blocks <= 0) return 0;
    DES_cblock k1, k2;
    std::memcpy(k1, key1, 8);
    std::memcpy(k2, key2, 8);
    DES_key_schedule s1, s2;
    DES_set_key_unchecked(&k1, &s1);
    DES_set_key_unchecked(&k2, &s2);
    for (int i = 0; i < blocks; ++i) {
        DES_cblock in, out;
        std::memcpy(in, data + 8 * i, 8);
        DES_ecb3_encrypt(&in, &out, &s1, &s2, &s1, encrypt ? DES_ENCRYPT : DES_DECRYPT);
        std::memcpy(data + 8 * i, out, 8);
    }
    OPENSSL_cleanse(k1, sizeof k1);
    OPENSSL_cleanse(k2, sizeof k2);
    OPENSSL_cleanse(&s1, sizeof s1);
    OPENSSL_cleanse(&s2, sizeof s2);
    return 0;
}

void FoldSessionKey(const uint8_t secret[16], uint8_t key[8]) {
    for (int j = 0; j < 8; ++j) key[j] = static_cast<uint8_t>(secret[j] + secret[j + 8]);
}

void MakePasswordKey(const char* password, uint8_t key[8]) {
    std::memset(key, 0, 8);
    for (int i = 0; i < 8 && password[i] != '\0'; ++i) key[i] = static_cast<uint8_t>(password[i]);
}

namespace {

struct BnCtx {
    BN_CTX* ctx = BN_CTX_new();
    ~BnCtx() { BN_CTX_free(ctx); }
};

// p and a Montgomery context for it, built once per process.
struct PrimeContext {
    BIGNUM* p = BN_bin2bn(kDhPrime, kDhSize, nullptr);
    BIGNUM* g = BN_new();
    BIGNUM* pMinus1 = BN_new();
    BN_MONT_CTX* mont = BN_MONT_CTX_new();
    PrimeContext() {
        BN_set_word(g, kDhGenerator);
        BN_copy(pMinus1, p);
        BN_sub_word(pMinus1, 1);
        BnCtx c;
        BN_MONT_CTX_set(mont, p, c.ctx);
    }
    ~PrimeContext() {
        BN_MONT_CTX_free(mont);
        BN_free(pMinus1);
        BN_free(g);
        BN_free(p);
    }
};

const PrimeContext& Prime() {
    static const PrimeContext prime;
    return prime;
}

}  // namespace

struct DhKeyPair::Impl {
    BIGNUM* priv = BN_secure_new();
    BIGNUM* pub = BN_new();
    ~Impl() {
        BN_clear_free(priv);
        BN_free(pub);
    }
    void ComputePublic() {
        const PrimeContext& pc = Prime();
        BnCtx c;
        BN_set_flags(priv, BN_FLG_CONSTTIME);
        BN_mod_exp_mont_consttime(pub, pc.g, priv, pc.p, c.ctx, pc.mont);
    }
};

DhKeyPair::DhKeyPair() : impl_(new Impl) {
    // bits(p) - 1 random bits with the top one set, as the DH layer would choose.
    const int bits = BN_num_bits(Prime().p) - 1;
    BN_priv_rand(impl_->priv, bits, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ANY);
    impl_->ComputePublic();
}

DhKeyPair::~DhKeyPair() {
    delete impl_;
}

void DhKeyPair::WritePublic(uint8_t field[kDhSize]) const {
    BN_bn2binpad(impl_->pub, field, kDhSize);
}

int DhKeyPair::ComputeSecret(const uint8_t peerPublic[kDhSize], uint8_t secret[kDhSize]) const {
    std::memset(secret, 0, kDhSize);
    const PrimeContext& pc = Prime();
    BIGNUM* peer = BN_bin2bn(peerPublic, kDhSize, nullptr);
    if (peer == nullptr) return -1;
    int length = -1;
    // The same range check the DH layer applies: 1 < peer < p - 1.
    if (!BN_is_zero(peer) && !BN_is_one(peer) && BN_cmp(peer, pc.pMinus1) < 0) {
        BnCtx c;
        BIGNUM* shared = BN_new();
        if (shared != nullptr &&
            BN_mod_exp_mont_consttime(shared, peer, impl_->priv, pc.p, c.ctx, pc.mont) == 1) {
            length = BN_bn2bin(shared, secret);
        }
        BN_clear_free(shared);
    }
    BN_free(peer);
    return length;
}

void DhKeyPairSeam::SetPrivate(DhKeyPair& pair, const uint8_t* priv, size_t length) {
    BN_bin2bn(priv, static_cast<int>(length), pair.impl_->priv);
    pair.impl_->ComputePublic();
}

struct BareModExp::Impl {
    BIGNUM* base = BN_new();
    BIGNUM* exponent = BN_new();
    BIGNUM* result = BN_new();
    BN_CTX* ctx = BN_CTX_new();
    ~Impl() {
        BN_CTX_free(ctx);
        BN_free(result);
        BN_free(exponent);
        BN_free(base);
    }
};

BareModExp::BareModExp() : impl_(new Impl) {
    const PrimeContext& pc = Prime();
    BN_rand_range(impl_->base, pc.p);
    BN_priv_rand(impl_->exponent, BN_num_bits(pc.p) - 1, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ANY);
    BN_set_flags(impl_->exponent, BN_FLG_CONSTTIME);
}

BareModExp::~BareModExp() {
    delete impl_;
}

void BareModExp::Run() {
    const PrimeContext& pc = Prime();
    BN_mod_exp_mont_consttime(impl_->result, impl_->base, impl_->exponent, pc.p, impl_->ctx,
                              pc.mont);
}
