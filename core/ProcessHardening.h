// Keeping the password out of what a process leaves behind: core files, debugger reads, freed memory.
#pragma once

#include <cstddef>
#include <string>

// No core file and no reading of this process's memory by other processes of the same
// user (on Linux: not dumpable). Each program calls it first thing in main.
void MarkProcessNotDumpable();

// Overwrites `size` bytes in a way the compiler cannot leave out (OPENSSL_cleanse).
void WipeBytes(void* bytes, size_t size);
// The characters of `text`, then empties it: its buffer holds no password when freed.
void WipeString(std::string& text);

// Wipes a string holding a password when the scope it guards ends, however it ends.
// Declared right after the string, so it runs before the string is freed.
class WipedOnExit {
public:
    explicit WipedOnExit(std::string& text) : text_(text) {}
    ~WipedOnExit() { WipeString(text_); }
    WipedOnExit(const WipedOnExit&) = delete;
    WipedOnExit& operator=(const WipedOnExit&) = delete;

private:
    std::string& text_;
};
