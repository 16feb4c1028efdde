// Fuzz target: the access server's datagram handling, from four made-up endpoints under a fake
// clock.
//
// An input is a script. Byte 0 picks the server's options (bit 0 demo, bits 1-2
// dropped polls, bit 3 "alice" tied to 10.0.0.1 so that 10.0.0.3 has no account,
// bit 4 a 5 s session time-out, bit 5 the HELLO limit of 2 per address and one a
// second, which is off otherwise). Then each step is a control byte:
//   bits 0-1  the endpoint
//   bits 2-3  0: a datagram as it is; 1: a datagram the endpoint's client seals as
//             its own (after the header: a HELLO under the password key, anything
//             else under its session key); 2: the client's own HELLO; 3: time passes
//   bits 4-7  with 3, how far (kAdvance)
// Datagrams follow their control byte as a 16-bit little-endian length and the bytes.
// A script ends at its ninth handshake (a HELLO the server takes as one): each
// costs the server two exponentiations, and eight already let every endpoint shake
// hands twice, so more would only slow the search down.
//
// Every reply must go to the sender, one at most, and have a protocol size; a HELLO
// is answered unless its address is over the limit, and the HELLOs answered from one
// address are never more than the limit lets through; a POLL_REPLY to a client that made a genuine
// handshake must decrypt to exactly the account's values.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "core/AccountSnapshot.h"
#include "core/Cipher.h"
#include "core/Clock.h"
#include "core/TestSeams.h"
#include "core/Wire.h"
#include "server/AccessServer.h"
#include "server/Accounts.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

constexpr int kEndpoints = 4;
constexpr size_t kMaxSteps = 96;
constexpr int kMaxHandshakes = 8;  // bounds the modular exponentiations of one input
const int32_t kAdvance[16] = {1, 1, 2, 4, 5, 6, 30, 99, 100, 101, 250, 3600, -1, -30, -3600, 86400};
constexpr int32_t kStart = 1700000000;

// A client behind each endpoint: its address, the account the server should pick
// for it and the password it uses (endpoint 1 types alice's password wrong).
struct ClientSide {
    const char* address;
    uint16_t port;
    const char* login;
    const char* password;
    uint8_t privateKey[8];
};
const ClientSide kClients[kEndpoints] = {
    {"10.0.0.1", 40000, "alice", "secret", {0x40, 0, 0x13, 0x37, 0, 0, 0, 0x01}},
    {"10.0.0.1", 40001, "alice", "Secret", {0x41, 0, 0x13, 0x37, 0, 0, 0, 0x02}},
    {"10.0.0.2", 40000, "bob", "pw", {0x42, 0, 0x13, 0x37, 0, 0, 0, 0x03}},
    {"10.0.0.3", 40000, "alice", "secret", {0x43, 0, 0x13, 0x37, 0, 0, 0, 0x04}},
};

struct Client {
    Endpoint at;
    DhKeyPair pair;
    uint8_t passwordKey[8];
    uint8_t loginField[16];
    uint8_t hello[wire::kHelloSize];
};

// Made once: the client pairs are fixed, so their HELLOs are too.
struct Clients {
    Client c[kEndpoints];
    Clients() {
        for (int i = 0; i < kEndpoints; ++i) {
            Client& k = c[i];
            k.at.address = ParseIPv4(kClients[i].address);
            k.at.port = PortToNetwork(kClients[i].port);
            DhKeyPairSeam::SetPrivate(k.pair, kClients[i].privateKey,
                                      sizeof kClients[i].privateKey);
            MakePasswordKey(kClients[i].password, k.passwordKey);
            wire::WriteLoginField(k.loginField, kClients[i].login);
            std::memset(k.hello, 0, sizeof k.hello);
            k.hello[0] = wire::kHello;
            k.pair.WritePublic(k.hello + wire::kHelloPublicOffset);
            DesEcbBlocks(k.hello + wire::kHelloPublicOffset, kDhSize / 8, k.passwordKey, 1);
        }
    }
};

