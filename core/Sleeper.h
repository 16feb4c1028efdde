// The one wait of a program that sleeps until something is due: an instant of the wall clock, a
// datagram on its socket, or a stop request.
#pragma once

#include <cstdint>

class UdpSocket;

class Sleeper {
public:
    // The stop requests are caught from here to the end of the process (a second one while
    // the program logs out must not cut that short): SIGINT and SIGTERM, and SIGHUP when
    // `hangUpStops`, on POSIX; the console's break, Ctrl+C and close on Windows.
    explicit Sleeper(bool hangUpStops);
    ~Sleeper();
    Sleeper(const Sleeper&) = delete;
    Sleeper& operator=(const Sleeper&) = delete;

    enum Wake {
        kDue,           // the instant came
        kDatagram,      // the socket is readable (or has an error to report)
        kClockChanged,  // the wall clock was set, or the machine resumed: read it again
        kStop,          // a stop request came, now or earlier
    };

    // Sleeps until `second` (wall clock, seconds since 1970) and `ms` past it, or until a
    // datagram waits on `socket` when it is given. On Linux a change of the wall clock ends
    // the sleep at once; on Windows a sleep ends at least every few seconds (kDue then).
    Wake SleepUntil(int64_t second, int ms, UdpSocket* socket);

    // The wall clock with its milliseconds, as the sleep reads it.
    static void WallClock(int64_t* second, int* ms);

    bool StopRequested();

private:
    struct Impl;
    Impl* impl_;
};
