// Fuzz target: usage.csv as read back, damaged or not. Every line taken is one UsageLine writes
// back the same, the records come in time order, and the daily table and the forecast over them
// hold their bounds.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/UsageForecast.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::vector<UsageRecord> records = ParseUsageFile(bytes);
    for (size_t i = 0; i < records.size(); ++i) {
        if (i > 0) Check(records[i - 1].time <= records[i].time);
        UsageRecord again;
        Check(ParseUsageLine(UsageLine(records[i]), &again));
        Check(again.time == records[i].time && again.balance == records[i].balance &&
              again.remainingBytes == records[i].remainingBytes);
    }
    // "Now" from the input's own last line when there is one, else a fixed moment.
    const int64_t now = records.empty() ? 1796083200 : records.back().time;
    const std::vector<UsageDay> days = UsageDays(records, now, 30);
    Check(days.size() == 30);
    for (const UsageDay& d : days) Check(d.spent >= 0 && d.usedBytes >= 0);
    const Forecast f = MakeForecast(records, now);
    Check(f.perDay >= 0);
    if (f.kind == Forecast::Lasts) Check(f.until.Iso().size() >= 10);
    return 0;
}
