// The tick on POSIX: SIGINT, SIGTERM and SIGHUP are blocked and taken with sigtimedwait,
// so a signal ends the wait at once and no handler runs in the middle of a step.
// SIGPIPE is ignored: a reader that goes away makes the writes fail, and the run then
// logs out instead of dying on the spot. Both stay so after the ticks end: the program is
// on its way out, and a second stop signal (timeout(1) sends one to the process and one
// to its group) must not cut short the LOGOUT and the last save of history.ini. Signals
// still pending when the process exits are dropped with it.
#include <signal.h>
#include <time.h>

#include <cerrno>

#include "TickSource.h"

struct SignalTicks::Impl {
    sigset_t stopSignals;
    time_t lastTick = 0;  // the wall-clock second of the last tick
};

SignalTicks::SignalTicks() : impl_(new Impl) {
    sigemptyset(&impl_->stopSignals);
    sigaddset(&impl_->stopSignals, SIGINT);
    sigaddset(&impl_->stopSignals, SIGTERM);
    sigaddset(&impl_->stopSignals, SIGHUP);
    sigprocmask(SIG_BLOCK, &impl_->stopSignals, nullptr);
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

SignalTicks::~SignalTicks() {
    delete impl_;
}

bool SignalTicks::WaitNextTick() {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    // A few milliseconds past a second's boundary, so that time() already reads
    // the new second, and never twice in one second.
    constexpr long kPastBoundaryNs = 5000000L;
    time_t target = now.tv_nsec < kPastBoundaryNs ? now.tv_sec : now.tv_sec + 1;
    if (target <= impl_->lastTick) target = impl_->lastTick + 1;
    if (target > now.tv_sec + 1) target = now.tv_sec + 1;  // the clock was set back
    impl_->lastTick = target;
    const long long waitNs =
        static_cast<long long>(target - now.tv_sec) * 1000000000LL + kPastBoundaryNs - now.tv_nsec;
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    const long long end = deadline.tv_nsec + waitNs;
    deadline.tv_sec += static_cast<time_t>(end / 1000000000LL);
    deadline.tv_nsec = static_cast<long>(end % 1000000000LL);
    for (;;) {
        timespec mono;
        clock_gettime(CLOCK_MONOTONIC, &mono);
        long long left = (static_cast<long long>(deadline.tv_sec) - mono.tv_sec) * 1000000000LL +
                         (deadline.tv_nsec - mono.tv_nsec);
        if (left < 0) left = 0;
        timespec timeout;
        timeout.tv_sec = static_cast<time_t>(left / 1000000000LL);
        timeout.tv_nsec = static_cast<long>(left % 1000000000LL);
        const int signal = sigtimedwait(&impl_->stopSignals, nullptr, &timeout);
        if (signal == SIGINT || signal == SIGTERM || signal == SIGHUP) return false;
        if (signal < 0 && errno == EINTR) continue;  // another signal: wait out the rest
        return true;
    }
}
