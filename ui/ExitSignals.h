// Requests from outside to end the program (termination signals), delivered on the window's thread.
#pragma once

#include <functional>

class QObject;

// Calls `onExit` on the user-interface thread when the process is asked to
// terminate (SIGTERM, SIGINT; on Windows a console close or Ctrl+C).
void InstallExitSignals(QObject* context, std::function<void()> onExit);
