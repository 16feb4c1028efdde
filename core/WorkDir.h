// Where a client keeps brin.ini, history.ini and ping.sh (ping.bat) when it is not started among
// them: the per-user configuration directory, made on first use and entered before anything is
// read.
#pragma once

#include <string>

// $XDG_CONFIG_HOME/brin2, else ~/.config/brin2 (Windows: %APPDATA%\brin2). Empty when
// neither variable is set.
std::string UserConfigDir();

// How the help texts name that directory and the connectivity check's script.
#ifdef _WIN32
#define BRIN_USER_DIR_SHOWN "%APPDATA%\\brin2"
#define BRIN_USER_DIR_UNSET "APPDATA is not set"
#define BRIN_CHECK_SCRIPT "ping.bat"
#else
#define BRIN_USER_DIR_SHOWN "$XDG_CONFIG_HOME/brin2"
#define BRIN_USER_DIR_UNSET "neither XDG_CONFIG_HOME nor HOME is set"
#define BRIN_CHECK_SCRIPT "ping.sh"
#endif

// The clients' --dir DIR and --user-dir options, into `dir`: an error line, or "" when good.
inline std::string TakeDirOption(const std::string& value, std::string* dir) {
    if (value.empty()) return "--dir wants a directory";
    *dir = value;
    return "";
}
inline std::string TakeUserDirOption(std::string* dir) {
    *dir = UserConfigDir();
    return dir->empty() ? "--user-dir: " BRIN_USER_DIR_UNSET : "";
}

// Makes `dir` when it is missing (owner-only, since brin.ini holds the scrambled password)
// and makes it the current directory. Only the directory itself is made, as mkdir makes
// it, so that a mistyped path creates nothing; `withParents` makes the missing parents
// too, for the per-user directory (whose ~/.config a new account may lack). False with a
// one-line `error`.
bool EnterDirectory(const std::string& dir, bool withParents, std::string* error);

// Whether the current directory is safe to keep brin.ini, history.ini, brin.lock,
// usage.csv and ping.sh in, as the careful tools judge their own files: the directory
// belongs to the user (or root) and nobody else may write in it, unless it is sticky
// (as /tmp is) so that nobody else can move the user's own files; and none of those
// files, nor a symbolic link of that name, belongs to another user. False with
// `problem`, one line that names `shownAs` (the directory as the user gave it) and
// exactly what is wrong. Windows: always true.
bool CheckWorkDirectory(const std::string& shownAs, std::string* problem);
// The current directory's path, for messages ("." when it cannot be read).
std::string CurrentDirectoryName();

// POSIX: open(2) of `name` in the current directory that follows a symbolic link only
// when the link is the user's own (or root's), and opens a file only when it is the
// user's own (or root's). -1 with errno ELOOP for another user's link, EPERM for
// another user's file.
int OpenOwnFile(const char* name, int flags, int mode);

// POSIX: `path` is a symbolic link that is not the user's own (nor root's).
bool IsForeignLink(const std::string& path);
