// The one way the socket layer ends the process on a fatal failure (exit code 1, no message).
#pragma once

using ExitHandler = void (*)(int code);

// Ends the process through the installed handler (std::exit by default).
// A test handler may return; callers then carry on as if nothing had been received.
void ExitOnSocketFailure(int code);

// Installs a replacement (tests); returns the previous handler. nullptr restores the default.
ExitHandler SetExitHandler(ExitHandler handler);
