// Block ciphers and Diffie-Hellman key agreement of the session protocol.
#pragma once

#include <cstddef>
#include <cstdint>

// Single DES, ECB, in place over `blocks` 8-byte blocks. encrypt != 0 encrypts.
// A block count of 0 or less leaves the buffer alone. Always returns 0.
int DesEcbBlocks(uint8_t* data, int blocks, const uint8_t key[8], int encrypt);

// Two-key triple DES (EDE, K3 = K1), ECB, in place. Always returns 0.
int TripleDesEcbBlocks(uint8_t* data, int blocks, const uint8_t key1[8], const uint8_t key2[8],
                       int encrypt);

// key[j] = secret[j] + secret[j + 8] (mod 256), j = 0..7.
void FoldSessionKey(const uint8_t secret[16], uint8_t key[8]);

// The first 8 bytes of the password, zero-padded.
void MakePasswordKey(const char* password, uint8_t key[8]);

constexpr int kDhSize = 56;  // bytes of the 448-bit prime
extern const uint8_t kDhPrime[kDhSize];
constexpr uint8_t kDhGenerator = 5;

// A Diffie-Hellman key pair over the protocol's fixed prime and g = 5.
// The private value is 447 random bits with the top bit set.
class DhKeyPair {
public:
    DhKeyPair();  // generates the pair
    ~DhKeyPair();
    DhKeyPair(const DhKeyPair&) = delete;
    DhKeyPair& operator=(const DhKeyPair&) = delete;

    // The public value as a 56-byte big-endian number, zero bytes in front.
    void WritePublic(uint8_t field[kDhSize]) const;

    // peer^x mod p. `secret` (kDhSize bytes) is zero-filled, then receives the
    // secret left-aligned without leading zero bytes. Returns the secret's length,
    // or -1 when the peer value is unusable (0, 1, p-1 or not below p); the
    // buffer then stays all zero.
    int ComputeSecret(const uint8_t peerPublic[kDhSize], uint8_t secret[kDhSize]) const;

private:
    friend class DhKeyPairSeam;  // the tests' known private values (TestSeams.h)
    struct Impl;
    Impl* impl_;
};
