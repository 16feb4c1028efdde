// Writing files on Windows: a whole file replaced (a new file beside the old one, flushed, then
// moved over it), and lines appended (left to the system's own write-back).
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

#include "core/AtomicFile.h"
#include "core/TestSeams.h"

namespace {

// Narrow paths are in the ANSI code page, as the narrow Windows calls take them.
std::wstring Widen(const std::string& text) {
    if (text.empty()) return std::wstring();
    int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::wstring DirectoryOf(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return L".";
    if (slash == 0 || (slash == 2 && path[1] == L':')) return path.substr(0, slash + 1);
    return path.substr(0, slash);
}

bool WriteAll(HANDLE file, const char* data, size_t size) {
    while (size > 0) {
        DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (WriteFile(file, data, chunk, &written, nullptr) == 0 || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

// All of `bytes`, flushed to the disk when `flush`; an injected failure writes its first bytes
// and fails.
bool WriteAndFlush(HANDLE file, const std::string& bytes, long failAfter, bool flush) {
    if (failAfter >= 0) {
        const size_t partial = static_cast<size_t>(failAfter) < bytes.size()
                                   ? static_cast<size_t>(failAfter)
                                   : bytes.size();
        WriteAll(file, bytes.data(), partial);
        return false;
    }
    return WriteAll(file, bytes.data(), bytes.size()) && (!flush || FlushFileBuffers(file) != 0);
}

}  // namespace

int ReplaceFileAtomically(const std::string& path, const std::string& bytes, int newFileMode) {
    (void)newFileMode;  // Windows files carry no permission bits here
    long failAfter = TakeInjectedAtomicWriteFailure();
    std::wstring target = Widen(path);
    std::wstring dir = DirectoryOf(target);

    wchar_t temp[MAX_PATH + 1];
    if (GetTempFileNameW(dir.c_str(), L"brn", 0, temp) == 0) return -1;  // creates it, empty
    HANDLE file = CreateFileW(temp, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DeleteFileW(temp);
        return -1;
    }

    bool ok = WriteAndFlush(file, bytes, failAfter, true);
    if (CloseHandle(file) == 0) ok = false;

    if (ok) {
        // ReplaceFileW keeps the old file's attributes and security; it needs an existing file.
        bool replaced = GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES &&
                        ReplaceFileW(target.c_str(), temp, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                                     nullptr, nullptr) != 0;
        if (!replaced) {
            replaced = MoveFileExW(temp, target.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
        }
        ok = replaced;
    }
    if (!ok) {
        DeleteFileW(temp);
        return -1;
    }
    return 0;
}

int AppendToFile(const std::string& path, const std::string& bytes, int newFileMode) {
    (void)newFileMode;
    const long failAfter = TakeInjectedAppendFailure();
    HANDLE file = CreateFileW(Widen(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    bool ok = WriteAndFlush(file, bytes, failAfter, false);
    if (CloseHandle(file) == 0) ok = false;
    return ok ? 0 : -1;
}
