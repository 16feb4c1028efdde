// Fuzz target: the record walk over one decrypted POLL_REPLY payload.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/AccountSnapshot.h"
#include "core/Wire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > wire::kMaxPayload) size = wire::kMaxPayload;
    // An exactly sized copy: any read past the payload is a sanitizer report.
    std::unique_ptr<uint8_t[]> payload(new uint8_t[size == 0 ? 1 : size]);
    if (size > 0) std::memcpy(payload.get(), data, size);

    AccountSnapshot s;
    const int applied = ApplyPayloadRecords(payload.get(), size, s);

    // What the walk must keep true whatever the bytes.
    if (applied < 0 || static_cast<size_t>(applied) > size / 2 + 1) std::abort();
    if (s.counters.size() > static_cast<size_t>(applied)) std::abort();
    for (size_t i = 0; i < s.counters.size(); ++i) {
        const TrafficCounter& a = s.counters[i];
        if (a.idLow == 0 && a.idHigh == 0) std::abort();
        for (size_t j = i + 1; j < s.counters.size(); ++j)
            if (a.idLow == s.counters[j].idLow && a.idHigh == s.counters[j].idHigh) std::abort();
        bool ended = false;  // a name holds no byte after a zero byte
        for (char c : a.name) {
            if (ended && c != 0) std::abort();
            ended = ended || c == 0;
        }
    }
    if (s.counters.size() > 0 && !s.countersChanged) std::abort();
    return 0;
}
