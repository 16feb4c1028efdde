// brin-cli's option table, its tick loop and its two output forms (readable lines, JSON Lines).
#include "cli/CliApp.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "cli/EventWriter.h"
#include "cli/TickSource.h"
#include "core/ClientSession.h"
#include "core/Clock.h"
#include "core/Cp1251.h"
#include "core/DirectoryLock.h"
#include "core/DisplayFormat.h"
#include "core/FieldLimits.h"
#include "core/OptionTable.h"
#include "core/ProcessHardening.h"
#include "core/UsageLog.h"
#include "core/Version.h"
#include "core/WorkDir.h"
#include "messages/MessageHistory.h"
#include "settings/ConnectCommand.h"
#include "settings/SettingsStore.h"
#include "settings/VolumeSerial.h"

namespace {

// UTF-8 text from the command line or standard input into Windows-1251 bytes.
std::string ToCp1251(const std::string& utf8, const char* what, size_t limit) {
    std::string bytes;
    if (!Utf8ToCp1251(utf8, &bytes))
        return std::string("the ") + what + " holds a character that Windows-1251 cannot hold";
    if (bytes.find('\0') != std::string::npos)
        return std::string("the ") + what + " holds a zero byte";
    if (bytes.size() > limit)
        return std::string("the ") + what + " is longer than " + std::to_string(limit) +
               " characters";
    return std::string();
}

const OptionSpec<CliOptions> kOptions[] = {
    {"--server", "ADDR", "server IPv4 address for this run (default: IP in brin.ini)",
     [](CliOptions& o, const std::string& v) -> std::string {
         if (v.size() > kAddressLimit || ParseIPv4(v.c_str()) == 0xFFFFFFFFu)
             return "--server wants a dotted IPv4 address, such as 10.0.0.1";
         o.server = v;
         return "";
     }},
    {"--port", "N", "server UDP port for this run (default: Port in brin.ini)",
     [](CliOptions& o, const std::string& v) -> std::string {
         long port = 0;
         if (!ParseNumber(v, 1, 65535, &port)) return "--port wants a number from 1 to 65535";
         o.port = static_cast<int32_t>(port);
         return "";
     }},
    {"--login", "NAME", "login for this run (default: Login in brin.ini)",
     [](CliOptions& o, const std::string& v) -> std::string {
         std::string error = ToCp1251(v, "login", kLoginLimit);
         if (!error.empty()) return error;
         o.login.emplace();
         Utf8ToCp1251(v, &*o.login);
         return "";
     }},
    {"--password-stdin", nullptr,
     "read the password as one line from standard input (default: the stored Pass)",
     [](CliOptions& o, const std::string&) -> std::string {
         o.passwordStdin = true;
         return "";
     }},
    {"--save", nullptr,
     "store Login, Pass, IP and Port in brin.ini before connecting, as the window's Connect does",
     [](CliOptions& o, const std::string&) -> std::string {
         o.save = true;
         return "";
     }},
    {"--once", nullptr, "connect, print the first snapshot, log out and exit",
     [](CliOptions& o, const std::string&) -> std::string {
         o.once = true;
         return "";
     }},
    {"--polls", "N", "log out and exit after N poll replies",
     [](CliOptions& o, const std::string& v) -> std::string {
         if (!ParseNumber(v, 1, 1000000000, &o.polls)) return "--polls wants a number from 1 up";
         return "";
     }},
    {"--keep", nullptr, "connect again as KeepConn does: 31 s after the last attempt, once idle",
     [](CliOptions& o, const std::string&) -> std::string {
         o.keep = true;
         return "";
     }},
    {"--json", nullptr, "JSON Lines on standard output, one object per event",
     [](CliOptions& o, const std::string&) -> std::string {
         o.json = true;
         return "";
     }},
    {"--dir", "DIR", "work in DIR (made owner-only when missing) instead of the current directory",
     [](CliOptions& o, const std::string& v) {
         o.userDir = false;
         return TakeDirOption(v, &o.dir);
     }},
    {"--user-dir", nullptr,
     "work in the per-user directory the window uses (" BRIN_USER_DIR_SHOWN ")",
     [](CliOptions& o, const std::string&) {
         o.userDir = true;
         return TakeUserDirOption(&o.dir);
     }},
    {"--volume-serial", nullptr,
     "print the volume serial that keys the stored password here, and exit",
     [](CliOptions& o, const std::string&) -> std::string {
         o.volumeSerial = true;
         return "";
     }},
    {"--usage", nullptr,
     "print the last 30 days of usage.csv and the forecast, without connecting, and exit",
     [](CliOptions& o, const std::string&) -> std::string {
         o.usage = true;
         return "";
     }},
    {"--help", nullptr, "show this help and exit",
     [](CliOptions& o, const std::string&) -> std::string {
         o.help = true;
         return "";
     }},
    {"--version", nullptr, "show the version and exit",
     [](CliOptions& o, const std::string&) -> std::string {
         o.version = true;
         return "";
     }},
};

bool DirectoryExists(const std::string& dir) {
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::u8path(dir), ignored);
}

