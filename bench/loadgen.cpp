// brin-loadgen: many simulated clients on one socket against brin-server on loopback,
// with the server's CPU time per handshake and per poll and its memory per session.
//
// Every simulated client has its own loopback address (127.10.x.y) and the one
// local port: the socket is bound to the wildcard address, each datagram leaves
// with the client's address as its source (IP_PKTINFO) and each reply says by its
// destination which client it is for. Linux only.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/SendFrom.h"
#include "core/Cipher.h"
#include "core/TestSeams.h"
#include "core/Wire.h"

namespace {

const char kLogin[] = "load";
const char kPassword[] = "load";
constexpr int32_t kBalance = 4321000;
constexpr int kWindow = 64;       // requests in flight at most
constexpr int kResendMs = 300;    // a request unanswered this long is sent again
constexpr int kMaxResends = 200;  // per phase; beyond this the run fails
constexpr double kPhaseLimitSeconds = 120;

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double ProcessCpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// CPU time of the (single-threaded) server, in seconds: the scheduler's nanosecond
// count where the kernel gives it, else utime + stime in clock ticks.
double ServerCpuSeconds(pid_t pid) {
    std::ifstream sched("/proc/" + std::to_string(pid) + "/schedstat");
    unsigned long long ns = 0;
    if (sched >> ns && ns > 0) return ns / 1e9;
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string f;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> f; ++i) {
        if (i == 14) utime = std::stoull(f);
        if (i == 15) stime = std::stoull(f);
    }
    return static_cast<double>(utime + stime) / sysconf(_SC_CLK_TCK);
}

long ServerRssKb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6);
    return 0;
}

struct Client {
    uint32_t address = 0;  // network order
    uint8_t sessionKey[8] = {};
    uint64_t pollCounter = 0;
    uint8_t waiting = 0;  // the reply type awaited, 0 when idle
    double sentAt = 0;
};

class LoadGen {
public:
    LoadGen(int fd, uint16_t serverPort) : fd_(fd) {
        server_.sin_family = AF_INET;
        server_.sin_port = htons(serverPort);
        server_.sin_addr.s_addr = inet_addr("127.0.0.1");
        MakePasswordKey(kPassword, passwordKey_);
        wire::WriteLoginField(loginField_, kLogin);
        hello_[0] = wire::kHello;
        pair_.WritePublic(hello_ + wire::kHelloPublicOffset);
        DesEcbBlocks(hello_ + wire::kHelloPublicOffset, kDhSize / 8, passwordKey_, 1);
    }

    void Resize(size_t n) {
        clients_.assign(n, Client());
        for (size_t i = 0; i < n; ++i)
            clients_[i].address =
                htonl((127u << 24) | (10u << 16) | static_cast<uint32_t>((i / 250) << 8) |
                      static_cast<uint32_t>(1 + i % 250));
    }

    // `total` handshakes (HELLO, KEY_REPLY, CONFIRM), spread over the clients in turn.
    bool Handshakes(long total) { return Run(total, wire::kKeyReply); }
    // `total` polls (POLL, POLL_REPLY) over the established sessions in turn.
    bool Polls(long total) { return Run(total, wire::kPollReply); }

