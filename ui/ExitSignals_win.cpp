// Console close and Ctrl+C on Windows, handed to the user-interface thread.
#include <windows.h>

#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include "ui/ExitSignals.h"

namespace {

QPointer<QObject> g_context;
std::function<void()> g_onExit;

BOOL WINAPI OnConsoleEvent(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
    if (g_context)
        QMetaObject::invokeMethod(
            g_context, [] { g_onExit(); }, Qt::BlockingQueuedConnection);
    return TRUE;
}

}  // namespace

void InstallExitSignals(QObject* context, std::function<void()> onExit) {
    g_context = context;
    g_onExit = std::move(onExit);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}
