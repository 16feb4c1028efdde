// Time slept on POSIX systems: on Linux the boot-time clock runs on through a suspend while the
// monotonic clock stops, so their difference is the time the machine spent asleep.
#include <time.h>

#include "Clock.h"

int64_t SystemClock::SleptSeconds() const {
#ifdef CLOCK_BOOTTIME
    timespec boot = {}, monotonic = {};
    if (clock_gettime(CLOCK_BOOTTIME, &boot) != 0 ||
        clock_gettime(CLOCK_MONOTONIC, &monotonic) != 0)
        return 0;
    return static_cast<int64_t>(boot.tv_sec) - monotonic.tv_sec;
#else
    return 0;
#endif
}
