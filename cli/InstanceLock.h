// The lock that keeps two clients off one directory: "brin.lock", held for the whole run.
#pragma once

#include <string>

// The file holds, one a line, the holder's process id, program name, host name,
// machine id and boot id: the form the window's lock writes, so that either client
// refuses a directory the other uses. A lock left by a process that is gone (killed,
// or the machine went down) is taken over.
class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();  // releases and removes the file
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes the lock in the current directory. False when another process holds it
    // (`holder` then names it, e.g. "brin2, process 1234") or the file cannot be made
    // (`holder` then says why).
    bool Acquire(std::string* holder);

private:
    int fd_ = -1;
    void* handle_ = nullptr;
};

extern const char kLockFileName[];
