// Where a client keeps brin.ini, history.ini and ping.sh when it is not started among them:
// the per-user configuration directory, made on first use and entered before anything is read.
#pragma once

#include <string>

// $XDG_CONFIG_HOME/brin2, else ~/.config/brin2 (Windows: %APPDATA%\brin2). Empty when
// neither variable is set.
std::string UserConfigDir();

// The clients' --dir DIR and --user-dir options, into `dir`: an error line, or "" when good.
inline std::string TakeDirOption(const std::string& value, std::string* dir) {
    if (value.empty()) return "--dir wants a directory";
    *dir = value;
    return "";
}
inline std::string TakeUserDirOption(std::string* dir) {
    *dir = UserConfigDir();
    return dir->empty() ? "--user-dir: neither XDG_CONFIG_HOME nor HOME is set" : "";
}

// Makes `dir` when it is missing (its parents as needed; the directory itself
// owner-only, since brin.ini holds the scrambled password) and makes it the current
// directory. False with a one-line `error`.
bool EnterDirectory(const std::string& dir, std::string* error);
