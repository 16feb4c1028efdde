// Writing files so that a crash, a kill or a full disk never leaves one truncated: whole files
// replaced atomically and synced, lines appended.
#pragma once

#include <string>

// Writes `bytes` to a temporary file in the same directory, flushes and syncs it,
// then renames it over `path`. An existing file keeps its permission bits; a new
// one gets `newFileMode` (POSIX; ignored on Windows). Returns 0, or -1 when the
// new contents could not be written completely (the old file is then untouched).
int ReplaceFileAtomically(const std::string& path, const std::string& bytes,
                          int newFileMode = 0644);

// Appends `bytes` to `path` (made with `newFileMode` when missing), without a sync: once
// it returns the bytes are the system's, so a crash or a kill of the program loses at
// most what was being written; a crash of the machine may also lose what the system had
// not written back yet (on Linux up to about half a minute), or leave zero bytes in its
// place. Only for a file whose reader skips a damaged line and whose lines are told again
// (usage.csv); what is the only copy (a setting, a message) is replaced atomically.
// Returns 0, or -1 when not all of it was written (a full disk: part of it may have
// reached the file).
int AppendToFile(const std::string& path, const std::string& bytes, int newFileMode = 0644);
