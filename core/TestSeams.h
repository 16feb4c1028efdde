// What only the tests and the benchmarks reach inside core, defined beside what it reaches: a key
// pair's private value fixed for known answers, file writes made to fail part way, and the bare
// modular exponentiation the benchmarks hold the key agreement against. Core's production headers
// declare none of it; the client, the window and the server never include this header.
#pragma once

#include <cstddef>
#include <cstdint>

class DhKeyPair;

// Replaces the private value of `pair` (big-endian bytes) and recomputes its public value.
class DhKeyPairSeam {
public:
    static void SetPrivate(DhKeyPair& pair, const uint8_t* priv, size_t length);
};

// Makes the next write fail after `bytesBeforeFailure` bytes (-1 turns it off). The failure is
// used up by that one call of ReplaceFileAtomically.
void InjectAtomicWriteFailure(long bytesBeforeFailure);

// Makes the next append fail after `bytesBeforeFailure` bytes (-1 turns it off).
void InjectAppendFailure(long bytesBeforeFailure);

// For the platform halves of the file writers: the injected failure, or -1; taking it clears it.
long TakeInjectedAtomicWriteFailure();
long TakeInjectedAppendFailure();

// Benchmark floor for processing a KEY_REPLY: one bare constant-time modular exponentiation
// modulo the protocol's prime with a 447-bit exponent; operands, work space and the Montgomery
// context are prepared beforehand, so Run() does nothing else.
class BareModExp {
public:
    BareModExp();
    ~BareModExp();
    BareModExp(const BareModExp&) = delete;
    BareModExp& operator=(const BareModExp&) = delete;
    void Run();

private:
    struct Impl;
    Impl* impl_;
};