    void Logouts() {
        for (size_t i = 0; i < clients_.size(); ++i) {
            uint8_t packet[wire::kLogoutSize] = {wire::kLogout};
            std::memcpy(packet + wire::kLoginOffset, loginField_, 16);
            TripleDesEcbBlocks(packet + wire::kLoginOffset, 2, passwordKey_, clients_[i].sessionKey,
                               1);
            Send(clients_[i], packet, sizeof packet);
            if (i % kWindow == kWindow - 1)
                std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    }

    long resends = 0;
    long badReplies = 0;

private:
    void Send(const Client& c, const uint8_t* data, size_t length) {
        SendFrom(fd_, server_, c.address, data, length);
    }

    void Request(Client& c, uint8_t awaited) {
        if (awaited == wire::kKeyReply) {
            Send(c, hello_, sizeof hello_);
        } else {
            uint8_t poll[wire::kPollSize] = {wire::kPoll};
            std::memcpy(poll + wire::kLoginOffset, loginField_, 16);
            wire::PutLe(poll + wire::kPollCounterOffset, ++c.pollCounter, 8);
            TripleDesEcbBlocks(poll + wire::kLoginOffset, 3, passwordKey_, c.sessionKey, 1);
            Send(c, poll, sizeof poll);
        }
        c.waiting = awaited;
        c.sentAt = Now();
    }

    // Returns true when the reply completed the client's request.
    bool OnReply(Client& c, uint8_t* data, size_t n) {
        if (c.waiting == wire::kKeyReply && data[0] == wire::kKeyReply &&
            n == wire::kKeyReplySize) {
            DesEcbBlocks(data + wire::kKeyReplyPublicOffset, kDhSize / 8, passwordKey_, 0);
            uint8_t secret[kDhSize];
            pair_.ComputeSecret(data + wire::kKeyReplyPublicOffset, secret);
            FoldSessionKey(secret, c.sessionKey);
            TripleDesEcbBlocks(data + wire::kKeyReplyEchoOffset, 2, passwordKey_, c.sessionKey, 0);
            if (!wire::LoginEchoMatches(data + wire::kKeyReplyEchoOffset, loginField_)) {
                ++badReplies;
                return false;
            }
            uint8_t confirm[wire::kConfirmSize] = {wire::kConfirm};
            std::memcpy(confirm + wire::kLoginOffset, loginField_, 16);
            TripleDesEcbBlocks(confirm + wire::kLoginOffset, 2, passwordKey_, c.sessionKey, 1);
            Send(c, confirm, sizeof confirm);
            c.pollCounter = 0;
            return true;
        }
        if (c.waiting == wire::kPollReply && data[0] == wire::kPollReply &&
            n > wire::kPollReplyHeaderSize) {
            // Every 64th reply is opened and its balance checked: the server did the real work.
            if ((++replies_ & 63) == 0) {
                uint8_t* payload = data + wire::kPollReplyHeaderSize;
                TripleDesEcbBlocks(payload, static_cast<int>((n - wire::kPollReplyHeaderSize) / 8),
                                   passwordKey_, c.sessionKey, 0);
                if (payload[0] != wire::kRecBalance ||
                    static_cast<int32_t>(wire::GetLe(payload + 2, 4)) != kBalance)
                    ++badReplies;
            }
            return true;
        }
        return false;
    }

    bool Run(long total, uint8_t awaited) {
        const size_t count = clients_.size();
        const int window = static_cast<int>(std::min<size_t>(count, kWindow));
        long issued = 0, done = 0;
        int inFlight = 0;
        size_t next = 0;
        const double start = Now();
        double lastScan = start;
        while (done < total) {
            while (inFlight < window && issued < total) {
                Client& c = clients_[next];
                if (c.waiting != 0) break;  // its previous request is still out: wait for replies
                Request(c, awaited);
                ++issued;
                ++inFlight;
                next = (next + 1) % count;
            }
            pollfd p{fd_, POLLIN, 0};
            ::poll(&p, 1, 5);
            for (int k = 0; k < 256; ++k) {
                uint8_t buffer[wire::kMaxDatagram];
                char control[256];
                iovec iov{buffer, sizeof buffer};
                msghdr msg{};
                msg.msg_iov = &iov;
                msg.msg_iovlen = 1;
                msg.msg_control = control;
                msg.msg_controllen = sizeof control;
                const ssize_t n = recvmsg(fd_, &msg, MSG_DONTWAIT);
                if (n <= 0) break;
                uint32_t to = 0;
                for (cmsghdr* cm = CMSG_FIRSTHDR(&msg); cm != nullptr; cm = CMSG_NXTHDR(&msg, cm))
                    if (cm->cmsg_level == IPPROTO_IP && cm->cmsg_type == IP_PKTINFO) {
                        in_pktinfo info;
                        std::memcpy(&info, CMSG_DATA(cm), sizeof info);
                        to = ntohl(info.ipi_addr.s_addr);
                    }
                const size_t index = ((to >> 8) & 0xFF) * 250 + (to & 0xFF) - 1;
                if ((to >> 16) != ((127u << 8) | 10u) || index >= count) continue;
                Client& c = clients_[index];
                if (OnReply(c, buffer, static_cast<size_t>(n))) {
                    c.waiting = 0;
                    ++done;
                    --inFlight;
                }
            }
            const double now = Now();
            if (now - lastScan > kResendMs / 1000.0) {
                lastScan = now;
                for (Client& c : clients_)
                    if (c.waiting != 0 && now - c.sentAt > kResendMs / 1000.0) {
                        Request(c, c.waiting);
                        ++resends;
                    }
            }
            if (resends > kMaxResends || now - start > kPhaseLimitSeconds) return false;
        }
        return true;
    }

    int fd_;
    sockaddr_in server_{};
    uint8_t passwordKey_[8];
    uint8_t loginField_[16];
    uint8_t hello_[wire::kHelloSize] = {};
    DhKeyPair pair_;  // one pair for every simulated client, as one client run keeps its own
    std::vector<Client> clients_;
    uint64_t replies_ = 0;
};

struct Row {
    size_t sessions;
    double floor;  // seconds: two exponentiations, timed around this row's handshakes
    double handshakesPerSecond, cpuPerHandshake, pollsPerSecond, pollsPerCpuSecond;
    long rssDeltaKb;
};

// Time of one 448-bit modular exponentiation (447-bit exponent) in this process.
double ModExpSeconds() {
    BareModExp e;
    for (int i = 0; i < 50; ++i) e.Run();
    const int n = 2000;
    const double start = ProcessCpuSeconds();
    for (int i = 0; i < n; ++i) e.Run();
    return (ProcessCpuSeconds() - start) / n;
}

// Server CPU per datagram of a bare UDP echo with the server's loop shape (wait for
// readiness, receive until nothing is left, read the clock, send), answering one
// datagram at a time: what the kernel alone costs a server that a single client
// keeps waking. Runs in a child process so that it is timed like the server.
double EchoFloorSeconds(long roundTrips) {
    int ports[2];
    if (pipe(ports) != 0) return 0;
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof at;
        bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at);
        getsockname(fd, reinterpret_cast<sockaddr*>(&at), &length);
        fcntl(fd, F_SETFL, O_NONBLOCK);
        const uint16_t port = ntohs(at.sin_port);
        if (write(ports[1], &port, sizeof port) != sizeof port) _exit(1);
        uint8_t buffer[wire::kMaxDatagram + 1];
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 200) <= 0) continue;
            for (;;) {
                sockaddr_in from{};
                socklen_t fromLength = sizeof from;
                const ssize_t n = recvfrom(fd, buffer, sizeof buffer, MSG_TRUNC,
                                           reinterpret_cast<sockaddr*>(&from), &fromLength);
                if (n < 0) break;
                (void)time(nullptr);
                sendto(fd, buffer, std::min<size_t>(n, wire::kMaxDatagram), 0,
                       reinterpret_cast<sockaddr*>(&from), fromLength);
            }
        }
    }
    uint16_t port = 0;
    const bool started = read(ports[0], &port, sizeof port) == sizeof port;
    close(ports[0]);
    close(ports[1]);
    double seconds = 0;
    if (started) {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
        timeval wait{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        uint8_t datagram[wire::kPollSize] = {wire::kPoll};
        for (int i = 0; i < 1000; ++i) {
            send(fd, datagram, sizeof datagram, 0);
            recv(fd, datagram, sizeof datagram, 0);
        }
        const double cpu0 = ServerCpuSeconds(pid);
        long answered = 0;
        for (long i = 0; i < roundTrips; ++i) {
            send(fd, datagram, sizeof datagram, 0);
            if (recv(fd, datagram, sizeof datagram, 0) > 0) ++answered;
        }
        if (answered > 0) seconds = (ServerCpuSeconds(pid) - cpu0) / answered;
        close(fd);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return seconds;
}

int Usage() {
    std::fprintf(
        stderr,
        "usage: brin-loadgen --server PATH [--sessions N[,N...]] [--handshakes N] [--polls N]\n"
        "Starts PATH (brin-server) on a free loopback port and measures it at each\n"
        "number of concurrent sessions (default 1,100,10000).\n");
    return 64;
}

}  // namespace

