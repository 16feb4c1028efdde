// brin-cli's ticks: once a second for a source that does not sleep, or at the next tick the
// session has work for; and the stop signals that end them.
#pragma once

#include <cstdint>

#include "core/ClientSession.h"
#include "core/Sleeper.h"

class UdpSocket;

class TickSource {
public:
    virtual ~TickSource() = default;
    // Waits for the next tick. False when a stop was asked for (SIGINT, SIGTERM,
    // SIGHUP, or the console's break on Windows) before or during the wait.
    virtual bool WaitNextTick() = 0;
    // Waits for the tick `wake` names: the second `wake.at`, or, with `wake.onDatagram`,
    // the tick after a datagram arrives on `socket`. The ticks in between change nothing,
    // so a source that ticks every second (the default) is exact too.
    virtual bool WaitFor(const SessionWake& wake, UdpSocket& socket) {
        (void)wake;
        (void)socket;
        return WaitNextTick();
    }
};

// Ticks a few milliseconds after a whole second of the wall clock, so that every tick reads a
// new second, and sleeps through the seconds in which nothing is due; the stop signals are
// caught from construction to the end of the process, so that one that comes after the last
// tick cannot cut the logout short.
class SignalTicks : public TickSource {
public:
    SignalTicks();
    SignalTicks(const SignalTicks&) = delete;
    SignalTicks& operator=(const SignalTicks&) = delete;
    bool WaitNextTick() override;
    bool WaitFor(const SessionWake& wake, UdpSocket& socket) override;

private:
    // Sleeps to the tick boundary of wall-clock second `second`, waking for a datagram on
    // `socket` when given; never two ticks in one second.
    Sleeper::Wake SleepToTick(int64_t second, UdpSocket* socket);

    Sleeper sleeper_;
    int64_t lastTick_ = 0;  // the wall-clock second of the last tick
};

// SIGPIPE ignored on POSIX: a reader that goes away makes the writes fail, and the run then
// logs out instead of dying on the spot.
void IgnoreBrokenPipe();
