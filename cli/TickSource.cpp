// The ticks of brin-cli, slept out in the one wait of Sleeper: a tick at a whole second (plus a
// few milliseconds, so that time() already reads it), or the first tick after a datagram.
#include "cli/TickSource.h"

#include "core/UdpSocket.h"

namespace {

constexpr int kPastBoundaryMs = 5;
constexpr int64_t kFarAhead = 24 * 3600;  // a sleep with nothing due; a clock change ends it

}  // namespace

SignalTicks::SignalTicks() : sleeper_(true) {
    IgnoreBrokenPipe();
}

Sleeper::Wake SignalTicks::SleepToTick(int64_t second, UdpSocket* socket) {
    int64_t now;
    int ms;
    Sleeper::WallClock(&now, &ms);
    if (second <= lastTick_) second = lastTick_ + 1;
    if (second < now) second = now;  // late: the tick is due at once
    if (second > now + 1 && lastTick_ > now) second = now + 1;  // the clock was set back
    const Sleeper::Wake wake = sleeper_.SleepUntil(second, kPastBoundaryMs, socket);
    if (wake == Sleeper::kDue) {
        Sleeper::WallClock(&now, &ms);
        lastTick_ = now;
    }
    return wake;
}

bool SignalTicks::WaitNextTick() {
    int64_t now;
    int ms;
    Sleeper::WallClock(&now, &ms);
    for (;;) {
        switch (SleepToTick(ms < kPastBoundaryMs ? now : now + 1, nullptr)) {
            case Sleeper::kStop:
                return false;
            case Sleeper::kDue:
                return true;
            default:  // the clock changed: the next second of the new reading
                Sleeper::WallClock(&now, &ms);
        }
    }
}

bool SignalTicks::WaitFor(const SessionWake& wake, UdpSocket& socket) {
    int64_t now;
    int ms;
    Sleeper::WallClock(&now, &ms);
    // `wake.at` in the 64-bit reading, by its wrap-safe distance from the 32-bit one.
    const int32_t left = static_cast<int32_t>(static_cast<uint32_t>(wake.at) -
                                              static_cast<uint32_t>(static_cast<int32_t>(now)));
    const int64_t target = wake.timed ? now + left : now + kFarAhead;
    switch (SleepToTick(target, wake.onDatagram ? &socket : nullptr)) {
        case Sleeper::kStop:
            return false;
        case Sleeper::kDue:
            return true;
        case Sleeper::kDatagram:
        case Sleeper::kClockChanged:
            // The tick that follows, as one every second would have it.
            return WaitNextTick();
    }
    return true;
}