int main(int argc, char** argv) {
    std::string serverPath;
    std::vector<size_t> sessionCounts = {1, 100, 10000};
    long minHandshakes = 5000, polls = 100000;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) return Usage();
        const std::string v = argv[++i];
        if (a == "--server") {
            serverPath = v;
        } else if (a == "--sessions") {
            sessionCounts.clear();
            std::stringstream list(v);
            std::string item;
            while (std::getline(list, item, ',')) sessionCounts.push_back(std::stoul(item));
        } else if (a == "--handshakes") {
            minHandshakes = std::stol(v);
        } else if (a == "--polls") {
            polls = std::stol(v);
        } else {
            return Usage();
        }
    }
    for (size_t n : sessionCounts)
        if (n == 0 || n > 60000) return Usage();
    if (serverPath.empty()) return Usage();

    char dir[] = "/tmp/brin-loadgen-XXXXXX";
    if (mkdtemp(dir) == nullptr) return 1;
    const std::string accounts = std::string(dir) + "/accounts.ini";
    const std::string log = std::string(dir) + "/server.log";
    {
        std::ofstream out(accounts);
        out << "[" << kLogin << "]\npassword = " << kPassword << "\nbalance = 4321\n"
            << "remaining = 1073741824\ncounter 1 = 52428800 Internet\ncounter 2 = 1048576 Local\n";
    }
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 2);
        // The handshake rows measure the server's work per handshake, many from one
        // address: no HELLO limit per address here.
        execl(serverPath.c_str(), serverPath.c_str(), "--listen", "127.0.0.1:0", "--accounts",
              accounts.c_str(), "--hello-burst", "0", static_cast<char*>(nullptr));
        _exit(127);
    }
    int port = 0;
    for (int i = 0; i < 250 && port == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::ifstream in(log);
        std::string line;
        while (std::getline(in, line)) {
            const size_t at = line.find("listening on 127.0.0.1:");
            if (at != std::string::npos) port = std::atoi(line.c_str() + at + 23);
        }
    }
    auto stopServer = [&]() -> std::string {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        std::ifstream in(log);
        std::string line, last;
        while (std::getline(in, line)) last = line;
        std::remove(log.c_str());
        std::remove(accounts.c_str());
        rmdir(dir);
        return last;
    };
    if (port == 0) {
        std::fprintf(stderr, "brin-loadgen: the server did not start\n");
        stopServer();
        return 1;
    }

    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1, buffer = 4 << 20;
    setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any);

    // The server's floor per handshake: two exponentiations (its own public value and
    // the shared secret), timed right before and right after each row's handshakes,
    // so that a machine busier at one moment than at another does not skew the ratio.
    LoadGen gen(fd, static_cast<uint16_t>(port));
    std::vector<Row> rows;
    bool ok = true;
    for (size_t sessions : sessionCounts) {
        Row row{};
        row.sessions = sessions;
        gen.Resize(sessions);
        const long handshakes = std::max<long>(minHandshakes, static_cast<long>(sessions));
        const long rssBefore = ServerRssKb(pid);
        const double expBefore = ModExpSeconds();
        double cpu0 = ServerCpuSeconds(pid), t0 = Now();
        ok = gen.Handshakes(handshakes) && ok;
        double t1 = Now();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the last CONFIRMs
        double cpu1 = ServerCpuSeconds(pid);
        row.floor = expBefore + ModExpSeconds();
        row.handshakesPerSecond = handshakes / (t1 - t0);
        row.cpuPerHandshake = (cpu1 - cpu0) / handshakes;

        cpu0 = ServerCpuSeconds(pid);
        t0 = Now();
        ok = gen.Polls(polls) && ok;
        t1 = Now();
        cpu1 = ServerCpuSeconds(pid);
        row.pollsPerSecond = polls / (t1 - t0);
        row.pollsPerCpuSecond = cpu1 > cpu0 ? polls / (cpu1 - cpu0) : 0;
        row.rssDeltaKb = ServerRssKb(pid) - rssBefore;
        gen.Logouts();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        rows.push_back(row);
    }
    const std::string lastLine = stopServer();
    const double echo = EchoFloorSeconds(std::min<long>(polls, 50000));

    std::printf("floor per handshake: two 448-bit modular exponentiations, timed in this run\n\n");
    std::printf("%9s %13s %14s %9s %6s %10s %15s %14s\n", "sessions", "handshakes/s",
                "server us/hs", "floor us", "ratio", "polls/s", "polls/server-s", "bytes/session");
    for (const Row& r : rows) {
        // Below a thousand sessions the page-sized steps of the resident set hide the figure.
        char perSession[32] = "-";
        if (r.sessions >= 1000)
            std::snprintf(perSession, sizeof perSession, "%.0f",
                          r.rssDeltaKb * 1024.0 / r.sessions);
        std::printf("%9zu %13.0f %14.1f %9.1f %6.2f %10.0f %15.0f %14s\n", r.sessions,
                    r.handshakesPerSecond, r.cpuPerHandshake * 1e6, r.floor * 1e6,
                    r.cpuPerHandshake / r.floor, r.pollsPerSecond, r.pollsPerCpuSecond, perSession);
    }
    std::printf("\ntargets: ratio <= 1.4, polls/server-s >= 50000; resends %ld, bad replies %ld\n",
                gen.resends, gen.badReplies);
    // With one session every request wakes the server: set its figures against the bare
    // echo as well. A handshake wakes it once, since the client sends its CONFIRM and
    // its next HELLO back to back.
    if (echo > 0) {
        std::printf(
            "bare echo, one datagram at a time: %.1f us of server CPU per datagram "
            "(%.0f datagrams per CPU second)\n",
            echo * 1e6, 1 / echo);
        for (const Row& r : rows)
            if (r.sessions == 1 && r.pollsPerCpuSecond > 0)
                std::printf(
                    "1 session: %.2f x the echo per poll; per handshake %.2f x "
                    "(two exponentiations + one echoed datagram)\n",
                    1 / r.pollsPerCpuSecond / echo, r.cpuPerHandshake / (r.floor + echo));
    }
    std::printf("server at the end: %s\n", lastLine.c_str());
    if (!ok || gen.badReplies != 0) {
        std::fprintf(stderr, "brin-loadgen: a phase did not complete\n");
        return 1;
    }
    return 0;
}
