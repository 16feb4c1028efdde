// brin-hello-flood: HELLOs as an attacker sends them, against brin-server on loopback, for a
// bounded time; bench/run_flood.sh runs it beside a subscriber's own client.
//
//   guess  one source address through many ports: every KEY_REPLY is one password guess
//          tested, so the replies per second are the guess rate of one address.
//   flood  many source addresses (127.20.x.y, one port each, sent from one socket through
//          IP_PKTINFO, as a sender of forged sources would reach the server): the server's
//          CPU and memory under a flood it cannot throttle per address.
// Linux only; loopback only.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/SendFrom.h"
#include "core/Cipher.h"
#include "core/Wire.h"

namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int Usage() {
    std::fprintf(stderr,
                 "usage: brin-hello-flood guess PORT SECONDS SOCKETS\n"
                 "       brin-hello-flood flood PORT SECONDS ADDRESSES [PER_SECOND]\n");
    return 64;
}

// A HELLO under `password`: a public value the server takes, or noise to it under another.
void MakeHello(const char* password, uint8_t hello[wire::kHelloSize]) {
    std::memset(hello, 0, wire::kHelloSize);
    hello[0] = wire::kHello;
    DhKeyPair pair;
    pair.WritePublic(hello + wire::kHelloPublicOffset);
    uint8_t key[8];
    MakePasswordKey(password, key);
    DesEcbBlocks(hello + wire::kHelloPublicOffset, kDhSize / 8, key, 1);
}

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// Reads what is waiting on `fd`; returns the KEY_REPLYs among it.
long Drain(int fd) {
    long replies = 0;
    uint8_t buffer[wire::kMaxDatagram];
    for (;;) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0) return replies;
        if (n == static_cast<ssize_t>(wire::kKeyReplySize) && buffer[0] == wire::kKeyReply)
            ++replies;
    }
}

// One address, `sockets` ports: a HELLO from each port in turn as fast as the server
// takes them (at most 64 unanswered at a time, so the socket buffers never overflow).
int Guess(uint16_t port, double seconds, int sockets) {
    uint8_t hello[wire::kHelloSize];
    MakeHello("guess-1", hello);
    const sockaddr_in server = Loopback(port);
    std::vector<int> fds;
    for (int i = 0; i < sockets; ++i) {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local = Loopback(0);
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            std::perror("socket");
            return 1;
        }
        fds.push_back(fd);
    }
    long sent = 0, replies = 0;
    const double start = Now();
    double lastReply = start;
    size_t next = 0;
    while (Now() - start < seconds) {
        // Sends run ahead of the replies by at most 64; a server that stops answering
        // gets one HELLO every 10 ms.
        if (sent - replies < 64 || Now() - lastReply > 0.01) {
            sendto(fds[next], hello, sizeof hello, 0, reinterpret_cast<const sockaddr*>(&server),
                   sizeof server);
            ++sent;
            next = (next + 1) % fds.size();
            if (Now() - lastReply > 0.01) lastReply = Now();
        }
        std::vector<pollfd> p;
        for (int fd : fds) p.push_back({fd, POLLIN, 0});
        if (poll(p.data(), p.size(), sent - replies < 64 ? 0 : 1) > 0)
            for (const pollfd& q : p)
                if (q.revents & POLLIN) {
                    const long got = Drain(q.fd);
                    replies += got;
                    if (got > 0) lastReply = Now();
                }
    }
    const double elapsed = Now() - start;
    std::printf(
        "guess: %ld HELLOs from 127.0.0.1 through %d ports in %.1f s, %ld answered: "
        "%.1f guesses/s\n",
        sent, sockets, elapsed, replies, replies / elapsed);
    for (int fd : fds) close(fd);
    return 0;
}

// `addresses` source addresses in turn, `perSecond` HELLOs a second in all (0: as fast
// as the socket takes them).
int Flood(uint16_t port, double seconds, int addresses, long perSecond) {
    uint8_t hello[wire::kHelloSize];
    MakeHello("guess-1", hello);
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    const int on = 1;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0 ||
        setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0) {
        std::perror("socket");
        return 1;
    }
    sockaddr_in server = Loopback(port);
    long sent = 0, replies = 0;
    const double start = Now();
    while (Now() - start < seconds) {
        if (perSecond > 0 && sent >= static_cast<long>((Now() - start) * perSecond)) {
            pollfd p{fd, POLLIN, 0};
            poll(&p, 1, 1);
            replies += Drain(fd);
            continue;
        }
        const uint32_t i = static_cast<uint32_t>(sent % addresses);
        const uint32_t source =
            htonl((127u << 24) | (20u << 16) | ((i / 250) << 8) | (1 + i % 250));
        if (SendFrom(fd, server, source, hello, sizeof hello) < 0) {
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, 1);
        } else {
            ++sent;
        }
        if ((sent & 63) == 0) replies += Drain(fd);
    }
    replies += Drain(fd);
    const double elapsed = Now() - start;
    std::printf("flood: %ld HELLOs from %d addresses in %.1f s (%.0f/s), %ld answered (%.0f/s)\n",
                sent, addresses, elapsed, sent / elapsed, replies, replies / elapsed);
    close(fd);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) return Usage();
    const std::string mode = argv[1];
    const long port = std::atol(argv[2]);
    const double seconds = std::atof(argv[3]);
    const long count = std::atol(argv[4]);
    if (port <= 0 || port > 65535 || seconds <= 0 || seconds > 600 || count <= 0 || count > 62500)
        return Usage();
    if (mode == "guess")
        return Guess(static_cast<uint16_t>(port), seconds, static_cast<int>(count));
    if (mode == "flood")
        return Flood(static_cast<uint16_t>(port), seconds, static_cast<int>(count),
                     argc > 5 ? std::atol(argv[5]) : 0);
    return Usage();
}
