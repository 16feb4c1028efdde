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

// Makes `dir` when it is missing (owner-only, since brin.ini holds the scrambled password)
// and makes it the current directory. Only the directory itself is made, as mkdir makes
// it, so that a mistyped path creates nothing; `withParents` makes the missing parents
// too, for the per-user directory (whose ~/.config a new account may lack). False with a
// one-line `error`.
bool EnterDirectory(const std::string& dir, bool withParents, std::string* error);
