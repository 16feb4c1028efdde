// SIGTERM and SIGINT through a self-pipe, so the exit path runs in the event loop, not in the
// handler.
#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>

#include "ui/ExitSignals.h"

namespace {

int g_pipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    ssize_t ignored =
        write(g_pipe[1], &byte, 1);  // async-signal-safe; a full pipe already wakes us
    (void)ignored;
}

}  // namespace

void InstallExitSignals(QObject* context, std::function<void()> onExit) {
    if (g_pipe[0] < 0) {
        if (pipe(g_pipe) != 0) return;
        for (int fd : g_pipe) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [onExit] {
        char buffer[16];
        while (read(g_pipe[0], buffer, sizeof buffer) > 0) {
        }
        onExit();
    });
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}
