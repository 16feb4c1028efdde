// How the client shows account values: money, megabytes and the label of a traffic counter.
#pragma once

#include <cstdint>
#include <string>

#include "AccountSnapshot.h"

// Thousandths of the unit as "%d.%03d", or "-%d.%03d" below zero.
std::string FormatMoney(int32_t balance);
// Bytes / 1024 / 1024 as "%.2f".
std::string FormatMegabytes(int64_t bytes);
// The counter's name (Windows-1251, at most its 16 bytes), or "traffic N" with the low half
// of its identifier as a signed number when it has none.
std::string CounterLabel(const TrafficCounter& counter);
