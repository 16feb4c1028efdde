// The console of the program that started brin2.exe, for its command-line output.
#include <windows.h>

#include <cstdio>

#include "ui/Console.h"

namespace {

bool g_attached = false;

bool HasStream(DWORD which) {
    const HANDLE h = GetStdHandle(which);
    return h != nullptr && h != INVALID_HANDLE_VALUE;
}

}  // namespace

void AttachStartingConsole() {
    // Redirected streams are used as they are; started from Explorer there is no
    // console to attach to and the output goes nowhere, as for any window program.
    const bool out = HasStream(STD_OUTPUT_HANDLE);
    const bool err = HasStream(STD_ERROR_HANDLE);
    if (out && err) return;
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
    g_attached = true;
    if (!out) (void)std::freopen("CONOUT$", "w", stdout);
    if (!err) (void)std::freopen("CONOUT$", "w", stderr);
}

void ReleaseStartingConsole() {
    if (!g_attached) return;
    std::fflush(stdout);
    std::fflush(stderr);
    FreeConsole();
    g_attached = false;
}
