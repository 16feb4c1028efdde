// The record walk over one decrypted POLL_REPLY payload.
#include "core/AccountSnapshot.h"

#include <cstring>

#include "core/Wire.h"

namespace {

uint64_t ReadId(const uint8_t* p) {
    return wire::GetLe(p, 8);
}

TrafficCounter* Find(AccountSnapshot& snapshot, uint64_t id) {
    for (TrafficCounter& c : snapshot.counters)
        if ((static_cast<uint64_t>(c.idHigh) << 32 | c.idLow) == id) return &c;
    return nullptr;
}

TrafficCounter& FindOrAppend(AccountSnapshot& snapshot, uint64_t id) {
    if (TrafficCounter* c = Find(snapshot, id)) return *c;
    TrafficCounter fresh;
    fresh.idLow = static_cast<uint32_t>(id);
    fresh.idHigh = static_cast<uint32_t>(id >> 32);
    snapshot.counters.push_back(fresh);
    return snapshot.counters.back();
}

}  // namespace

int ApplyPayloadRecords(const uint8_t* payload, size_t length, AccountSnapshot& snapshot) {
    using namespace wire;
    int applied = 0;
    size_t pos = 0;
    while (pos < length && payload[pos] != kRecEnd) {
        if (pos + 1 >= length) break;  // no length byte left
        const uint8_t type = payload[pos];
        const size_t next = pos + kRecordHeaderSize + payload[pos + 1];
        const size_t start = pos + kRecordHeaderSize;
        const uint8_t* value = payload + start;
        const size_t room = length - start;  // start <= length here

        switch (type) {
            case kRecBalance:
                if (room < kBalanceValueSize) return applied;
                snapshot.balance = static_cast<int32_t>(static_cast<uint32_t>(GetLe(value, 4)));
                ++applied;
                break;
            case kRecCounterValue: {
                if (room < kCounterValueSize) return applied;
                const uint64_t id = ReadId(value);
                const int64_t count = static_cast<int64_t>(GetLe(value + 8, 8));
                if (id == 0)
                    snapshot.remainingBytes = count;
                else
                    FindOrAppend(snapshot, id).byteCount = count;
                snapshot.countersChanged = 1;
                ++applied;
                break;
            }
            case kRecCounterName: {
                if (room < kCounterNameSize) return applied;
                const uint64_t id = ReadId(value);
                if (id != 0) {
                    TrafficCounter& c = FindOrAppend(snapshot, id);
                    std::memset(c.name, 0, sizeof c.name);
                    for (size_t i = 0; i < kCounterNameTextSize && value[8 + i] != 0; ++i)
                        c.name[i] = static_cast<char>(value[8 + i]);
                }
                snapshot.countersChanged = 1;
                ++applied;
                break;
            }
            case kRecMessage: {
                if (room < 4) return applied;
                snapshot.messageTime = static_cast<int32_t>(static_cast<uint32_t>(GetLe(value, 4)));
                // The text runs to its zero byte, 248 bytes or the payload's end, whichever is
                // first.
                const size_t limit = room - 4 < kMessageTextSize ? room - 4 : kMessageTextSize;
                std::memset(snapshot.messageText, 0, sizeof snapshot.messageText);
                for (size_t i = 0; i < limit && value[4 + i] != 0; ++i)
                    snapshot.messageText[i] = static_cast<char>(value[4 + i]);
                snapshot.messagePending = 1;
                ++applied;
                break;
            }
            default:
                break;  // unknown types are stepped over
        }
        pos = next;
    }
    return applied;
}
