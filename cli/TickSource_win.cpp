// The tick on Windows: a console control handler sets an event that ends the wait.
#include <windows.h>

#include "TickSource.h"

namespace {

HANDLE stopEvent = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
        SetEvent(stopEvent);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

struct SignalTicks::Impl {};

SignalTicks::SignalTicks() : impl_(new Impl) {
    if (stopEvent != nullptr) return;
    stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

// The handler stays: a second Ctrl+C after the ticks end must not cut short the LOGOUT and
// the last save of history.ini. The event lives as long as the handler that sets it.
SignalTicks::~SignalTicks() {
    delete impl_;
}

bool SignalTicks::WaitNextTick() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER t;
    t.LowPart = ft.dwLowDateTime;
    t.HighPart = ft.dwHighDateTime;
    const DWORD msIntoSecond = static_cast<DWORD>((t.QuadPart / 10000) % 1000);
    const DWORD wait = 1000 - msIntoSecond + 5;
    return WaitForSingleObject(stopEvent, wait) != WAIT_OBJECT_0;
}
