// The lock that keeps two clients off one directory: "brin.lock", held for the whole run. Both
// brin-cli and the window take it through this one class.
#pragma once

#include <string>

extern const char kLockFileName[];

// The file holds, one a line, the holder's process id, program name, host name,
// machine id and boot id, so that a refused client can name who holds it. The lock
// itself is the kernel's lock on the open file (POSIX flock; on Windows the file kept
// open without write or delete sharing): it ends with its holder however the holder
// ends, a file left by a holder that is gone is taken over, and a full disk that keeps
// the lines out takes nothing from it.
class DirectoryLock {
public:
    enum Result {
        Acquired,  // ours until destruction (also where nothing can be written: see Acquire)
        Busy,      // another process holds it; `detail` names it, e.g. "brin2, process 1234"
        Failed,    // the file cannot be made or opened; `detail` says why
    };

    DirectoryLock() = default;
    ~DirectoryLock();  // removes the file while still holding it, then lets it go
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;

    // Takes the lock in the current directory. In a directory nobody may write (a
    // read-only filesystem), with no lock file in it, no other client can write either:
    // that is Acquired without a file.
    Result Acquire(std::string* detail);

private:
    int fd_ = -1;
    void* handle_ = nullptr;
};

// Tests: `hook` runs inside the next Acquire calls between opening the file and locking it,
// where another process may remove the file and a third make a new one (nullptr: none).
void SetLockRaceHook(void (*hook)());
