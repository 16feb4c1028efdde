// The wall clock.
#include "Clock.h"

#include <ctime>

int32_t SystemClock::Now() const { return static_cast<int32_t>(std::time(nullptr)); }

Clock& DefaultClock() {
    static SystemClock clock;
    return clock;
}