std::vector<Account> FixedAccounts(bool aliceBound) {
    Account alice;
    alice.login = "alice";
    alice.password = "secret";
    alice.bound = aliceBound;
    alice.address = ParseIPv4("10.0.0.1");
    alice.balance = 1234567;
    alice.remainingBytes = 5368709120;
    alice.counters.push_back({1, "inet", 52428800});
    alice.counters.push_back({0xFFFFFFFFFFFFFFFFull, "city traffic 16b", -5});
    alice.messages.push_back({true, 1236420309, "paid"});
    alice.messages.push_back({false, 0, "welcome"});

    // The largest account the accounts file lets through, near every numeric edge.
    Account bob;
    bob.login = "bob-sixteen-byte";
    bob.password = "pw";
    bob.bound = true;
    bob.address = ParseIPv4("10.0.0.2");
    bob.balance = INT32_MIN + 100;
    bob.remainingBytes = 3000000;
    for (uint64_t i = 1; i <= kMaxCounters; ++i)
        bob.counters.push_back({(i << 32) | i,
                                std::string(kMaxCounterNameBytes, char('a' + i % 26)),
                                i == 1 ? INT64_MAX - 10 : static_cast<int64_t>(i)});
    bob.messages.push_back({true, INT32_MIN, std::string(kMaxMessageBytes, 'm')});
    bob.messages.push_back({false, 0, std::string(kMaxMessageBytes, '\xFF')});
    return {alice, bob};
}

struct Sent {
    std::vector<uint8_t> bytes;
    Endpoint to;
};

