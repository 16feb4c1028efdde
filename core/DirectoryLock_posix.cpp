// The directory lock on POSIX systems: a file that the holder keeps flock()ed for as long as it
// runs, so the kernel frees it when the holder dies however it dies.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>

#include "core/DirectoryLock.h"
#include "core/WorkDir.h"

const char kLockFileName[] = "brin.lock";

namespace {

void (*raceHook)() = nullptr;

std::string FirstLine(const char* path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string ProgramName() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "brin";
    path[n] = '\0';
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

std::string Contents() {
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    std::string machine = FirstLine("/etc/machine-id");
    if (machine.empty()) machine = FirstLine("/var/lib/dbus/machine-id");
    return std::to_string(getpid()) + "\n" + ProgramName() + "\n" + host + "\n" + machine + "\n" +
           FirstLine("/proc/sys/kernel/random/boot_id") + "\n";
}

// "brin2, process 1234" from a holder's file; what can be read of it.
std::string Describe(int fd) {
    char buffer[512] = {};
    const ssize_t n = pread(fd, buffer, sizeof buffer - 1, 0);
    std::istringstream lines(std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0));
    std::string pid, name;
    std::getline(lines, pid);
    std::getline(lines, name);
    if (pid.empty()) return "another client";
    return (name.empty() ? std::string("a client") : name) + ", process " + pid;
}

// The file open on `fd` is the one the name leads to now.
bool StillAtPath(int fd) {
    struct stat open = {}, named = {};
    return fstat(fd, &open) == 0 && stat(kLockFileName, &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

}  // namespace

void SetLockRaceHook(void (*hook)()) {
    raceHook = hook;
}

DirectoryLock::~DirectoryLock() {
    if (fd_ < 0) return;
    // Removed while still locked, and only when the name still leads to the file held:
    // a process that opened it meanwhile finds, once it has the lock, that the name no
    // longer leads to its file, and tries again on a new one.
    if (StillAtPath(fd_)) unlink(kLockFileName);
    close(fd_);
}

DirectoryLock::Result DirectoryLock::Acquire(std::string* detail) {
    // Bounded: each round is lost only to a holder that ended or removed the file in
    // between, and the next round opens the file that took its place.
    for (int attempt = 0; attempt < 100; ++attempt) {
        int fd = OpenOwnFile(kLockFileName, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0 && (errno == EROFS || errno == EACCES || errno == EPERM)) {
            // A directory nobody may write: a holder's file can still be locked for
            // reading, and without one no other client can write here either.
            fd = OpenOwnFile(kLockFileName, O_RDONLY | O_CLOEXEC, 0);
            if (fd < 0 && errno == ENOENT) return Acquired;
        }
        if (fd < 0) {
            *detail = std::string("cannot make ") + kLockFileName + ": " + std::strerror(errno);
            return Failed;
        }
        if (raceHook != nullptr) raceHook();
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            *detail = Describe(fd);
            close(fd);
            return Busy;
        }
        if (!StillAtPath(fd)) {  // its holder removed it as it ended: try the new one
            close(fd);
            continue;
        }
        // Ours now: a file left by a process that is gone is written over. The lines only
        // name the holder, so a full disk or a read-only file that keeps them out takes
        // nothing from the lock.
        const std::string text = Contents();
        if (ftruncate(fd, 0) == 0) {
            const ssize_t written = pwrite(fd, text.data(), text.size(), 0);
            (void)written;  // left empty, it names "another client" to a second one
        }
        fd_ = fd;
        return Acquired;
    }
    *detail = std::string(kLockFileName) + " keeps being replaced";
    return Failed;
}
