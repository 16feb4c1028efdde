// The wall clock.
#include "Clock.h"

#include <ctime>

int32_t SystemClock::Now() const {
    return static_cast<int32_t>(std::time(nullptr));
}

Clock& DefaultClock() {
    static SystemClock clock;
    return clock;
}

int32_t Elapsed(int32_t& start, int32_t now) {
    const auto difference =
        static_cast<int32_t>(static_cast<uint32_t>(now) - static_cast<uint32_t>(start));
    if (difference >= 0) return difference;
    start = now;
    return 0;
}
