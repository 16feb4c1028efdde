// The per-user configuration directory and entering a directory, on Windows.
#include <direct.h>
#include <errno.h>

#include <cstdlib>
#include <cstring>

#include "core/WorkDir.h"

std::string UserConfigDir() {
    const char* appData = std::getenv("APPDATA");
    if (appData == nullptr || appData[0] == '\0') return std::string();
    return std::string(appData) + "\\brin2";
}

bool EnterDirectory(const std::string& dir, bool withParents, std::string* error) {
    if (dir.empty()) {
        *error = "no directory given";
        return false;
    }
    for (size_t i = 1; withParents && i < dir.size(); ++i) {
        if (dir[i] != '\\' && dir[i] != '/') continue;
        if (dir[i - 1] == ':') continue;  // a drive, such as C:
        const std::string parent = dir.substr(0, i);
        if (_mkdir(parent.c_str()) != 0 && errno != EEXIST) {
            *error = "cannot make " + parent + ": " + std::strerror(errno);
            return false;
        }
    }
    if (_mkdir(dir.c_str()) != 0 && errno != EEXIST) {
        *error = "cannot make " + dir + ": " + std::strerror(errno);
        return false;
    }
    if (_chdir(dir.c_str()) != 0) {
        *error = "cannot enter " + dir + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

// Windows keeps a user's files apart by the access lists of the profile: nothing to look at.
bool CheckWorkDirectory(const std::string&, std::string*) {
    return true;
}

std::string CurrentDirectoryName() {
    char* path = _getcwd(nullptr, 0);
    if (path == nullptr) return ".";
    std::string name(path);
    std::free(path);
    return name;
}
