// The sleep on Windows: a console control handler sets an event that ends the wait. Windows
// says nothing of a wall clock set by hand to a waiting program without a window, so every
// sleep ends within a few seconds and the caller reads the clock again; a watched socket is
// waited on with select() a second at a time, the stop event looked at in between.
#include <winsock2.h>
#include <windows.h>

#include "core/Sleeper.h"
#include "core/UdpSocket.h"

namespace {

constexpr int64_t kLongestSleepMs = 4000;
constexpr int64_t kLongestSocketWaitMs = 1000;

HANDLE stopEvent = nullptr;  // lives as long as the handler that sets it: to the end

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
        SetEvent(stopEvent);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

struct Sleeper::Impl {};

Sleeper::Sleeper(bool) : impl_(new Impl) {
    if (stopEvent != nullptr) return;
    stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

Sleeper::~Sleeper() {
    delete impl_;
}

void Sleeper::WallClock(int64_t* second, int* ms) {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER t;
    t.LowPart = ft.dwLowDateTime;
    t.HighPart = ft.dwHighDateTime;
    const int64_t msSince1970 = static_cast<int64_t>(t.QuadPart / 10000) - 11644473600000LL;
    *second = msSince1970 / 1000;
    *ms = static_cast<int>(msSince1970 % 1000);
}

bool Sleeper::StopRequested() {
    return stopEvent != nullptr && WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0;
}

Sleeper::Wake Sleeper::SleepUntil(int64_t second, int ms, UdpSocket* socket) {
    if (StopRequested()) return kStop;
    int64_t nowSecond;
    int nowMs;
    WallClock(&nowSecond, &nowMs);
    int64_t left = (second - nowSecond) * 1000 + (ms - nowMs);
    if (left < 0) left = 0;
    if (left > kLongestSleepMs) left = kLongestSleepMs;
    if (socket == nullptr) {
        return WaitForSingleObject(stopEvent, static_cast<DWORD>(left)) == WAIT_OBJECT_0 ? kStop
                                                                                         : kDue;
    }
    do {
        const int64_t slice = left < kLongestSocketWaitMs ? left : kLongestSocketWaitMs;
        const int ready = socket->WaitReadable(static_cast<int>(slice));
        if (StopRequested()) return kStop;
        if (ready != 0) return kDatagram;  // an error too: the receive reports it
        left -= slice;
    } while (left > 0);
    return kDue;
}