// history.ini while it cannot be written (a full disk, a read-only directory): the
// messages stay in memory and are written by the tick's retry, one warning line
// when writing starts to fail and one when it works again, and a last try at the end.
class HistoryKeeper : public MessageHistory {  // loads history.ini
public:
    explicit HistoryKeeper(std::ostream& err) : err_(err) {}
    ~HistoryKeeper() override {
        if (RetrySave() != 0)
            err_ << "brin-cli: warning: history.ini could not be written; the messages of this "
                    "run are not in it\n"
                 << std::flush;
    }

protected:
    void SaveFailingChanged() override {
        err_ << (SaveFailing() ? "brin-cli: warning: could not write history.ini; new messages "
                                 "are kept and written once it can be written\n"
                               : "brin-cli: history.ini written again\n")
             << std::flush;
    }

private:
    std::ostream& err_;
};

// Asleep until the session has work, or until the next try of a history.ini that waits to be
// written.
SessionWake NextWake(ClientSession& session, const SessionSettings& settings,
                     MessageHistory& history) {
    SessionWake wake = session.NextWake(settings);
    if (!history.SaveFailing()) return wake;
    const int32_t retry = history.NextRetry(session.GetClock().Now());
    // The earlier of the two, wrap-safe.
    if (!wake.timed ||
        static_cast<int32_t>(static_cast<uint32_t>(retry) - static_cast<uint32_t>(wake.at)) < 0)
        wake.at = retry;
    wake.timed = true;
    return wake;
}

}  // namespace

CliApp::CliApp(std::istream& in, std::ostream& out, std::ostream& err)
    : in_(in), out_(out), err_(err) {}

bool CliApp::ParseOptions(const std::vector<std::string>& args, CliOptions* options,
                          std::string* error) {
    *options = CliOptions();
    return ::ParseOptions(kOptions, args, options, error,
                          {{"--dir", "--user-dir"}, {"--once", "--polls"}});
}

std::string CliApp::Usage() {
    std::string text =
        "usage: brin-cli [options]\n"
        "Connects to the access server with the settings of brin.ini in the current\n"
        "directory, polls every 30 s and prints balance, traffic and messages.\n\noptions:\n";
    text += OptionLines(kOptions, 22);
    text +=
        "\nexit codes: 0 done, 1 no socket, no directory, an unsafe one (others may write\n"
        "it, or a file in it is another user's) or no lock, 2 no answer, 3 rejected,\n"
        "4 lost, 5 another client uses the directory, 64 bad usage or an IP, Port or\n"
        "Login in brin.ini that cannot be used;\n"
        "SIGINT, SIGTERM, SIGHUP and a closed standard output log out when connected\n"
        "and exit 0.\n";
    return text;
}

int CliApp::UsageError(const std::string& message) {
    err_ << "brin-cli: " << message << "\n" << UsageHint("brin-cli") << std::flush;
    return kExitUsage;
}

