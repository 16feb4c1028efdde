// The display formats of the window, shared with brin-cli.
#include "core/DisplayFormat.h"

#include <cstdio>
#include <cstring>

std::string FormatMoney(int32_t balance) {
    const int32_t q = balance / 1000;
    const int32_t r = balance - q * 1000;
    // Negating q and r is safe: |q| < 2^31 / 1000 and |r| < 1000.
    char text[32];
    std::snprintf(text, sizeof text, balance < 0 ? "-%d.%03d" : "%d.%03d", q < 0 ? -q : q,
                  r < 0 ? -r : r);
    return text;
}

std::string FormatMegabytes(int64_t bytes) {
    char text[48];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(bytes) / 1024 / 1024);
    return text;
}

std::string CounterLabel(const TrafficCounter& counter) {
    std::string label(counter.name, strnlen(counter.name, sizeof counter.name));
    if (label.empty()) label = "traffic " + std::to_string(static_cast<int32_t>(counter.idLow));
    return label;
}

std::string FormatRemaining(int64_t bytes) {
    return FormatMegabytes(bytes) + " (M)";
}

std::vector<CounterRow> CounterRows(const std::vector<TrafficCounter>& counters) {
    std::vector<CounterRow> rows;
    for (const TrafficCounter& counter : counters) {
        if (counter.byteCount == 0) continue;
        rows.push_back({CounterLabel(counter), FormatMegabytes(counter.byteCount)});
    }
    return rows;
}
