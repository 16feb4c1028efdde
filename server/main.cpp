// brin-server: reads its options and accounts, then serves until SIGINT or SIGTERM.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "core/Clock.h"
#include "core/OptionTable.h"
#include "core/ProcessHardening.h"
#include "core/Sleeper.h"
#include "core/UdpSocket.h"
#include "core/Version.h"
#include "server/AccessServer.h"
#include "server/Accounts.h"

namespace {

struct ServerArgs {
    std::string listen = "127.0.0.1:5001";
    std::string accountsFile;
    bool demo = false;
    uint32_t dropPolls = 0;
    AccessServer::Options limits;  // the HELLO limit and the half-open bound
    bool help = false;
    bool version = false;
};

// A whole number from `min` to `max` for `option`, or the error line.
std::string TakeCount(const std::string& option, const std::string& v, unsigned long min,
                      unsigned long max, unsigned long* out) {
    long n = 0;
    if (!ParseNumber(v, static_cast<long>(min), static_cast<long>(max), &n))
        return "bad value '" + v + "' for " + option + " (" + std::to_string(min) + " to " +
               std::to_string(max) + ")";
    *out = static_cast<unsigned long>(n);
    return std::string();
}

const OptionSpec<ServerArgs> kOptions[] = {
    {"--listen", "ADDR:PORT",
     "address and UDP port to serve (default 127.0.0.1:5001; port 0 picks a free one)",
     [](ServerArgs& a, const std::string& v) -> std::string {
         a.listen = v;
         return std::string();
     }},
    {"--accounts", "FILE", "accounts file (UTF-8, a [login] section per account)",
     [](ServerArgs& a, const std::string& v) -> std::string {
         a.accountsFile = v;
         return std::string();
     }},
    {"--demo", nullptr,
     "add the account demo/demo; every poll raises the counters and lowers the balance",
     [](ServerArgs& a, const std::string&) -> std::string {
         a.demo = true;
         return std::string();
     }},
    {"--drop-polls", "N",
     "leave the first N POLLs of every session unanswered (3 or more: the client loses it)",
     [](ServerArgs& a, const std::string& v) -> std::string {
         char* end = nullptr;
         const unsigned long n = std::strtoul(v.c_str(), &end, 10);
         if (v.empty() || *end != '\0' || v[0] == '-' || n > 1000000)
             return "bad value '" + v + "' for --drop-polls";
         a.dropPolls = static_cast<uint32_t>(n);
         return std::string();
     }},
    {"--hello-burst", "N",
     "HELLOs one source address (all its ports) gets answered at once; 0: no limit (default 5)",
     [](ServerArgs& a, const std::string& v) -> std::string {
         unsigned long n = 0;
         const std::string error = TakeCount("--hello-burst", v, 0, 1000000, &n);
         if (error.empty()) a.limits.helloBurst = static_cast<uint32_t>(n);
         return error;
     }},
    {"--hello-interval", "S",
     "after the burst, one HELLO of that address every S seconds (default 1)",
     [](ServerArgs& a, const std::string& v) -> std::string {
         unsigned long n = 0;
         const std::string error = TakeCount("--hello-interval", v, 1, 86400, &n);
         if (error.empty()) a.limits.helloInterval = static_cast<int32_t>(n);
         return error;
     }},
    {"--max-half-open", "N",
     "handshakes not yet proven by a CONFIRM or POLL kept at most, the oldest dropped (4096)",
     [](ServerArgs& a, const std::string& v) -> std::string {
         unsigned long n = 0;
         const std::string error = TakeCount("--max-half-open", v, 1, 10000000, &n);
         if (error.empty()) a.limits.maxHalfOpen = n;
         return error;
     }},
    {"--help", nullptr, "show this help and exit",
     [](ServerArgs& a, const std::string&) -> std::string {
         a.help = true;
         return std::string();
     }},
    {"--version", nullptr, "show the version and exit",
     [](ServerArgs& a, const std::string&) -> std::string {
         a.version = true;
         return std::string();
     }},
};

std::string Usage() {
    std::string text =
        "usage: brin-server [options]\n"
        "A reference access server for the demo, the tests and a provider's own checks.\n"
        "Needs --accounts, --demo or both.\n\noptions:\n";
    return text + OptionLines(kOptions, 24) +
           "\nexit codes: 0 stopped by SIGINT or SIGTERM, 1 the accounts file cannot be read or\n"
           "the address cannot be bound, 64 bad usage.\n";
}

int UsageError(const std::string& message) {
    std::cerr << "brin-server: " << message << "\n" << UsageHint("brin-server");
    return 64;
}

// Four decimal parts of 0 to 255 parted by dots, nothing else (no short forms, no blanks).
bool IsDottedQuad(const std::string& text) {
    int parts = 0;
    size_t i = 0;
    while (i <= text.size()) {
        size_t digits = 0;
        unsigned value = 0;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4; ++i, ++digits)
            value = value * 10 + static_cast<unsigned>(text[i] - '0');
        if (digits == 0 || digits > 3 || value > 255) return false;
        ++parts;
        if (i == text.size()) break;
        if (text[i] != '.') return false;
        ++i;
    }
    return parts == 4;
}

