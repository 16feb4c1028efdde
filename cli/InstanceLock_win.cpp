// The directory lock on Windows: a file the holder keeps open without write or delete sharing,
// so nobody else can open it for writing or remove it until the holder ends.
#include <windows.h>

#include <string>

#include "InstanceLock.h"

const char kLockFileName[] = "brin.lock";

InstanceLock::~InstanceLock() {
    if (handle_ == nullptr) return;
    CloseHandle(static_cast<HANDLE>(handle_));
    DeleteFileA(kLockFileName);
}

bool InstanceLock::Acquire(std::string* holder) {
    HANDLE h = CreateFileA(kLockFileName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        *holder = error == ERROR_SHARING_VIOLATION ? std::string("another client")
                                                   : std::string("cannot make ") + kLockFileName;
        return false;
    }
    const std::string text = std::to_string(GetCurrentProcessId()) + "\nbrin-cli.exe\n\n\n\n";
    DWORD written = 0;
    SetFilePointer(h, 0, nullptr, FILE_BEGIN);
    SetEndOfFile(h);
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    handle_ = h;
    return true;
}