int CliApp::Run(const std::vector<std::string>& args) {
    CliOptions options;
    std::string error;
    if (!ParseOptions(args, &options, &error)) return UsageError(error);
    if (options.help) {
        out_ << Usage() << std::flush;
        return kExitDone;
    }
    if (options.version) {
        out_ << "brin-cli " BRIN_VERSION "\n" << std::flush;
        return kExitDone;
    }

    // Whatever the command line alone is refused for is refused before the directory is
    // made or brin.ini touched: a mistake creates nothing.
    std::string typedPassword;
    const WipedOnExit wipeTyped(typedPassword);
    const bool session = !options.volumeSerial && !options.usage;
    if (options.passwordStdin && session) {
        std::string line;
        const WipedOnExit wipeLine(line);
        if (!std::getline(in_, line))
            return UsageError("--password-stdin found no line on standard input");
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        const std::string problem = ToCp1251(line, "password", kPasswordLimit);
        if (!problem.empty()) return UsageError(problem);
        Utf8ToCp1251(line, &typedPassword);
    }
    // brin.ini keeps a value's first word only, and '=' ends a name; what it holds
    // already is always one such word.
    const auto storable = [](const std::string& text) {
        return text.find_first_of(" \t=") == std::string::npos;
    };
    if (options.save && options.login && !storable(*options.login))
        return UsageError("a login with a blank, a tab or '=' cannot be stored in brin.ini");
    if (options.save && options.server && !storable(*options.server))
        return UsageError("an address with a blank, a tab or '=' cannot be stored in brin.ini");
    // A directory that is still to be made has no brin.ini to name the server.
    if (session && !options.dir.empty() && !options.server && !DirectoryExists(options.dir))
        return UsageError("no server address: " + options.dir +
                          " does not exist yet, so give --server");

    if (!options.dir.empty() && !EnterDirectory(options.dir, options.userDir, &error)) {
        err_ << "brin-cli: " << error << "\n" << std::flush;
        return kExitFailure;
    }
    if (options.volumeSerial) {
        char text[16];
        std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(VolumeSerialNumber()));
        out_ << text << "\n" << std::flush;
        return kExitDone;
    }
    // Before anything is read or written there: a directory others may write, or a file
    // or link of another user's, is refused, and nothing in it is touched.
    if (!CheckWorkDirectory(options.dir.empty() ? CurrentDirectoryName() : options.dir, &error)) {
        err_ << "brin-cli: " << error << "\n" << std::flush;
        return kExitFailure;
    }
    if (options.usage) return UsageReport(options);
    return Session(options, typedPassword);
}

int CliApp::UsageReport(const CliOptions& options) {
    // Only read: no lock, no brin.ini, so it runs beside a client that is writing the file.
    const UsageLog log;
    const int32_t now = (clock_ != nullptr ? *clock_ : DefaultClock()).Now();
    EventWriter events(out_, options.json);
    bool first = true;
    for (const UsageDay& day : UsageDays(log.Records(), UsageWatch::Seconds(now))) {
        events.Day(day, first);
        first = false;
    }
    events.ForecastEvent(MakeForecast(log.Records(), UsageWatch::Seconds(now)));
    return kExitDone;
}

void CliApp::ReportDroppedLines(const SettingsStore& store) {
    if (store.DroppedLines() == 0) return;
    err_ << "brin-cli: brin.ini: " << store.DroppedLines()
         << (store.DroppedLines() == 1 ? " line" : " lines") << " could not be read; "
         << (store.BackupOutcome() == SettingsStore::Backup::Kept
                 ? "the file as it was is kept as brin.ini.bak\n"
                 : "brin.ini.bak could not be written, so brin.ini is left as it was\n")
         << std::flush;
}

int CliApp::BadSetting(const char* key, const std::string& value, const char* what,
                       const char* option) {
    err_ << "brin-cli: brin.ini: " << key << " = " << Cp1251ToUtf8(value) << " " << what
         << "; set " << key << " there or give " << option << "\n"
         << std::flush;
    return kExitUsage;
}

int CliApp::Session(const CliOptions& options, const std::string& typedPassword) {
    // One client per directory: two would write each other's brin.ini and history.ini.
    DirectoryLock lock;
    std::string holder;
    switch (lock.Acquire(&holder)) {
        case DirectoryLock::Acquired:
            break;
        case DirectoryLock::Busy:
            err_ << "brin-cli: this directory is in use by " << holder << "\n" << std::flush;
            return kExitBusy;
        case DirectoryLock::Failed:
            // No run without the lock: another client could be writing the same files.
            err_ << "brin-cli: " << holder << "\n" << std::flush;
            return kExitFailure;
    }

    // From here on a stop signal waits for the tick loop, which logs out and saves:
    // nothing of the run is cut off half done.
    std::unique_ptr<SignalTicks> signalTicks;
    TickSource* ticks = ticks_;
    if (ticks == nullptr) {
        signalTicks.reset(new SignalTicks);
        ticks = signalTicks.get();
    }

    // The window's order: the engine first, then the store (which rewrites brin.ini).
    ClientSession session(clock_);
    SettingsStore store;
    ReportDroppedLines(store);
    SessionSettings settings;  // wipes its password copy itself
    std::string portText;
    const int refused = ResolveSettings(options, typedPassword, store, &settings, &portText);
    if (refused != kExitDone) return refused;
    return RunSession(options, session, store, settings, portText, *ticks);
}

