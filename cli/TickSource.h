// The one-second tick of brin-cli and the stop signals that end it.
#pragma once

class TickSource {
public:
    virtual ~TickSource() = default;
    // Waits for the next tick. False when a stop was asked for (SIGINT, SIGTERM,
    // SIGHUP, or the console's break on Windows) before or during the wait.
    virtual bool WaitNextTick() = 0;
};

// Ticks at each whole second of the wall clock, so that every tick reads a new
// second; the stop signals are caught from construction to the end of the process,
// so that one that comes after the last tick cannot cut the logout short.
class SignalTicks : public TickSource {
public:
    SignalTicks();
    ~SignalTicks() override;
    SignalTicks(const SignalTicks&) = delete;
    SignalTicks& operator=(const SignalTicks&) = delete;
    bool WaitNextTick() override;

private:
    struct Impl;
    Impl* impl_;
};
