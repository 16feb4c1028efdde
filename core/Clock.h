// "Now" for the engine, the tick and the reconnect logic: whole seconds since 1970, signed 32-bit.
#pragma once

#include <cstdint>

class Clock {
public:
    virtual ~Clock() = default;
    virtual int32_t Now() const = 0;
    // Seconds the machine has spent suspended since it started; 0 where that is not
    // known. A rise between two ticks means the machine slept in between.
    virtual int64_t SleptSeconds() const { return 0; }
};

// The wall clock in whole seconds, read precisely (POSIX) or with time() (Windows).
class SystemClock : public Clock {
public:
    int32_t Now() const override;
    int64_t SleptSeconds() const override;
};

// A clock that tests set by hand.
class FakeClock : public Clock {
public:
    explicit FakeClock(int32_t start = 1000000000) : now_(start) {}
    int32_t Now() const override { return now_; }
    int64_t SleptSeconds() const override { return slept_; }
    void Set(int32_t t) { now_ = t; }
    // The machine sleeps `seconds`: the wall clock moves on, and so does the time slept.
    void Sleep(int32_t seconds) {
        Advance(seconds);
        slept_ += seconds;
    }
    // Wraps as the 32-bit reading of the real clock does in 2038.
    void Advance(int32_t seconds) {
        now_ = static_cast<int32_t>(static_cast<uint32_t>(now_) + static_cast<uint32_t>(seconds));
    }

private:
    int32_t now_;
    int64_t slept_ = 0;
};

// The process-wide system clock; the default wherever no clock is given.
Clock& DefaultClock();

// The seconds a wait that began at `start` has lasted at `now`, taken as the
// wrap-safe 32-bit difference of the two readings, so the January 2038 wrap of the
// signed reading changes nothing. A `now` earlier than `start` (the clock was set
// back) counts as zero and restarts the wait from `now`: a clock change may delay a
// time-out by the time already waited, never freeze it.
int32_t Elapsed(int32_t& start, int32_t now);
