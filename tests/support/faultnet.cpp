// brin-faultnet: the fault-injecting relay and a crowd of clients as programs, in real time, for
// scripts/soak.sh.
//
//   brin-faultnet relay --server PORT [--seed N] [--silent-at S --silent-for S] [--clean-after S]
//       relays 127.0.0.1:PORT with the default faults; prints "relaying on 127.0.0.1:P"; on
//       SIGTERM or SIGINT prints what it did and exits 0.
//   brin-faultnet crowd --port PORT --clients N --seconds S
//       N clients with KeepConn (login "crowd", password "crowd") to 127.0.0.1:PORT, one
//       tick a second for S seconds; prints how many are connected at the end and exits
//       without a LOGOUT, as if the machine went away.
#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/ClientSession.h"
#include "tests/support/FaultyRelay.h"

namespace {

volatile sig_atomic_t stopRequested = 0;

void OnStop(int) {
    stopRequested = 1;
}

int64_t MonotonicMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int Usage() {
    std::fprintf(stderr,
                 "usage: brin-faultnet relay --server PORT [--seed N] [--silent-at S "
                 "--silent-for S] [--clean-after S]\n"
                 "       brin-faultnet crowd --port PORT --clients N --seconds S\n");
    return 64;
}

// One socket per client on either side: a thousand clients need more than the usual 1024.
void RaiseFileLimit() {
    rlimit files;
    if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
}

int Relay(long port, uint32_t seed, long silentAt, long silentFor, long cleanAfter) {
    FaultPlan plan;
    plan.seed = seed;
    if (silentFor > 0) {
        plan.silentFromMs = silentAt * 1000;
        plan.silentForMs = silentFor * 1000;
    }
    Endpoint server;
    server.address = ParseIPv4("127.0.0.1");
    server.port = PortToNetwork(static_cast<uint16_t>(port));
    FaultyRelay relay(server, plan);
    std::printf("relaying on 127.0.0.1:%u\n", relay.Port());
    std::fflush(stdout);
    const int64_t start = MonotonicMs();
    bool clean = false;
    while (stopRequested == 0) {
        const int64_t now = MonotonicMs() - start;
        if (!clean && cleanAfter > 0 && now >= cleanAfter * 1000) {
            FaultPlan& p = relay.Plan();
            p.loss = p.duplicate = p.delayed = p.garbage = 0;
            clean = true;
        }
        if (relay.Pump(now) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const FaultyRelay::Stats& s = relay.GetStats();
    std::printf(
        "relayed for %.0f s: %llu received, %llu lost, %llu silenced, %llu duplicated, %llu "
        "delayed, %llu garbage, %llu sent, %zu clients\n",
        (MonotonicMs() - start) / 1000.0, static_cast<unsigned long long>(s.received),
        static_cast<unsigned long long>(s.lost), static_cast<unsigned long long>(s.silenced),
        static_cast<unsigned long long>(s.duplicated), static_cast<unsigned long long>(s.delayed),
        static_cast<unsigned long long>(s.garbage), static_cast<unsigned long long>(s.sent),
        relay.Clients());
    return 0;
}

int Crowd(long port, long clients, long seconds) {
    SessionSettings settings;
    settings.login = "crowd";
    settings.password = "crowd";
    settings.serverAddress = "127.0.0.1";
    settings.port = static_cast<int32_t>(port);
    settings.keepConn = true;
    std::vector<std::unique_ptr<ClientSession>> crowd;
    for (long i = 0; i < clients; ++i) {
        crowd.emplace_back(new ClientSession);
        crowd.back()->Connect(settings);
    }
    const auto start = std::chrono::steady_clock::now();
    for (long tick = 1; tick <= seconds && stopRequested == 0; ++tick) {
        std::this_thread::sleep_until(start + std::chrono::seconds(tick));
        for (auto& c : crowd) c->Tick(settings);
    }
    long connected = 0;
    for (auto& c : crowd) connected += c->View().connected ? 1 : 0;
    std::printf("%ld of %ld clients connected\n", connected, clients);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string mode = argv[1];
    long server = 0, port = 0, seed = 1, silentAt = 0, silentFor = 0, cleanAfter = 0, clients = 0,
         seconds = 0;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        const long v = std::strtol(argv[i + 1], nullptr, 10);
        if (a == "--server") server = v;
        else if (a == "--port") port = v;
        else if (a == "--seed") seed = v;
        else if (a == "--silent-at") silentAt = v;
        else if (a == "--silent-for") silentFor = v;
        else if (a == "--clean-after") cleanAfter = v;
        else if (a == "--clients") clients = v;
        else if (a == "--seconds") seconds = v;
        else return Usage();
    }
    signal(SIGTERM, OnStop);
    signal(SIGINT, OnStop);
    RaiseFileLimit();
    if (mode == "relay" && server > 0 && server < 65536)
        return Relay(server, static_cast<uint32_t>(seed), silentAt, silentFor, cleanAfter);
    if (mode == "crowd" && port > 0 && port < 65536 && clients > 0 && seconds > 0)
        return Crowd(port, clients, seconds);
    return Usage();
}
