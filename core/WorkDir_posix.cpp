// The per-user configuration directory and entering a directory, on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/WorkDir.h"

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

namespace {

// The user's own, or root's: what the careful tools trust besides the user.
bool Trusted(uid_t owner) {
    return owner == geteuid() || owner == 0;
}

const char* const kOwnFiles[] = {"brin.ini", "history.ini", "brin.lock", "usage.csv", "ping.sh"};

}  // namespace

bool CheckWorkDirectory(const std::string& shownAs, std::string* problem) {
    struct stat dir = {};
    if (stat(".", &dir) != 0) {
        *problem = "cannot look at " + shownAs + ": " + std::strerror(errno);
        return false;
    }
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(dir.st_mode & 07777));
    if (!Trusted(dir.st_uid)) {
        *problem = shownAs + " belongs to another user (uid " + std::to_string(dir.st_uid) +
                   "): the settings and the history stay in a directory of your own";
        return false;
    }
    const bool shared = (dir.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (shared && (dir.st_mode & S_ISVTX) == 0) {
        *problem = shownAs + " may be written by others (mode " + mode +
                   ", not sticky): anyone could put their own files in place of brin.ini "
                   "and history.ini";
        return false;
    }
    for (const char* name : kOwnFiles) {
        struct stat st = {};
        if (lstat(name, &st) != 0) continue;
        if (Trusted(st.st_uid)) continue;
        *problem = shownAs + "/" + name +
                   (S_ISLNK(st.st_mode) ? " is a symbolic link made by another user (uid "
                                        : " belongs to another user (uid ") +
                   std::to_string(st.st_uid) + "): nothing is read or written through it";
        return false;
    }
    return true;
}

bool IsForeignLink(const std::string& path) {
    struct stat st = {};
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && !Trusted(st.st_uid);
}

int OpenOwnFile(const char* name, int flags, int mode) {
    struct stat link = {};
    const bool isLink = lstat(name, &link) == 0 && S_ISLNK(link.st_mode);
    if (isLink && !Trusted(link.st_uid)) {
        errno = ELOOP;
        return -1;
    }
    // A name that was no link a moment ago and is one now was planted: O_NOFOLLOW refuses it.
    const int fd = open(name, isLink ? flags : flags | O_NOFOLLOW, static_cast<mode_t>(mode));
    if (fd < 0) return -1;
    struct stat file = {};
    if (fstat(fd, &file) != 0 || !Trusted(file.st_uid)) {
        close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

std::string CurrentDirectoryName() {
    char* path = getcwd(nullptr, 0);
    if (path == nullptr) return ".";
    std::string name(path);
    std::free(path);
    return name;
}
