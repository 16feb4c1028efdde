// Writing files so that a crash, a kill or a full disk never leaves one truncated: whole files
// replaced atomically, lines appended and synced.
#pragma once

#include <string>

// Writes `bytes` to a temporary file in the same directory, flushes and syncs it,
// then renames it over `path`. An existing file keeps its permission bits; a new
// one gets `newFileMode` (POSIX; ignored on Windows). Returns 0, or -1 when the
// new contents could not be written completely (the old file is then untouched).
int ReplaceFileAtomically(const std::string& path, const std::string& bytes,
                          int newFileMode = 0644);

// Appends `bytes` to `path` (made with `newFileMode` when missing) and syncs it, so a
// crash loses at most what was being written. Returns 0, or -1 when not all of it was
// written (a full disk: part of it may have reached the file).
int AppendToFile(const std::string& path, const std::string& bytes, int newFileMode = 0644);

// Tests: make the next write fail after `bytesBeforeFailure` bytes (-1 turns it off).
// The failure is used up by that one call of ReplaceFileAtomically.
void InjectAtomicWriteFailure(long bytesBeforeFailure);

// Tests: make the next append fail after `bytesBeforeFailure` bytes (-1 turns it off).
void InjectAppendFailure(long bytesBeforeFailure);

// For the platform halves: the injected failure, or -1; taking it clears it.
long TakeInjectedAtomicWriteFailure();
long TakeInjectedAppendFailure();