int CliApp::ResolveSettings(const CliOptions& options, const std::string& typedPassword,
                            SettingsStore& store, SessionSettings* settings,
                            std::string* portText) {
    const std::string login = options.login ? *options.login : store.StoredLogin();
    std::string stored = options.passwordStdin ? std::string() : store.StoredPassword();
    const WipedOnExit wipeStored(stored);
    const std::string server = options.server ? *options.server : store.ipText;
    *portText = options.port ? std::to_string(*options.port) : store.portText;

    // What brin.ini gives is checked as the command line's values are, before anything
    // is sent: else a mistyped IP or Port would only show as a server that does not answer.
    if (login.size() > kLoginLimit)
        return BadSetting("Login", login,
                          ("is longer than " + std::to_string(kLoginLimit) + " characters").c_str(),
                          "--login");
    if (server.empty()) return UsageError("no server address: give --server or set IP in brin.ini");
    if (server.size() > kAddressLimit || ParseIPv4(server.c_str()) == 0xFFFFFFFFu)
        return BadSetting("IP", server, "is not a dotted IPv4 address", "--server");
    long portNumber = 0;
    if (!ParseNumber(*portText, 1, 65535, &portNumber))
        return BadSetting("Port", *portText, "is not a port number from 1 to 65535", "--port");

    settings->login = login;
    // Assigned in place: a temporary copy of the password would be left unwiped.
    if (options.passwordStdin)
        settings->password = typedPassword;
    else
        settings->password.assign(stored, 0, kPasswordLimit);
    settings->serverAddress = server;
    settings->port = SettingsStore::ReadPort(*portText);
    settings->keepConn = !options.once && (options.keep || store.keepConn != 0);
    return kExitDone;
}

int CliApp::RunSession(const CliOptions& options, ClientSession& session, SettingsStore& store,
                       const SessionSettings& settings, const std::string& portText,
                       TickSource& ticks) {
    HistoryKeeper history(err_);
    UsageWatch usage;
    {
        bool enabled = false;
        int32_t threshold = 0;
        if (!ReadLowBalance(store.GetValue(SettingsStore::kLowBalance), &enabled, &threshold))
            err_ << "brin-cli: warning: LowBalance in brin.ini is not a sum of money; no "
                    "low-balance warning\n"
                 << std::flush;
        usage.Alarm().SetThreshold(enabled, threshold);
    }
    EventWriter events(out_, options.json);
    const long replyLimit = options.once ? 1 : options.polls;

    // With --save as the window's Connect command: the settings stored, the file, the connection.
    if (!options.save)
        session.Connect(settings);
    else if (StoreAndConnect(session, store, settings, portText) != 0)
        err_ << "brin-cli: could not write brin.ini\n" << std::flush;
    long replies = 0;
    for (;;) {
        // Output that can no longer be written (its reader went away) ends the run
        // like a stop signal.
        if (!out_ || !ticks.WaitFor(NextWake(session, settings, history), session.Socket())) {
            if (session.Exit()) events.BareEvent("disconnected", "disconnected");
            return kExitDone;
        }
        const TickEvents tick = session.Tick(settings);
        const int32_t now = session.GetClock().Now();
        history.RetrySaveWhenDue(now);
        if (const char* status = ResultStatusText(tick.result)) {
            if (tick.result == NoAnswer)
                events.BareEvent("no_answer", (std::string("no answer: ") + status).c_str());
            else
                events.BareEvent("rejected", (std::string("rejected: ") + status).c_str());
            if (!settings.keepConn) return tick.result == NoAnswer ? kExitNoAnswer : kExitRejected;
            continue;
        }
        if (tick.connectedChanged && tick.connected)
            events.Connected(settings.login, settings.serverAddress, settings.port & 0xFFFF);
        const SessionView view = session.View();
        if (tick.replyApplied) {
            events.Snapshot(view);
            ++replies;
        }
        const UsageWatch::Outcome used = usage.OnTick(tick, view, now);
        if (used.failingChanged)
            err_ << (usage.Log().WriteFailing()
                         ? "brin-cli: warning: could not write usage.csv; the session goes on\n"
                         : "brin-cli: usage.csv written again\n")
                 << std::flush;
        if (used.lowBalance)
            events.LowBalance(view.balance, usage.Alarm().Threshold(), usage.CurrentForecast(now));
        // A message repeated by the network (AddMessage's 1) is shown once.
        if (tick.hasMessage && history.AddMessage(tick.messageTime, tick.messageText.c_str()) == 0)
            events.Message(tick.messageTime, tick.messageText);
        if (tick.result == Lost) {
            events.BareEvent("lost", "lost: the session was lost");
            if (!settings.keepConn) return kExitLost;
        }
        if (tick.replyApplied && replyLimit > 0 && replies >= replyLimit) {
            session.Exit();
            events.BareEvent("disconnected", "disconnected");
            return kExitDone;
        }
    }
}
