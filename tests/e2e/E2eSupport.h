// Helpers of the end-to-end tests: a fresh working directory, child processes, a small JSON reader.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/TempDir.h"

// Each test runs in a new temporary directory, the current one while it runs.
class TempDirTest : public ::testing::Test {
private:
    TempDir temp_;

protected:
    const std::string dir_ = temp_.Path();
};

bool FileExists(const std::string& path);
std::string Cp1251Bytes(const std::string& utf8);  // UTF-8 to Windows-1251, for expected bytes

struct ProcessResult {
    int exitCode = -1;  // -1: killed or not started
    std::string out;
    std::string err;
    double seconds = 0;
};

// Runs a program to its end (killed after `timeoutMs`), feeding `input` to its stdin.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input = "",
                         int timeoutMs = 20000);

// A program left running; its standard error (and output) go to files.
class Background {
public:
    Background(const std::vector<std::string>& argv, const std::string& stderrPath,
               const std::string& stdoutPath = "/dev/null");
    ~Background();  // kills it if still running
    // Waits for a line of the error file (or of `path`) that contains `marker`; returns the line.
    std::string WaitForLine(const std::string& marker, int timeoutMs = 5000,
                            const std::string& path = "") const;
    // Sends the signal `times` times, `gapMicros` apart, and waits; returns the exit code
    // (-1 killed).
    int Stop(int signal, int times = 1, int gapMicros = 0);

private:
    int pid_ = -1;
    std::string stderrPath_;
};

// The port of a brin-server started with --listen 127.0.0.1:0, from its "listening on" line.
std::string ListeningPort(const Background& server);

// A JSON value as far as the tests need it; numbers keep their text, so 64-bit values compare
// exactly.
struct Json {
    enum Type { Null, Bool, Number, String, Array, Object } type = Null;
    std::string text;  // String: the decoded text; Number, Bool: the literal
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> fields;

    const Json& operator[](const std::string& key) const;  // Null when missing
    bool Has(const std::string& key) const;
};

// Parses one complete JSON text; false (with `error`) when it is not one.
bool ParseJson(const std::string& text, Json* out, std::string* error);

// Every line of `output` as a JSON object; a test failure for a line that is not one.
std::vector<Json> JsonLines(const std::string& output);
