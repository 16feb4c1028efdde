// The fault-injecting relay: every datagram in either direction meets the same dice.
#include "tests/support/FaultyRelay.h"

struct FaultyRelay::Upstream {
    Endpoint client;
    UdpSocket socket;  // towards the server, on its own port: one per client
};

FaultyRelay::FaultyRelay(const Endpoint& server, const FaultPlan& plan)
    : server_(server), plan_(plan), random_(plan.seed) {
    Endpoint local;
    local.address = ParseIPv4("127.0.0.1");
    listen_.Bind(local);
}

FaultyRelay::~FaultyRelay() = default;

Endpoint FaultyRelay::LocalEndpoint() const {
    return listen_.LocalEndpoint();
}

bool FaultyRelay::Chance(double p) {
    return std::uniform_real_distribution<double>(0, 1)(random_) < p;
}

FaultyRelay::Upstream& FaultyRelay::UpstreamFor(const Endpoint& client) {
    std::unique_ptr<Upstream>& up = clients_[Key(client)];
    if (!up) {
        up.reset(new Upstream);
        up->client = client;
        Endpoint local;
        local.address = ParseIPv4("127.0.0.1");
        up->socket.Bind(local);
    }
    return *up;
}

int FaultyRelay::Pump(int64_t nowMs) {
    int taken = 0;
    uint8_t buffer[4096];
    Endpoint from;
    while (listen_.Readable() == 1) {
        const int n = listen_.Receive(buffer, sizeof buffer, &from);
        if (n < 0) break;
        ++taken;
        UpstreamFor(from);  // the client's port towards the server exists from its first datagram
        Arrived(buffer, static_cast<size_t>(n), true, from, nowMs);
    }
    for (auto& entry : clients_) {
        Upstream& up = *entry.second;
        while (up.socket.Readable() == 1) {
            const int n = up.socket.Receive(buffer, sizeof buffer, &from);
            if (n < 0) break;
            ++taken;
            Arrived(buffer, static_cast<size_t>(n), false, up.client, nowMs);
        }
    }
    while (!queue_.empty() && queue_.begin()->first.first <= nowMs) {
        SendOut(queue_.begin()->second);
        queue_.erase(queue_.begin());
    }
    return taken;
}

int64_t FaultyRelay::NextDue() const {
    return queue_.empty() ? -1 : queue_.begin()->first.first;
}

void FaultyRelay::Arrived(const uint8_t* data, size_t length, bool toServer,
                          const Endpoint& client, int64_t nowMs) {
    ++stats_.received;
    if (plan_.silentFromMs >= 0 && nowMs >= plan_.silentFromMs &&
        nowMs < plan_.silentFromMs + plan_.silentForMs) {
        ++stats_.silenced;
        return;
    }
    if (Chance(plan_.loss)) {
        ++stats_.lost;
        return;
    }
    std::uniform_int_distribution<int64_t> delay(0, plan_.maxDelayMs);
    const std::vector<uint8_t> bytes(data, data + length);
    const int copies = Chance(plan_.duplicate) ? 2 : 1;
    if (copies == 2) ++stats_.duplicated;
    for (int i = 0; i < copies; ++i) {
        int64_t due = nowMs;
        if (Chance(plan_.delayed)) {
            due += delay(random_);
            ++stats_.delayed;
        }
        Hold(due, toServer, client, bytes);
    }
    if (Chance(plan_.garbage)) {
        // Any size a datagram can have, the empty one and one too long for a receive buffer too.
        std::vector<uint8_t> junk(std::uniform_int_distribution<size_t>(0, 2100)(random_));
        for (uint8_t& b : junk) b = static_cast<uint8_t>(random_());
        ++stats_.garbage;
        Hold(nowMs + delay(random_), toServer, client, std::move(junk));
    }
}

void FaultyRelay::Hold(int64_t due, bool toServer, const Endpoint& client,
                       std::vector<uint8_t> bytes) {
    Datagram d;
    d.toServer = toServer;
    d.client = client;
    d.bytes = std::move(bytes);
    queue_.emplace(std::make_pair(due, order_++), std::move(d));
}

void FaultyRelay::SendOut(const Datagram& d) {
    ++stats_.sent;
    if (d.toServer) {
        auto it = clients_.find(Key(d.client));
        if (it != clients_.end()) it->second->socket.SendTo(d.bytes.data(), d.bytes.size(), server_);
    } else {
        listen_.SendTo(d.bytes.data(), d.bytes.size(), d.client);
    }
}
