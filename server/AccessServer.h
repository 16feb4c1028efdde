// The reference access server: handshakes, polls and logouts of any number of clients on one
// socket.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <ostream>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/Clock.h"
#include "core/UdpSocket.h"
#include "server/Accounts.h"

class AccessServer {
public:
    struct Options {
        bool demo = false;             // every poll moves the counters up and the balance down
        uint32_t dropPolls = 0;        // leave the first N POLLs of every session unanswered
        int32_t sessionTimeout = 100;  // seconds without a POLL that end a session
        // Each HELLO answered lets its sender test one password guess, so one source
        // address (all of its ports together) gets `helloBurst` at once and then one
        // every `helloInterval` seconds; the others go unanswered. 0: no limit. A
        // subscriber's own client needs one every 30 s at most.
        uint32_t helloBurst = 5;
        int32_t helloInterval = 1;
        // Handshakes not yet proven by a CONFIRM or a POLL: at most this many, the
        // oldest dropped first, so a flood from many endpoints holds the memory bounded.
        size_t maxHalfOpen = 4096;
        // Events anyone can repeat (HELLOs, refused echoes, unproven handshakes) are
        // logged once per kind and address, and summed in one line per this many seconds.
        int32_t logInterval = 60;
    };

    struct Stats {
        uint64_t handshakes = 0;  // KEY_REPLYs sent
        uint64_t confirmed = 0;
        uint64_t polls = 0;      // POLL_REPLYs sent
        uint64_t ignored = 0;    // datagrams that fit no session or no packet layout
        uint64_t throttled = 0;  // HELLOs over their address's limit, unanswered
        uint64_t evicted = 0;    // unproven handshakes dropped for newer ones
        uint64_t logLines = 0;   // lines written to the log
    };

    // `log` gets one line per session event; nullptr logs nothing. `clock` must outlive the server.
    AccessServer(std::vector<Account> accounts, const Options& options, Clock& clock,
                 std::ostream* log);
    ~AccessServer();  // wipes the passwords and the keys made from them
    AccessServer(const AccessServer&) = delete;
    AccessServer& operator=(const AccessServer&) = delete;

    bool Open(const Endpoint& listen);  // binds the socket
    const std::string& OpenError() const { return openError_; }  // why Open failed
    // A line of the server's own (start, stop) in the log, time-stamped like the events.
    void Note(const std::string& line);
    Endpoint LocalEndpoint() const { return socket_.LocalEndpoint(); }

    // Waits up to `timeoutMs` for datagrams, handles those waiting (a bounded
    // number), then ends expired sessions. Returns the datagrams handled, or -1
    // when the socket cannot be waited on.
    int Pump(int timeoutMs);

    // One received datagram, as Pump handles it (tests call it directly).
    void HandleDatagram(const uint8_t* data, size_t length, const Endpoint& from);

    // Ends the sessions that have had no POLL for `sessionTimeout` seconds.
    void ExpireSessions();
    // Seconds from now to the first second at which a session or an unproven handshake
    // may expire, or the summed log lines are due (a Pump in that second does it), at
    // least 1; -1 with neither.
    int32_t SecondsToNextExpiry() const;
    UdpSocket& Socket() { return socket_; }

    // Takes every datagram the server sends instead of the socket (in-process
    // harnesses that make up endpoints, so nothing goes out to them); an empty
    // sink sends on the socket again.
    using ReplySink = std::function<void(const uint8_t* data, size_t length, const Endpoint& to)>;
    void SetReplySink(ReplySink sink) { replySink_ = std::move(sink); }

    size_t SessionCount() const { return sessions_.size(); }
    size_t HalfOpenCount() const { return halfOpen_.size(); }
    const Stats& GetStats() const { return stats_; }
    const std::vector<Account>& Accounts() const { return accounts_; }
    // The balance, counters and messages of an account may change while the server runs: the
    // next POLL_REPLY carries them. Its login and password stay those it was made with.
    Account& AccountAt(size_t index) { return accounts_[index]; }

private:
    static constexpr uint32_t kNoAccount = 0xFFFFFFFFu;
    // Bounds of the per-address tables, so that a flood from very many addresses
    // holds their memory bounded too.
    static constexpr size_t kMaxHelloBuckets = 65536;
    static constexpr uint32_t kSharedBucket = 0;  // 0.0.0.0 is no source address
    static constexpr size_t kMaxRepeats = 1024;

    // The unproven handshakes of every endpoint, oldest first. `pending` tells the
    // newer handshake of an endpoint that has a session already from its first one.
    struct HalfOpen {
        uint64_t endpoint;
        bool pending;
    };
    using HalfOpenList = std::list<HalfOpen>;

