// The wall clock and the time slept on Windows: the tick count runs on through sleep and
// hibernation, the unbiased interrupt time does not.
#include <windows.h>

#include <ctime>

#include "core/Clock.h"

int32_t SystemClock::Now() const {
    return static_cast<int32_t>(std::time(nullptr));
}

int64_t SystemClock::SleptSeconds() const {
    ULONGLONG unbiased = 0;  // 100-ns units
    if (!QueryUnbiasedInterruptTime(&unbiased)) return 0;
    return static_cast<int64_t>(GetTickCount64() / 1000) -
           static_cast<int64_t>(unbiased / 10000000);
}
