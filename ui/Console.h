// Where brin2's own command-line output (--help, --version, --autostart, usage errors) goes.
#pragma once

// Windows: a window program has no console of its own, so its output reaches
// the console it was started from (cmd, PowerShell) only once it attaches to it;
// output redirected to a file or pipe goes there as it is. Elsewhere: nothing to do.
void AttachStartingConsole();

// Lets go of that console once the window starts, so that closing it or Ctrl+C
// there does not end the window.
void ReleaseStartingConsole();
