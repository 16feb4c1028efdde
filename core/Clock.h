// "Now" for the engine, the tick and the reconnect logic: whole seconds since 1970, signed 32-bit.
#pragma once

#include <cstdint>

class Clock {
public:
    virtual ~Clock() = default;
    virtual int32_t Now() const = 0;
};

// The wall clock, as the C runtime's time() gives it.
class SystemClock : public Clock {
public:
    int32_t Now() const override;
};

// A clock that tests set by hand.
class FakeClock : public Clock {
public:
    explicit FakeClock(int32_t start = 1000000000) : now_(start) {}
    int32_t Now() const override { return now_; }
    void Set(int32_t t) { now_ = t; }
    void Advance(int32_t seconds) { now_ += seconds; }

private:
    int32_t now_;
};

// The process-wide system clock; the default wherever no clock is given.
Clock& DefaultClock();
