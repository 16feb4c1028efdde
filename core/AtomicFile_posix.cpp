// Writing files on POSIX systems: a whole file replaced (a new file beside the old one, synced,
// then renamed over it), and lines appended (left to the kernel's own write-back).
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "core/AtomicFile.h"
#include "core/TestSeams.h"
#include "core/WorkDir.h"

namespace {

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// A symbolic link stays a link: its target is the file that gets replaced.
std::string ResolveLink(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr) return path;
    std::string target(real);
    std::free(real);
    return target;
}

// The temporary files of `base` are ".BASE.PID.SUFFIX": the process that makes one is named in it.
std::string TemporaryPrefix(const std::string& base) {
    return "." + base + ".";
}

// Creates a new, unique file in `dir` (the umask applies to `mode`, as for any new file).
int CreateTemporary(const std::string& dir, const std::string& base, int mode, std::string* name) {
    static unsigned counter = 0;
    unsigned seed =
        static_cast<unsigned>(getpid()) * 2654435761u ^ static_cast<unsigned>(std::time(nullptr));
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, "%ld.%08x%04x", static_cast<long>(getpid()), seed,
                      ++counter & 0xffffu);
        *name = dir + "/" + TemporaryPrefix(base) + suffix;
        int fd =
            open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
        if (fd >= 0 || errno != EEXIST) return fd;
        seed = seed * 1103515245u + 12345u;
    }
    return -1;
}

// The process id in `name` when it is exactly a temporary file of `base` as CreateTemporary
// makes it (".BASE.PID." and twelve lower-case hex digits), else 0: a user's own file that
// merely starts alike (".brin.ini.20241211.bak") is none of ours.
long TemporaryOwner(const std::string& name, const std::string& base) {
    const std::string prefix = TemporaryPrefix(base);
    if (name.compare(0, prefix.size(), prefix) != 0) return 0;
    size_t at = prefix.size();
    long pid = 0;
    const size_t digits = at;
    while (at < name.size() && name[at] >= '0' && name[at] <= '9' && at - digits < 10)
        pid = pid * 10 + (name[at++] - '0');
    if (at == digits || name[digits] == '0' || at >= name.size() || name[at] != '.') return 0;
    const std::string suffix = name.substr(at + 1);
    if (suffix.size() != 12 || suffix.find_first_not_of("0123456789abcdef") != std::string::npos)
        return 0;
    return pid;
}

// A save cut off by a kill or a crash leaves its temporary file behind; once its process
// is gone, nobody will rename it, so the next save removes it.
void RemoveLeftovers(const std::string& dir, const std::string& base) {
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return;
    while (const dirent* entry = readdir(d)) {
        const std::string name = entry->d_name;
        const long pid = TemporaryOwner(name, base);
        if (pid <= 0 || pid == static_cast<long>(getpid())) continue;
        if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        unlink((dir + "/" + name).c_str());
    }
    closedir(d);
}

bool WriteAll(int fd, const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// A filesystem without sync support still gets the file; any other sync error is a failure.
bool SyncFile(int fd) {
    if (fsync(fd) == 0) return true;
    return errno == EINVAL || errno == ENOTSUP || errno == ENOSYS;
}

}  // namespace

int ReplaceFileAtomically(const std::string& path, const std::string& bytes, int newFileMode) {
    long failAfter = TakeInjectedAtomicWriteFailure();
    // A link another user planted (a shared directory) leads to a file of the user's that
    // is none of ours: nothing is written through it.
    if (IsForeignLink(path)) return -1;
    std::string target = ResolveLink(path);
    std::string dir = DirectoryOf(target);
    size_t slash = target.find_last_of('/');
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);

    struct stat old;
    bool replacing = stat(target.c_str(), &old) == 0;
    if (replacing) {
        // A file we may not write stays as it is, as writing it in place would leave it:
        // else the rename, which asks only for the directory, would put ours over it.
        int probe = open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (probe < 0) return -1;
        close(probe);
    }
    std::string temp;
    int fd = CreateTemporary(dir, base, replacing ? 0600 : newFileMode, &temp);
    if (fd < 0) return -1;

    bool ok = true;
    if (replacing) {
        // Owner first: fchown may clear set-id bits that fchmod then puts back.
        if ((old.st_uid != geteuid() || old.st_gid != getegid()) &&
            fchown(fd, old.st_uid, old.st_gid) != 0) {
            // Not permitted for another owner's file: the new file is ours.
        }
        ok = fchmod(fd, old.st_mode & 07777) == 0;
    }
    if (failAfter >= 0) {
        size_t partial = static_cast<size_t>(failAfter) < bytes.size()
                             ? static_cast<size_t>(failAfter)
                             : bytes.size();
        WriteAll(fd, bytes.data(), partial);
        ok = false;
    } else if (ok) {
        ok = WriteAll(fd, bytes.data(), bytes.size()) && SyncFile(fd);
    }
    if (close(fd) != 0) ok = false;
    if (ok && rename(temp.c_str(), target.c_str()) != 0) ok = false;
    if (!ok) {
        unlink(temp.c_str());
        return -1;
    }

    // Make the rename itself durable; the new contents are in place either way.
    int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        SyncFile(dirFd);
        close(dirFd);
    }
    RemoveLeftovers(dir, base);
    return 0;
}

int AppendToFile(const std::string& path, const std::string& bytes, int newFileMode) {
    const long failAfter = TakeInjectedAppendFailure();
    // Through no link another user planted in a shared directory.
    const int fd = OpenOwnFile(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, newFileMode);
    if (fd < 0) return -1;
    bool ok;
    if (failAfter >= 0) {
        WriteAll(fd, bytes.data(), std::min(static_cast<size_t>(failAfter), bytes.size()));
        ok = false;
    } else {
        ok = WriteAll(fd, bytes.data(), bytes.size());
    }
    if (close(fd) != 0) ok = false;
    return ok ? 0 : -1;
}
