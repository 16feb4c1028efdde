// The process-wide clock and the wrap-safe measure of a wait.
#include "core/Clock.h"

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