bool ParseListen(const std::string& text, Endpoint* out) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon > 15) return false;
    const std::string address = text.substr(0, colon), port = text.substr(colon + 1);
    if (!IsDottedQuad(address) || port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long p = std::strtoul(port.c_str(), nullptr, 10);
    if (p > 65535) return false;
    out->address = ParseIPv4(address.c_str());
    if (out->address == 0xFFFFFFFFu) return false;
    out->port = PortToNetwork(static_cast<uint16_t>(p));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    MarkProcessNotDumpable();  // it holds every account's password
#ifdef SIGPIPE
    // A log reader that went away fails the write, which the server survives; the
    // signal would end it and every session with it.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    ServerArgs args;
    std::string error;
    if (!ParseOptions(kOptions, std::vector<std::string>(argv + 1, argv + argc), &args, &error))
        return UsageError(error);
    if (args.help) {
        std::cout << Usage();
        return 0;
    }
    if (args.version) {
        std::cout << "brin-server " << BRIN_VERSION << "\n";
        return 0;
    }
    Endpoint listen;
    if (!ParseListen(args.listen, &listen))
        return UsageError("--listen wants a dotted IPv4 address and a port, as 127.0.0.1:5001");
    if (args.accountsFile.empty() && !args.demo)
        return UsageError("give --accounts FILE, --demo or both");

    std::vector<Account> accounts;
    if (!args.accountsFile.empty()) {
        std::error_code ignored;
        if (std::filesystem::is_directory(args.accountsFile, ignored)) {
            std::cerr << "brin-server: cannot read " << args.accountsFile << ": it is a directory\n";
            return 1;
        }
        errno = 0;
        std::ifstream in(args.accountsFile, std::ios::binary);
        if (!in) {
            std::cerr << "brin-server: cannot read " << args.accountsFile << ": "
                      << (errno != 0 ? std::strerror(errno) : "it cannot be opened") << "\n";
            return 1;
        }
        std::stringstream text;
        text << in.rdbuf();
        std::string error;
        if (!ParseAccounts(text.str(), &accounts, &error)) {
            std::cerr << "brin-server: " << args.accountsFile << ": " << error << "\n";
            return 1;
        }
    }
    if (args.demo) {
        accounts.push_back(DemoAccount());
        const std::string error = CheckAccountSet(accounts);
        if (!error.empty()) {
            std::cerr << "brin-server: with the demo account: " << error << "\n";
            return 1;
        }
    }

    AccessServer::Options options = args.limits;
    options.demo = args.demo;
    options.dropPolls = args.dropPolls;
    AccessServer server(std::move(accounts), options, DefaultClock(), &std::cerr);
    if (!server.Open(listen)) {
        std::cerr << "brin-server: cannot listen on " << args.listen << ": " << server.OpenError()
                  << "\n";
        return 1;
    }
    // SIGINT and SIGTERM end the run from here on; SIGHUP still ends the process at once.
    Sleeper sleeper(false);

    char where[32];
    FormatEndpoint(server.LocalEndpoint(), where, sizeof where);
    server.Note("listening on " + std::string(where) + ", " +
                std::to_string(server.Accounts().size()) + " account(s)" +
                (args.demo ? ", demo mode" : ""));

    // Asleep until a datagram comes or a session may expire.
    constexpr int64_t kIdleSleep = 3600;  // nothing open: a clock change ends it early
    for (;;) {
        if (server.Pump(0) < 0) {
            std::cerr << "brin-server: the socket failed\n";
            return 1;
        }
        const int32_t expiry = server.SecondsToNextExpiry();
        int64_t now;
        int ms;
        Sleeper::WallClock(&now, &ms);
        if (sleeper.SleepUntil(now + (expiry < 0 ? kIdleSleep : expiry), 0, &server.Socket()) ==
            Sleeper::kStop)
            break;
    }
    const AccessServer::Stats& stats = server.GetStats();
    server.Note("stopped: " + std::to_string(server.SessionCount()) + " session(s) open, " +
                std::to_string(stats.handshakes) + " handshake(s), " +
                std::to_string(stats.polls) + " poll reply(ies), " +
                std::to_string(stats.throttled) + " HELLO(s) over the limit");
    return 0;
}
