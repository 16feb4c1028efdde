// A loopback UDP relay between clients and an access server that does to datagrams what a bad
// network does: loses, repeats, reorders and delays them, adds garbage, and goes silent for a
// while. Seeded, so a failing run can be repeated; driven by the caller's time, so that tests
// with a fake clock pass minutes in milliseconds.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "core/UdpSocket.h"

struct FaultPlan {
    uint32_t seed = 1;
    double loss = 0.3;        // each way, per datagram
    double duplicate = 0.1;   // a second copy with its own delay
    double delayed = 0.3;     // share of datagrams held back (the others go at once)
    int64_t maxDelayMs = 4000;  // held back by up to this much: later ones overtake them
    double garbage = 0.1;     // per datagram relayed, one of random bytes and size to the same side
    // Every datagram that arrives in [silentFromMs, silentFromMs + silentForMs) is dropped.
    int64_t silentFromMs = -1;
    int64_t silentForMs = 0;
};

class FaultyRelay {
public:
    struct Stats {
        uint64_t received = 0;  // datagrams that reached the relay, both ways
        uint64_t lost = 0;      // dropped by chance
        uint64_t silenced = 0;  // dropped during the silent spell
        uint64_t duplicated = 0;
        uint64_t delayed = 0;
        uint64_t garbage = 0;
        uint64_t sent = 0;      // datagrams sent on, copies and garbage included
    };

    // Listens on 127.0.0.1 at a free port; each client endpoint gets its own socket
    // towards `server`, so the server tells the clients apart as without the relay.
    FaultyRelay(const Endpoint& server, const FaultPlan& plan);
    ~FaultyRelay();
    FaultyRelay(const FaultyRelay&) = delete;
    FaultyRelay& operator=(const FaultyRelay&) = delete;

    Endpoint LocalEndpoint() const;  // where clients send
    uint16_t Port() const { return PortFromNetwork(LocalEndpoint().port); }

    // Takes in what has arrived on every socket and sends what is due at `nowMs`.
    // Returns the datagrams taken in.
    int Pump(int64_t nowMs);
    // The earliest time a held datagram is due; -1 when none is held.
    int64_t NextDue() const;
    // The plan in force from the next datagram on (a test turns the faults off to see convergence).
    FaultPlan& Plan() { return plan_; }

    const Stats& GetStats() const { return stats_; }
    size_t Clients() const { return clients_.size(); }
    size_t Held() const { return queue_.size(); }

private:
    struct Datagram {
        bool toServer;
        Endpoint client;
        std::vector<uint8_t> bytes;
    };
    struct Upstream;
    // By due time, then arrival: datagrams due at the same time leave in arrival order.
    using Queue = std::map<std::pair<int64_t, uint64_t>, Datagram>;

    void Arrived(const uint8_t* data, size_t length, bool toServer, const Endpoint& client,
                 int64_t nowMs);
    void Hold(int64_t due, bool toServer, const Endpoint& client, std::vector<uint8_t> bytes);
    bool Chance(double p);
    void SendOut(const Datagram& d);
    Upstream& UpstreamFor(const Endpoint& client);
    static uint64_t Key(const Endpoint& e) {
        return static_cast<uint64_t>(e.address) << 16 | e.port;
    }

    Endpoint server_;
    FaultPlan plan_;
    std::mt19937_64 random_;
    UdpSocket listen_;
    std::map<uint64_t, std::unique_ptr<Upstream>> clients_;
    Queue queue_;
    uint64_t order_ = 0;
    Stats stats_;
};
