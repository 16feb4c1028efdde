// The account values a poll reply carries, and the record walk that applies them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct TrafficCounter {
    uint32_t idLow = 0;
    uint32_t idHigh = 0;
    char name[16] = {};  // Windows-1251; a 16-byte name has no terminator
    int64_t byteCount = 0;
};

struct AccountSnapshot {
    int32_t balance = 0;       // thousandths of the currency unit
    int64_t remainingBytes = 0;
    std::vector<TrafficCounter> counters;  // in order of first appearance
    uint8_t countersChanged = 0;
    int32_t messageTime = 0;
    char messageText[248] = {};  // ends at its first zero byte or fills all 248
    uint8_t messagePending = 0;
};

// Walks the records of one decrypted payload of `length` bytes and applies them.
// Never reads past `length`: a record whose fixed-size value would reach past the
// end ends the walk (the records before it stand); a message text that reaches
// the end ends there. Returns the number of records applied.
int ApplyPayloadRecords(const uint8_t* payload, size_t length, AccountSnapshot& snapshot);
