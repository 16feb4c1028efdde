// The sleep on Linux: one ppoll() over a signalfd for the stop signals, a timerfd at the instant
// and the socket. The timer is absolute on the wall clock with TFD_TIMER_CANCEL_ON_SET, so the
// kernel ends the sleep when the clock is set and when the machine resumes.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "core/Sleeper.h"
#include "core/UdpSocket.h"

struct Sleeper::Impl {
    int signals = -1;
    int timer = -1;
    bool stopped = false;
};

Sleeper::Sleeper(bool hangUpStops) : impl_(new Impl) {
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    if (hangUpStops) sigaddset(&stops, SIGHUP);
    // Blocked for good: a signal that comes after the last sleep waits with the process.
    sigprocmask(SIG_BLOCK, &stops, nullptr);
    impl_->signals = signalfd(-1, &stops, SFD_NONBLOCK | SFD_CLOEXEC);
    impl_->timer = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
}

Sleeper::~Sleeper() {
    if (impl_->signals >= 0) close(impl_->signals);
    if (impl_->timer >= 0) close(impl_->timer);
    delete impl_;
}

void Sleeper::WallClock(int64_t* second, int* ms) {
    timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    *second = now.tv_sec;
    *ms = static_cast<int>(now.tv_nsec / 1000000);
}

bool Sleeper::StopRequested() {
    if (impl_->stopped) return true;
    signalfd_siginfo info;
    if (impl_->signals >= 0 && read(impl_->signals, &info, sizeof info) == sizeof info)
        impl_->stopped = true;
    return impl_->stopped;
}

Sleeper::Wake Sleeper::SleepUntil(int64_t second, int ms, UdpSocket* socket) {
    if (StopRequested()) return kStop;
    itimerspec at = {};
    at.it_value.tv_sec = static_cast<time_t>(second);
    at.it_value.tv_nsec = static_cast<long>(ms) * 1000000L;
    const bool armed =
        impl_->timer >= 0 &&
        timerfd_settime(impl_->timer, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &at, nullptr) ==
            0;
    // Without a timer (no descriptors left) the sleep falls back to a time-out of at most a
    // second, so that a clock change is not missed for long.
    bool timeoutIsDue = true;
    timespec timeout = {};
    if (!armed) {
        int64_t nowSecond;
        int nowMs;
        WallClock(&nowSecond, &nowMs);
        int64_t left = (second - nowSecond) * 1000 + (ms - nowMs);
        if (left < 0) left = 0;
        timeoutIsDue = left <= 1000;
        if (!timeoutIsDue) left = 1000;
        timeout.tv_sec = static_cast<time_t>(left / 1000);
        timeout.tv_nsec = static_cast<long>(left % 1000) * 1000000L;
    }
    pollfd fds[3] = {};
    fds[0].fd = impl_->signals;
    fds[0].events = POLLIN;
    fds[1].fd = armed ? impl_->timer : -1;  // poll() skips a negative descriptor
    fds[1].events = POLLIN;
    fds[2].fd = socket != nullptr ? static_cast<int>(socket->NativeHandle()) : -1;
    fds[2].events = POLLIN;
    for (;;) {
        const int r = ppoll(fds, 3, armed ? nullptr : &timeout, nullptr);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return kDue;  // the caller looks at the clock and the socket itself
        if (r == 0) return timeoutIsDue ? kDue : kClockChanged;
        if (fds[0].revents != 0 && StopRequested()) return kStop;
        if (fds[1].revents != 0) {
            uint64_t expirations = 0;
            if (read(impl_->timer, &expirations, sizeof expirations) == sizeof expirations)
                return kDue;
            if (errno == ECANCELED) return kClockChanged;
        }
        if (fds[2].revents != 0) return kDatagram;
    }
}
