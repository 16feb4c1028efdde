// The connectivity check: the provider's local script, run from the current directory.
#pragma once

class QWidget;

// Windows: opens ping.bat with the shell. Elsewhere: runs "sh ping.sh" and shows its
// output live in a small window owned by `owner` (one window, reused by the next run).
void RunConnectivityCheck(QWidget* owner);
