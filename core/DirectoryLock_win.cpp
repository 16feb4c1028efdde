// The directory lock on Windows: a file the holder keeps open without write or delete sharing,
// so nobody else can open it for writing or remove it until the holder ends.
#include <windows.h>

#include <string>

#include "core/DirectoryLock.h"

const char kLockFileName[] = "brin.lock";

namespace {

void (*raceHook)() = nullptr;

std::string ProgramName() {
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path) return "brin";
    const std::string full(path, n);
    const size_t slash = full.find_last_of("\\/");
    return slash == std::string::npos ? full : full.substr(slash + 1);
}

// "brin2.exe, process 1234" from the holder's file, which stays readable to others.
std::string Describe() {
    HANDLE h = CreateFileA(kLockFileName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "another client";
    char buffer[512] = {};
    DWORD n = 0;
    ReadFile(h, buffer, sizeof buffer - 1, &n, nullptr);
    CloseHandle(h);
    const std::string text(buffer, n);
    const size_t first = text.find('\n');
    if (first == std::string::npos || first == 0) return "another client";
    const size_t second = text.find('\n', first + 1);
    const std::string name = text.substr(
        first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    return (name.empty() ? std::string("a client") : name) + ", process " + text.substr(0, first);
}

}  // namespace

void SetLockRaceHook(void (*hook)()) {
    raceHook = hook;
}

DirectoryLock::~DirectoryLock() {
    if (handle_ == nullptr) return;
    CloseHandle(static_cast<HANDLE>(handle_));
    // Refused while another process has it open, which is the only other way to hold it.
    DeleteFileA(kLockFileName);
}

DirectoryLock::Result DirectoryLock::Acquire(std::string* detail) {
    if (raceHook != nullptr) raceHook();
    HANDLE h = CreateFileA(kLockFileName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_SHARING_VIOLATION) {
            *detail = Describe();
            return Busy;
        }
        if (error == ERROR_WRITE_PROTECT || error == ERROR_ACCESS_DENIED) {
            // A directory nobody may write: no other client can write here either.
            if (GetFileAttributesA(kLockFileName) == INVALID_FILE_ATTRIBUTES) return Acquired;
        }
        *detail =
            std::string("cannot make ") + kLockFileName + " (error " + std::to_string(error) + ")";
        return Failed;
    }
    // The lines only name the holder: a full disk that keeps them out takes nothing from
    // the lock, which is the open handle.
    const std::string text =
        std::to_string(GetCurrentProcessId()) + "\n" + ProgramName() + "\n\n\n\n";
    DWORD written = 0;
    SetFilePointer(h, 0, nullptr, FILE_BEGIN);
    SetEndOfFile(h);
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    handle_ = h;
    return Acquired;
}