    // One fixed-size record per client endpoint. A HELLO from an endpoint whose
    // session is up leaves that session alone: the new handshake waits beside it as
    // `pendingKey` until the client proves it (a CONFIRM or a POLL under its key),
    // since anyone can send a HELLO with that endpoint as its source.
    struct Session {
        uint32_t account = kNoAccount;
        int32_t lastSeen = 0;   // time of the handshake or of the last POLL
        uint64_t lastPoll = 0;  // highest poll counter accepted
        uint32_t pollsSeen = 0;
        uint8_t sessionKey[8] = {};
        uint8_t confirmed = 0;
        uint8_t hasPending = 0;
        uint8_t pendingKey[8] = {};
        int32_t pendingSince = 0;
        HalfOpenList::iterator halfOpen;  // of the unconfirmed session or of its pending key
        bool inHalfOpen = false;
    };

    struct AccountKeys {
        uint8_t passwordKey[8];
        uint8_t loginField[16];
    };

    // HELLOs left to one source address, refilled one per helloInterval.
    struct HelloBucket {
        uint32_t tokens = 0;
        int32_t refilledAt = 0;
    };

    // Events that are logged once per interval for each address, then summed.
    enum RepeatKind : uint8_t {
        kRepeatHello,
        kRepeatNoAccount,
        kRepeatWrongPassword,
        kRepeatThrottled,
        kRepeatRefusedEcho,
        kRepeatUnproven,
        kRepeatEvicted,
        kRepeatKinds
    };

    static uint64_t Key(const Endpoint& e) {
        return (static_cast<uint64_t>(e.address) << 16) | e.port;
    }
    static Endpoint EndpointOf(uint64_t key);
    void Dispatch(const uint8_t* data, size_t length, const Endpoint& from);
    uint32_t SelectAccount(uint32_t address) const;
    bool TakeHelloToken(uint32_t address);
    void OnHello(const uint8_t* data, const Endpoint& from);
    void OnConfirm(const uint8_t* data, const Endpoint& from);
    void OnPoll(const uint8_t* data, const Endpoint& from);
    void OnLogout(const uint8_t* data, const Endpoint& from);
    // Decrypts a 16-byte login field (and what follows it) under `sessionKey` and
    // compares it with the account's.
    bool LoginMatches(const Session& s, const uint8_t* sessionKey, const uint8_t* encrypted,
                      size_t blocks, uint8_t* plain) const;
    // The endpoint's session, proven by a client packet whose body (`blocks` blocks from
    // the login field on) is sealed under its key or under its pending one (which then
    // becomes the session). Null, and the datagram counted as ignored, when there is no
    // session or neither key opens it.
    Session* ProvenSession(const Endpoint& from, const uint8_t* packet, size_t blocks,
                           uint8_t* plain);
    void MarkHalfOpen(uint64_t endpoint, Session& s, bool pending);
    void ClearHalfOpen(Session& s);
    void DropPending(Session& s);
    void EvictOldestHalfOpen();
    using SessionMap = std::unordered_map<uint64_t, Session>;
    void EraseSession(SessionMap::iterator it);
    void Send(const uint8_t* data, size_t length, const Endpoint& to);
    void SendPollReply(Session& s, const Endpoint& to);
    void ApplyDemoUsage(Account& a);
    void Log(const std::string& line);  // queued until FlushLog
    // Logs `line` unless an event of `kind` from `address` was logged in this interval.
    void LogRepeatable(RepeatKind kind, uint32_t address, const std::string& line);
    void SumRepeats(int32_t now);  // the summary lines at the end of an interval
    void FlushLog();
    std::string Describe(const Endpoint& e) const;
    std::string LoginText(uint32_t account) const;

    std::vector<Account> accounts_;
    std::vector<AccountKeys> keys_;
    uint32_t defaultAccount_ = kNoAccount;  // the one account without an address
    std::unordered_map<uint32_t, uint32_t> byAddress_;
    Options options_;
    Clock& clock_;
    std::ostream* log_;
    std::string pendingLog_;
    std::string openError_;
    std::string stamp_;  // the time prefix of the second stampTime_
    int32_t stampTime_ = 0;
    UdpSocket socket_;
    ReplySink replySink_;
    SessionMap sessions_;
    HalfOpenList halfOpen_;
    std::unordered_map<uint32_t, HelloBucket> helloBuckets_;
    // (address << 8 | kind) of the events logged in this interval, and how many
    // more came that the summary line counts.
    std::unordered_map<uint64_t, uint64_t> repeats_;
    uint64_t repeatsUntracked_ = 0;  // past the table's bound: summed for all addresses
    int32_t repeatsSince_ = 0;
    int32_t lastSweep_ = 0;
    int32_t oldestSeen_ = 0;  // no open session was last seen before this second
    Stats stats_;
    uint8_t buffer_[2048 + 1] = {};
};
