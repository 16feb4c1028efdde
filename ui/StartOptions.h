// brin2's own command line, read before the window system is reached, so that --help,
// --version and --autostart work without a display.
#pragma once

#include <string>

struct StartOptions {
    std::string dir;  // where to work; empty: the current directory
    bool userDir = false;  // dir is the per-user directory (--user-dir)
    bool hidden = false;
    std::string autostart;  // "on", "off" or empty
    bool help = false;
    bool version = false;
};

// Reads the options (Qt's own, such as -platform NAME, are left for Qt). Returns -1 when
// the window is to start, else the exit code once --help, --version, --autostart or bad
// usage have said what they had to say.
int ReadStartOptions(int argc, char** argv, StartOptions* options);
