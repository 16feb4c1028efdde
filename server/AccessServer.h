// The reference access server: handshakes, polls and logouts of any number of clients on one
// socket.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <unordered_map>
#include <vector>

#include "Accounts.h"
#include "Clock.h"
#include "UdpSocket.h"

class AccessServer {
public:
    struct Options {
        bool demo = false;             // every poll moves the counters up and the balance down
        uint32_t dropPolls = 0;        // leave the first N POLLs of every session unanswered
        int32_t sessionTimeout = 100;  // seconds without a POLL that end a session
    };

    struct Stats {
        uint64_t handshakes = 0;  // KEY_REPLYs sent
        uint64_t confirmed = 0;
        uint64_t polls = 0;    // POLL_REPLYs sent
        uint64_t ignored = 0;  // datagrams that fit no session or no packet layout
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
    // Seconds from now to the first second at which a session may expire (a Pump in that
    // second ends it), at least 1; -1 with no session open.
    int32_t SecondsToNextExpiry() const;
    UdpSocket& Socket() { return socket_; }

    // Takes every datagram the server sends instead of the socket (in-process
    // harnesses that make up endpoints, so nothing goes out to them); an empty
    // sink sends on the socket again.
    using ReplySink = std::function<void(const uint8_t* data, size_t length, const Endpoint& to)>;
    void SetReplySink(ReplySink sink) { replySink_ = std::move(sink); }

    size_t SessionCount() const { return sessions_.size(); }
    const Stats& GetStats() const { return stats_; }
    const std::vector<Account>& Accounts() const { return accounts_; }

private:
    static constexpr uint32_t kNoAccount = 0xFFFFFFFFu;

    // One fixed-size record per client endpoint.
    struct Session {
        uint32_t account = kNoAccount;
        int32_t lastSeen = 0;   // time of the handshake or of the last POLL
        uint64_t lastPoll = 0;  // highest poll counter accepted
        uint32_t pollsSeen = 0;
        uint8_t sessionKey[8] = {};
        uint8_t confirmed = 0;
    };

    struct AccountKeys {
        uint8_t passwordKey[8];
        uint8_t loginField[16];
    };

    static uint64_t Key(const Endpoint& e) {
        return (static_cast<uint64_t>(e.address) << 16) | e.port;
    }
    void Dispatch(const uint8_t* data, size_t length, const Endpoint& from);
    uint32_t SelectAccount(uint32_t address) const;
    void OnHello(const uint8_t* data, const Endpoint& from);
    void OnConfirm(const uint8_t* data, const Endpoint& from);
    void OnPoll(const uint8_t* data, const Endpoint& from);
    void OnLogout(const uint8_t* data, const Endpoint& from);
    // Decrypts a 16-byte login field (and what follows it) and compares it with the account's.
    bool LoginMatches(const Session& s, const uint8_t* encrypted, size_t blocks,
                      uint8_t* plain) const;
    void Send(const uint8_t* data, size_t length, const Endpoint& to);
    void SendPollReply(Session& s, const Endpoint& to);
    void ApplyDemoUsage(Account& a);
    void Log(const std::string& line);  // queued until FlushLog
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
    std::unordered_map<uint64_t, Session> sessions_;
    int32_t lastSweep_ = 0;
    int32_t oldestSeen_ = 0;  // no open session was last seen before this second
    Stats stats_;
    uint8_t buffer_[2048 + 1] = {};
};
