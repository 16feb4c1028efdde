// The directory lock on POSIX systems: a file that the holder keeps flock()ed for as long as it
// runs, so the kernel frees it when the holder dies however it dies.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>

#include "InstanceLock.h"

const char kLockFileName[] = "brin.lock";

namespace {

std::string FirstLine(const char* path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string ProgramName() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "brin-cli";
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

}  // namespace

InstanceLock::~InstanceLock() {
    if (fd_ < 0) return;
    unlink(kLockFileName);
    close(fd_);
}

bool InstanceLock::Acquire(std::string* holder) {
    int fd = open(kLockFileName, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 && (errno == EROFS || errno == EACCES || errno == EPERM)) {
        // A directory nobody may write: a holder's file can still be locked for reading,
        // and without one no other client can write here either, so the run goes on.
        fd = open(kLockFileName, O_RDONLY | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) return true;
    }
    if (fd < 0) {
        *holder = std::string("cannot make ") + kLockFileName + ": " + std::strerror(errno);
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        *holder = Describe(fd);
        close(fd);
        return false;
    }
    // Ours now: a file left by a process that is gone is written over. The lock is the
    // flock; the lines only name the holder, so a full disk or a read-only file that
    // keeps them out takes nothing from it.
    const std::string text = Contents();
    if (ftruncate(fd, 0) == 0) {
        const ssize_t written = pwrite(fd, text.data(), text.size(), 0);
        (void)written;  // left empty, it names "another client" to a second one
    }
    fd_ = fd;
    return true;
}