bool HeaderClear(const uint8_t* d, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i)
        if (d[i] != 0) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Clients clients;
    if (size == 0) return 0;

    const uint8_t config = data[0];
    const bool aliceBound = (config & 8) != 0;
    AccessServer::Options options;
    options.demo = (config & 1) != 0;
    options.dropPolls = (config >> 1) & 3;
    if (config & 16) options.sessionTimeout = 5;
    const bool limited = (config & 32) != 0;
    options.helloBurst = limited ? 2 : 0;
    options.helloInterval = 1;
    FakeClock clock(kStart);
    std::ostringstream log;
    std::vector<Sent> sent;
    static const std::vector<Account> kAccounts[2] = {FixedAccounts(false), FixedAccounts(true)};
    AccessServer server(kAccounts[aliceBound ? 1 : 0], options, clock, &log);
    server.SetReplySink([&sent](const uint8_t* d, size_t n, const Endpoint& to) {
        sent.push_back({std::vector<uint8_t>(d, d + n), to});
    });

    // The account the server picks for each endpoint: 0 alice, 1 bob, -1 none.
    int accountOf[kEndpoints] = {0, 0, 1, aliceBound ? -1 : 0};
    uint8_t sessionKey[kEndpoints][8] = {};
    bool genuine[kEndpoints] = {};  // the server's session of the endpoint is the client's own

    size_t at = 1;
    int handshakes = 0;
    int64_t forward = 0;  // seconds the clock went forward: what refills a HELLO limit
    std::vector<std::pair<uint32_t, int64_t>> answered;  // HELLOs answered per address
    for (size_t step = 0; step < kMaxSteps && at < size; ++step) {
        const uint8_t control = data[at++];
        const int e = control & 3;
        const int mode = (control >> 2) & 3;
        Client& client = clients.c[e];

        if (mode == 3) {
            const int64_t now = static_cast<int64_t>(clock.Now()) + kAdvance[control >> 4];
            if (now > 0 && now < INT32_MAX - 100000) {
                if (now > clock.Now()) forward += now - clock.Now();
                clock.Set(static_cast<int32_t>(now));
            }
            server.ExpireSessions();
            continue;
        }

        std::vector<uint8_t> d;
        if (mode == 2) {
            d.assign(client.hello, client.hello + sizeof client.hello);
        } else {
            if (size - at < 2) break;
            const size_t n = (data[at] | (static_cast<size_t>(data[at + 1]) << 8)) & 0xFFF;
            at += 2;
            if (size - at < n) break;
            d.assign(data + at, data + at + n);
            at += n;
            if (mode == 1 && n > wire::kHeaderSize) {
                const int blocks = static_cast<int>((n - wire::kHeaderSize) / 8);
                if (d[0] == wire::kHello)
                    DesEcbBlocks(d.data() + wire::kHeaderSize, blocks, client.passwordKey, 1);
                else
                    TripleDesEcbBlocks(d.data() + wire::kHeaderSize, blocks, client.passwordKey,
                                       sessionKey[e], 1);
            }
        }

        const bool headerOk = d.size() >= wire::kHeaderSize && HeaderClear(d.data(), 1, 8);
        const bool isHello = headerOk && d[0] == wire::kHello && d.size() == wire::kHelloSize;
        const bool isPoll = headerOk && d[0] == wire::kPoll && d.size() == wire::kPollSize;
        if (isHello && ++handshakes > kMaxHandshakes) break;
        const int account = accountOf[e];
        size_t messagesBefore = 0;
        ServerMessage oldest;
        if (isPoll && account >= 0) {
            const auto& queue = server.Accounts()[account].messages;
            messagesBefore = queue.size();
            if (!queue.empty()) oldest = queue.front();
        }
        const size_t sessionsBefore = server.SessionCount();

        sent.clear();
        server.HandleDatagram(d.data(), d.size(), client.at);

        Check(sent.size() <= 1);
        Check(server.SessionCount() <= sessionsBefore + (isHello ? 1 : 0));
        Check(server.SessionCount() <= kEndpoints);
        if (isHello && !limited) Check(sent.size() == 1);
        if (isHello && !sent.empty()) {
            auto it = std::find_if(answered.begin(), answered.end(),
                                   [&](const std::pair<uint32_t, int64_t>& a) {
                                       return a.first == client.at.address;
                                   });
            if (it == answered.end()) it = answered.insert(answered.end(), {client.at.address, 0});
            ++it->second;
            if (limited) Check(it->second <= options.helloBurst + forward);
        }
        if (sent.empty()) continue;
        const std::vector<uint8_t>& r = sent[0].bytes;
        Check(sent[0].to.address == client.at.address && sent[0].to.port == client.at.port);
        Check(isHello || isPoll);

        if (isHello) {
            Check(r.size() == wire::kKeyReplySize && r[0] == wire::kKeyReply &&
                  HeaderClear(r.data(), 1, 8));
            genuine[e] = false;
            if (d == std::vector<uint8_t>(client.hello, client.hello + sizeof client.hello)) {
                // The client's own handshake: it finds the login echo exactly when the
                // address has an account and the password is that account's.
                uint8_t serverPublic[kDhSize];
                std::memcpy(serverPublic, r.data() + wire::kKeyReplyPublicOffset, kDhSize);
                DesEcbBlocks(serverPublic, kDhSize / 8, client.passwordKey, 0);
                uint8_t secret[kDhSize];
                const int secretLength = client.pair.ComputeSecret(serverPublic, secret);
                FoldSessionKey(secret, sessionKey[e]);
                uint8_t echo[16];
                std::memcpy(echo, r.data() + wire::kKeyReplyEchoOffset, sizeof echo);
                TripleDesEcbBlocks(echo, 2, client.passwordKey, sessionKey[e], 0);
                const bool rightAccount =
                    account >= 0 && server.Accounts()[account].password == kClients[e].password &&
                    server.Accounts()[account].login == kClients[e].login;
                const bool matches =
                    secretLength > 0 && wire::LoginEchoMatches(echo, client.loginField);
                Check(matches == rightAccount);
                genuine[e] = rightAccount;
            }
            continue;
        }

        // A POLL_REPLY: a 32-byte header with only its type set, then whole blocks.
        Check(r.size() > wire::kPollReplyHeaderSize && r.size() <= wire::kMaxDatagram &&
              (r.size() - wire::kPollReplyHeaderSize) % 8 == 0 && r[0] == wire::kPollReply &&
              HeaderClear(r.data(), 1, wire::kPollReplyHeaderSize));
        Check(account >= 0);
        if (!genuine[e]) continue;
        std::vector<uint8_t> payload(r.begin() + wire::kPollReplyHeaderSize, r.end());
        TripleDesEcbBlocks(payload.data(), static_cast<int>(payload.size() / 8), client.passwordKey,
                           sessionKey[e], 0);
        AccountSnapshot s;
        ApplyPayloadRecords(payload.data(), payload.size(), s);
        const Account& a = server.Accounts()[account];
        Check(s.balance == a.balance && s.remainingBytes == a.remainingBytes);
        Check(s.counters.size() == a.counters.size());
        for (size_t i = 0; i < s.counters.size(); ++i) {
            const TrafficCounter& c = s.counters[i];
            Check(((static_cast<uint64_t>(c.idHigh) << 32) | c.idLow) == a.counters[i].id);
            Check(c.byteCount == a.counters[i].bytes);
            Check(std::string(c.name, strnlen(c.name, sizeof c.name)) == a.counters[i].name);
        }
        // One queued message per reply, oldest first.
        Check(s.messagePending == (messagesBefore > 0 ? 1 : 0));
        Check(a.messages.size() + s.messagePending == messagesBefore);
        if (s.messagePending) {
            Check(std::string(s.messageText, strnlen(s.messageText, sizeof s.messageText)) ==
                  oldest.text);
            Check(s.messageTime == (oldest.hasTime ? oldest.time : clock.Now()));
        }
    }
    return 0;
}
