// The POSIX side of the end-to-end helpers: temporary directories and child processes.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>

#include "core/Cp1251.h"
#include "tests/e2e/E2eSupport.h"

namespace fs = std::filesystem;

bool FileExists(const std::string& path) {
    return fs::exists(path);
}

std::string Cp1251Bytes(const std::string& utf8) {
    std::string out;
    EXPECT_TRUE(Utf8ToCp1251(utf8, &out)) << utf8;
    return out;
}

namespace {

std::vector<char*> Argv(const std::vector<std::string>& argv) {
    std::vector<char*> v;
    for (const std::string& a : argv) v.push_back(const_cast<char*>(a.c_str()));
    v.push_back(nullptr);
    return v;
}

int ExitCodeOf(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input,
                         int timeoutMs) {
    ProcessResult result;
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return result;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
        std::vector<char*> args = Argv(argv);
        execv(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    signal(SIGPIPE, SIG_IGN);
    if (!input.empty()) {
        const ssize_t written = write(in[1], input.data(), input.size());
        (void)written;  // a program that does not read its input simply ignores it
    }
    close(in[1]);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    bool killed = false;
    while (open > 0) {
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count();
        if (elapsed > timeoutMs && !killed) {
            kill(pid, SIGKILL);
            killed = true;
        }
        if (poll(fds, 2, 100) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = killed ? -1 : ExitCodeOf(status);
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

Background::Background(const std::vector<std::string>& argv, const std::string& stderrPath,
                       const std::string& stdoutPath)
    : stderrPath_(stderrPath) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int err = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int out = open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> args = Argv(argv);
        execv(args[0], args.data());
        _exit(127);
    }
    pid_ = pid;
}

Background::~Background() {
    if (pid_ > 0) Stop(SIGKILL);
}

std::string Background::WaitForLine(const std::string& marker, int timeoutMs,
                                    const std::string& path) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        std::istringstream lines(ReadFile(path.empty() ? stderrPath_ : path));
        std::string line;
        while (std::getline(lines, line))
            if (line.find(marker) != std::string::npos) return line;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::string();
}

int Background::Stop(int signal, int times, int gapMicros) {
    if (pid_ <= 0) return -1;
    for (int i = 0; i < times; ++i) {
        if (i > 0) std::this_thread::sleep_for(std::chrono::microseconds(gapMicros));
        kill(pid_, signal);
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return ExitCodeOf(status);
}

std::string ListeningPort(const Background& server) {
    const std::string marker = "listening on 127.0.0.1:";
    const std::string line = server.WaitForLine(marker);
    const size_t at = line.find(marker);
    return at == std::string::npos ? "" : std::to_string(std::atoi(line.c_str() + at + marker.size()));
}
