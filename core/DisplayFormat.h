// How the client shows account values: money, megabytes and the label of a traffic counter.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/AccountSnapshot.h"

// Thousandths of the unit as "%d.%03d", or "-%d.%03d" below zero.
std::string FormatMoney(int32_t balance);
// Bytes / 1024 / 1024 as "%.2f".
std::string FormatMegabytes(int64_t bytes);
// The counter's name (Windows-1251, at most its 16 bytes), or "traffic N" with the low half
// of its identifier as a signed number when it has none.
std::string CounterLabel(const TrafficCounter& counter);
// The remaining traffic as it is shown: FormatMegabytes and " (M)".
std::string FormatRemaining(int64_t bytes);

// One row of the counter list as both front ends show it.
struct CounterRow {
    std::string label;      // CounterLabel, Windows-1251
    std::string megabytes;  // FormatMegabytes of the byte count
};
// The rows of `counters` in their order: a counter without bytes gets no row.
std::vector<CounterRow> CounterRows(const std::vector<TrafficCounter>& counters);
