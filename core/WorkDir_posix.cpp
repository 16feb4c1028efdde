// The per-user configuration directory and entering a directory, on POSIX systems.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "WorkDir.h"

std::string UserConfigDir() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    // The base directory rules ignore a relative XDG_CONFIG_HOME.
    if (config != nullptr && config[0] == '/') return std::string(config) + "/brin2";
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') return std::string();
    return std::string(home) + "/.config/brin2";
}

bool EnterDirectory(const std::string& given, bool withParents, std::string* error) {
    std::string dir = given;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (dir.empty()) {
        *error = "no directory given";
        return false;
    }
    // Each missing part of the path in turn; the parents as a plain mkdir -p makes them.
    for (size_t slash = dir.find('/', 1); withParents && slash != std::string::npos;
         slash = dir.find('/', slash + 1)) {
        const std::string parent = dir.substr(0, slash);
        if (mkdir(parent.c_str(), 0755) != 0 && errno != EEXIST) {
            *error = "cannot make " + parent + ": " + std::strerror(errno);
            return false;
        }
    }
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        *error = "cannot make " + dir + ": " + std::strerror(errno);
        return false;
    }
    if (chdir(dir.c_str()) != 0) {
        *error = "cannot enter " + dir + ": " + std::strerror(errno);
        return false;
    }
    return true;
}
