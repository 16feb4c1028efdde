// brin-cli: the session engine driven by a one-second tick, brin.ini and history.ini used as the
// window uses them.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

class ClientSession;
class Clock;
class SettingsStore;
class TickSource;
struct SessionSettings;

// Exit codes of brin-cli.
enum CliExit : int {
    kExitDone = 0,
    kExitFailure = 1,  // no socket (the engine's own exit), no directory, an unsafe one, no lock
    kExitNoAnswer = 2,
    kExitRejected = 3,
    kExitLost = 4,
    kExitBusy = 5,  // another client uses the directory
    kExitUsage = 64,
};

struct CliOptions {
    // Given on the command line, else brin.ini's.
    std::optional<std::string> server;  // dotted IPv4
    std::optional<int32_t> port;
    std::optional<std::string> login;  // Windows-1251
    bool passwordStdin = false;
    bool save = false;
    bool once = false;
    long polls = 0;  // 0: no limit
    bool keep = false;
    bool json = false;
    bool volumeSerial = false;
    bool usage = false;  // the daily table and the forecast from usage.csv
    std::string dir;  // the directory to work in; empty: the current one
    bool userDir = false;  // dir is the per-user directory (--user-dir)
    bool help = false;
    bool version = false;
};

class CliApp {
public:
    // All output goes to `out` (events) and `err` (errors); `in` gives the password line.
    CliApp(std::istream& in, std::ostream& out, std::ostream& err);

    // Replacements for tests: the clock of the engine and of the reconnect rule,
    // and the tick (its false return is the stop signal). Default: the system
    // clock and SignalTicks.
    void SetClock(Clock* clock) { clock_ = clock; }
    void SetTickSource(TickSource* ticks) { ticks_ = ticks; }

    // `args` without the program name. Returns the exit code.
    int Run(const std::vector<std::string>& args);

    // Fills `options`; false with a one-line `error` for bad usage.
    static bool ParseOptions(const std::vector<std::string>& args, CliOptions* options,
                             std::string* error);
    static std::string Usage();

private:
    int UsageError(const std::string& message);
    // The lock, the engine and the store, then the two parts of a session run.
    int Session(const CliOptions& options, const std::string& typedPassword);
    // The login, password, server, port and KeepConn of this run, from the options and
    // brin.ini; kExitDone, or the exit code of a value that cannot be used.
    int ResolveSettings(const CliOptions& options, const std::string& typedPassword,
                        SettingsStore& store, SessionSettings* settings, std::string* portText);
    // The connection and the tick loop to the end of the run; its exit code.
    int RunSession(const CliOptions& options, ClientSession& session, SettingsStore& store,
                   const SessionSettings& settings, const std::string& portText,
                   TickSource& ticks);
    int UsageReport(const CliOptions& options);
    // One line when brin.ini held lines the store could not keep.
    void ReportDroppedLines(const SettingsStore& store);
    // A bad value of brin.ini: a line naming the file, the key and the value; bad usage.
    int BadSetting(const char* key, const std::string& value, const char* what,
                   const char* option);

    std::istream& in_;
    std::ostream& out_;
    std::ostream& err_;
    Clock* clock_ = nullptr;
    TickSource* ticks_ = nullptr;
};
