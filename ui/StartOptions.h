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

// Held while the application object reaches the window system. Without a display Qt
// ends the program with an abort and a paragraph about reinstalling it; here that is
// one line saying there is no display, and exit code 1, before anything is written.
// Qt's other messages of that moment are passed on once it has succeeded.
class WindowSystemGuard {
public:
    WindowSystemGuard();
    ~WindowSystemGuard();  // reached the window system: Qt's messages go their usual way
    WindowSystemGuard(const WindowSystemGuard&) = delete;
    WindowSystemGuard& operator=(const WindowSystemGuard&) = delete;
};
