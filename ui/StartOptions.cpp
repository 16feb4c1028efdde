// brin2's option table, its usage text and the --autostart switch.
#include "ui/StartOptions.h"

#include <QDir>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/OptionTable.h"
#include "core/Version.h"
#include "core/WorkDir.h"
#include "ui/Autostart.h"

namespace {

const OptionSpec<StartOptions> kOptions[] = {
    {"--dir", "DIR", "work in DIR (made owner-only when missing) instead of the current directory",
     [](StartOptions& o, const std::string& v) {
         o.userDir = false;
         return TakeDirOption(v, &o.dir);
     }},
    {"--user-dir", nullptr, "work in the per-user directory (" BRIN_USER_DIR_SHOWN ")",
     [](StartOptions& o, const std::string&) {
         o.userDir = true;
         return TakeUserDirOption(&o.dir);
     }},
    {"--hidden", nullptr, "start hidden in the tray when the desktop has a notification area",
     [](StartOptions& o, const std::string&) -> std::string {
         o.hidden = true;
         return "";
     }},
    {"--autostart", "on|off",
     "start at login, hidden in the tray (on), or no longer (off); then exit",
     [](StartOptions& o, const std::string& v) -> std::string {
         if (v != "on" && v != "off") return "--autostart wants on or off";
         o.autostart = v;
         return "";
     }},
    {"--help", nullptr, "show this help and exit",
     [](StartOptions& o, const std::string&) -> std::string {
         o.help = true;
         return "";
     }},
    {"--version", nullptr, "show the version and exit",
     [](StartOptions& o, const std::string&) -> std::string {
         o.version = true;
         return "";
     }},
};

// Qt's own command-line options: those that take a value, and switches.
const char* const kQtValueOptions[] = {"-platform",      "-platformpluginpath",
                                       "-platformtheme", "-plugin",
                                       "-style",         "-stylesheet",
                                       "-session",       "-display",
                                       "-name",          "-title",
                                       "-geometry",      "-qwindowgeometry",
                                       "-qwindowicon",   "-qwindowtitle"};
const char* const kQtSwitches[] = {"-reverse", "-widgetcount", "-nograb", "-dograb", "-sync"};

// Whether `word` is one of Qt's `options`, with its one dash or with two (Qt takes both).
template <size_t N>
bool MatchesQtOption(const char* const (&options)[N], const std::string& word) {
    for (const char* n : options)
        if (word == n || word == std::string("-") + n) return true;
    return false;
}

std::string Usage() {
    return "usage: brin2 [options]\n"
           "The Internet access client: keeps the session with the provider's access server,\n"
           "shows the balance, the traffic and the provider's messages, and lives in the tray.\n"
           "It keeps brin.ini, history.ini and " BRIN_CHECK_SCRIPT
           " in the current directory, or in the\n"
           "one --dir or --user-dir names. A second start on the same directory shows the\n"
           "running window and exits.\n\noptions:\n" +
           OptionLines(kOptions, 22) +
           "\nexit codes: 0 done, 1 could not start (no display, directory, its lock, sockets),\n"
           "64 bad usage.\n";
}

// Qt's messages while the window system is reached, kept to be passed on.
struct HeldMessage {
    QtMsgType type;
    std::string file, function, category;
    int line;
    QString text;
};
std::vector<HeldMessage> heldMessages;
QtMessageHandler previousHandler = nullptr;

[[maybe_unused]] std::string DisplayNamed() {  // the variables that name a display
    std::string named;
    for (const char* variable : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DISPLAY"}) {
        const char* value = std::getenv(variable);
        if (value == nullptr || value[0] == '\0') continue;
        named += (named.empty() ? "" : ", ") + std::string(variable) + "=" + value;
    }
    return named;
}

void HoldMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        // Only the window system fails this early: no display, or one that cannot be opened.
#ifdef Q_OS_WIN
        // Windows has no display to miss: its window system itself failed to load.
        std::fprintf(stderr, "brin2: the window system could not be started: %s\n",
                     text.toLocal8Bit().constData());
#else
        const std::string named = DisplayNamed();
        if (named.empty())
            std::fputs("brin2: no display: DISPLAY is not set (brin-cli needs none)\n", stderr);
        else
            std::fprintf(stderr, "brin2: cannot open the display (%s; brin-cli needs none)\n",
                         named.c_str());
#endif
        std::fflush(stderr);
        std::_Exit(1);
    }
    heldMessages.push_back({type, context.file != nullptr ? context.file : "",
                            context.function != nullptr ? context.function : "",
                            context.category != nullptr ? context.category : "", context.line,
                            text});
}

}  // namespace

WindowSystemGuard::WindowSystemGuard() {
    previousHandler = qInstallMessageHandler(HoldMessage);
}

WindowSystemGuard::~WindowSystemGuard() {
    qInstallMessageHandler(previousHandler);
    for (const HeldMessage& m : heldMessages) {
        const QMessageLogContext context(m.file.c_str(), m.line, m.function.c_str(),
                                         m.category.c_str());
        qt_message_output(m.type, context, m.text);
    }
    heldMessages.clear();
}

int ReadStartOptions(int argc, char** argv, StartOptions* options) {
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (MatchesQtOption(kQtValueOptions, word)) {
            ++i;  // and its value
            continue;
        }
        if (MatchesQtOption(kQtSwitches, word)) continue;
        words.push_back(word);
    }
    std::string error;
    if (!ParseOptions(kOptions, words, options, &error, {{"--dir", "--user-dir"}})) {
        std::fprintf(stderr, "brin2: %s\n%s", error.c_str(), UsageHint("brin2").c_str());
        return 64;
    }
    if (options->help) {
        std::fputs(Usage().c_str(), stdout);
        return 0;
    }
    if (options->version) {
        std::puts("brin2 " BRIN_VERSION);
        return 0;
    }
    if (options->autostart.empty()) return -1;

    std::string dir = options->dir.empty() ? UserConfigDir() : options->dir;
    const QString absolute = QDir(QString::fromLocal8Bit(dir.c_str())).absolutePath();
    QString message;
    const bool done = SetAutostart(
        options->autostart == "on", ProgramPath(),
        {QStringLiteral("--dir"), QDir::toNativeSeparators(absolute), QStringLiteral("--hidden")},
        &message);
    std::fprintf(done ? stdout : stderr, "brin2: %s\n", message.toLocal8Bit().constData());
    return done ? 0 : 1;
}
