// The connectivity check: the provider's local script, run from the current directory.
#pragma once

#include <QString>

class QWidget;

// Windows: opens ping.bat with the shell. Elsewhere: runs "sh ping.sh" and shows its
// output live in a small window owned by `owner` (one window, reused by the next run).
void RunConnectivityCheck(QWidget* owner);

// The script's file name in the working directory (ping.bat, ping.sh).
QString ConnectivityScriptName();

// The example script the installed program carries, copied into a directory without one.
QString ExampleConnectivityScript();
