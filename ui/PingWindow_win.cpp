// The connectivity check on Windows: the shell opens ping.bat from the current directory.
#include "PingWindow.h"

#include <windows.h>
#include <shellapi.h>

void RunConnectivityCheck(QWidget* owner) {
    (void)owner;
    // Failures (no ping.bat) are not reported: the shell shows its own message, if any.
    ShellExecuteA(nullptr, "open", "ping.bat", nullptr, nullptr, SW_SHOWNORMAL);
}
