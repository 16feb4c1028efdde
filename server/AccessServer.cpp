// Session handling of the reference access server: one record per client endpoint, one thread.
#include "AccessServer.h"

#include <cstring>
#include <ctime>

#include "Cipher.h"
#include "Cp1251.h"
#include "ProcessHardening.h"
#include "SocketError.h"
#include "Wire.h"

namespace {

void WriteHeader(uint8_t* packet, uint8_t type) {
    wire::PutLe(packet, type, static_cast<int>(wire::kHeaderSize));
}

// How much each counter grows per poll in demo mode: a few megabytes, less for later ones.
int64_t DemoGrowth(size_t index) {
    return 1572864 / static_cast<int64_t>(index + 1) + 4096 * index;
}
constexpr int32_t kDemoCostPerPoll = 250;  // 0.250 of the currency unit

}  // namespace

AccessServer::AccessServer(std::vector<Account> accounts, const Options& options, Clock& clock,
                           std::ostream* log)
    : accounts_(std::move(accounts)), options_(options), clock_(clock), log_(log) {
    keys_.resize(accounts_.size());
    for (size_t i = 0; i < accounts_.size(); ++i) {
        MakePasswordKey(accounts_[i].password.c_str(), keys_[i].passwordKey);
        wire::WriteLoginField(keys_[i].loginField, accounts_[i].login.c_str());
        if (accounts_[i].bound)
            byAddress_[accounts_[i].address] = static_cast<uint32_t>(i);
        else if (defaultAccount_ == kNoAccount)
            defaultAccount_ = static_cast<uint32_t>(i);
    }
    lastSweep_ = clock_.Now();
}

AccessServer::~AccessServer() {
    for (Account& a : accounts_) WipeString(a.password);
    if (!keys_.empty()) WipeBytes(keys_.data(), keys_.size() * sizeof keys_[0]);
    for (auto& entry : sessions_) WipeBytes(entry.second.sessionKey, sizeof entry.second.sessionKey);
}

bool AccessServer::Open(const Endpoint& listen) {
    if (!socket_.IsOpen()) {
        openError_ = "no UDP socket could be made";
        return false;
    }
    if (!socket_.Bind(listen)) {
        openError_ = LastSocketError();
        return false;
    }
    return true;
}

void AccessServer::Note(const std::string& line) {
    Log(line);
    FlushLog();
}

int AccessServer::Pump(int timeoutMs) {
    const int ready = socket_.WaitReadable(timeoutMs);
    if (ready < 0) return -1;
    int handled = 0;
    // Bounded, so that a flood cannot hold off the expiry sweep for long. A failed
    // receive ends the batch: nothing more is waiting, or one datagram too long
    // was refused, and then the next wait returns at once.
    while (ready > 0 && handled < 4096) {
        Endpoint from;
        const int n = socket_.Receive(buffer_, sizeof buffer_ - 1, &from);
        if (n < 0) break;
        ++handled;
        Dispatch(buffer_, static_cast<size_t>(n), from);
    }
    if (clock_.Now() != lastSweep_) ExpireSessions();
    FlushLog();
    return handled;
}

void AccessServer::HandleDatagram(const uint8_t* data, size_t length, const Endpoint& from) {
    Dispatch(data, length, from);
    FlushLog();
}

void AccessServer::Dispatch(const uint8_t* data, size_t length, const Endpoint& from) {
    // Only the exact packet sizes are taken; bytes 1 to 7 of the header must be zero.
    if (length < wire::kHeaderSize || wire::GetLe(data, 8) > 0xFF) {
        ++stats_.ignored;
        return;
    }
    switch (data[0]) {
        case wire::kHello:
            if (length == wire::kHelloSize) return OnHello(data, from);
            break;
        case wire::kConfirm:
            if (length == wire::kConfirmSize) return OnConfirm(data, from);
            break;
        case wire::kPoll:
            if (length == wire::kPollSize) return OnPoll(data, from);
            break;
        case wire::kLogout:
            if (length == wire::kLogoutSize) return OnLogout(data, from);
            break;
        default:
            break;
    }
    ++stats_.ignored;
}

uint32_t AccessServer::SelectAccount(uint32_t address) const {
    auto it = byAddress_.find(address);
    return it != byAddress_.end() ? it->second : defaultAccount_;
}

void AccessServer::OnHello(const uint8_t* data, const Endpoint& from) {
    const uint32_t account = SelectAccount(from.address);
    uint8_t reply[wire::kKeyReplySize] = {};
    WriteHeader(reply, wire::kKeyReply);
    DhKeyPair pair;  // a fresh pair for every handshake: no two sessions share a key
    const uint64_t key = Key(from);
    if (account == kNoAccount) {
        // No account for this address: an answer no client can match, so it
        // reports a refused login rather than a silent server.
        pair.WritePublic(reply + wire::kKeyReplyPublicOffset);
        std::memcpy(reply + wire::kKeyReplyEchoOffset, reply + wire::kKeyReplyPublicOffset, 16);
        reply[wire::kKeyReplyEchoOffset] ^= 0xFF;
        Send(reply, sizeof reply, from);
        sessions_.erase(key);
        Log("HELLO from " + Describe(from) + ": no account for this address, refused");
        return;
    }
    const AccountKeys& keys = keys_[account];
    uint8_t clientPublic[kDhSize];
    std::memcpy(clientPublic, data + wire::kHelloPublicOffset, kDhSize);
    DesEcbBlocks(clientPublic, kDhSize / 8, keys.passwordKey, 0);
    uint8_t secret[kDhSize];
    const int secretLength = pair.ComputeSecret(clientPublic, secret);

    Session s;
    s.account = account;
    s.lastSeen = clock_.Now();
    FoldSessionKey(secret, s.sessionKey);
    pair.WritePublic(reply + wire::kKeyReplyPublicOffset);
    DesEcbBlocks(reply + wire::kKeyReplyPublicOffset, kDhSize / 8, keys.passwordKey, 1);
    std::memcpy(reply + wire::kKeyReplyEchoOffset, keys.loginField, wire::kLoginFieldSize);
    TripleDesEcbBlocks(reply + wire::kKeyReplyEchoOffset, 2, keys.passwordKey, s.sessionKey, 1);
    Send(reply, sizeof reply, from);
    ++stats_.handshakes;

    if (secretLength < 0) {
        // What the HELLO holds is no public value under this password: the
        // client's password differs, and its echo check will refuse the reply.
        sessions_.erase(key);
        Log("HELLO from " + Describe(from) + " for " + LoginText(account) +
            ": not sent with this account's password, refused");
        return;
    }
    const bool restarted = sessions_.count(key) != 0;
    if (sessions_.empty()) oldestSeen_ = s.lastSeen;
    sessions_[key] = s;
    Log("HELLO from " + Describe(from) + ", account " + LoginText(account) +
        (restarted ? " (replaces the session of this endpoint)" : ""));
}

bool AccessServer::LoginMatches(const Session& s, const uint8_t* encrypted, size_t blocks,
                                uint8_t* plain) const {
    const AccountKeys& keys = keys_[s.account];
    std::memcpy(plain, encrypted, blocks * 8);
    TripleDesEcbBlocks(plain, static_cast<int>(blocks), keys.passwordKey, s.sessionKey, 0);
    return std::memcmp(plain, keys.loginField, wire::kLoginFieldSize) == 0;
}

void AccessServer::OnConfirm(const uint8_t* data, const Endpoint& from) {
    auto it = sessions_.find(Key(from));
    if (it == sessions_.end()) {
        ++stats_.ignored;
        return;
    }
    Session& s = it->second;
    uint8_t plain[16];
    // Anyone can send a datagram with this endpoint as its source: one that was
    // not made under the session key is dropped and the session goes on.
    if (!LoginMatches(s, data + wire::kLoginOffset, 2, plain)) {
        ++stats_.ignored;
        return;
    }
    if (!s.confirmed) {
        s.confirmed = 1;
        ++stats_.confirmed;
        Log("confirmed login " + LoginText(s.account) + " from " + Describe(from));
    }
}

void AccessServer::OnPoll(const uint8_t* data, const Endpoint& from) {
    auto it = sessions_.find(Key(from));
    if (it == sessions_.end()) {
        ++stats_.ignored;
        return;
    }
    Session& s = it->second;
    uint8_t plain[24];
    if (!LoginMatches(s, data + wire::kLoginOffset, 3, plain)) {
        ++stats_.ignored;
        return;
    }
    // Every POLL carries a higher counter than the one before: a repeated
    // datagram (a replay or a duplicate) gets no second reply.
    const uint64_t counter = wire::GetLe(plain + 16, 8);
    if (counter <= s.lastPoll) {
        ++stats_.ignored;
        return;
    }
    s.lastPoll = counter;
    s.lastSeen = clock_.Now();
    if (!s.confirmed) {
        // The CONFIRM was lost on the way; a POLL under the session key proves as much.
        s.confirmed = 1;
        ++stats_.confirmed;
        Log("confirmed login " + LoginText(s.account) + " from " + Describe(from) +
            " by its first POLL");
    }
    if (++s.pollsSeen <= options_.dropPolls) return;
    if (options_.demo) ApplyDemoUsage(accounts_[s.account]);
    SendPollReply(s, from);
}

void AccessServer::Send(const uint8_t* data, size_t length, const Endpoint& to) {
    if (replySink_)
        replySink_(data, length, to);
    else
        socket_.SendTo(data, length, to);
}

void AccessServer::SendPollReply(Session& s, const Endpoint& to) {
    Account& a = accounts_[s.account];
    wire::PayloadBuilder payload;
    payload.AddBalance(a.balance);
    payload.AddCounterValue(0, a.remainingBytes);
    // The accounts file keeps an account within what one reply holds, so every
    // record fits; a message that would not is kept for a later reply.
    bool messageSent = false;
    if (!a.messages.empty()) {
        const ServerMessage& m = a.messages.front();
        messageSent = payload.AddMessage(m.hasTime ? m.time : clock_.Now(), m.text.c_str());
    }
    for (const ServerCounter& c : a.counters) {
        payload.AddCounterName(c.id, c.name.c_str());
        payload.AddCounterValue(c.id, c.bytes);
    }
    if (messageSent) a.messages.pop_front();

    uint8_t reply[wire::kMaxDatagram] = {};
    reply[0] = wire::kPollReply;
    const size_t size = payload.Size();
    std::memcpy(reply + wire::kPollReplyHeaderSize, payload.Data(), size);
    const AccountKeys& keys = keys_[s.account];
    TripleDesEcbBlocks(reply + wire::kPollReplyHeaderSize, static_cast<int>(size / 8),
                       keys.passwordKey, s.sessionKey, 1);
    Send(reply, wire::kPollReplyHeaderSize + size, to);
    ++stats_.polls;
}

void AccessServer::ApplyDemoUsage(Account& a) {
    int64_t used = 0;
    for (size_t i = 0; i < a.counters.size(); ++i) {
        const int64_t growth = DemoGrowth(i);
        if (a.counters[i].bytes <= INT64_MAX - growth) a.counters[i].bytes += growth;
        used += growth;
    }
    a.remainingBytes = a.remainingBytes > used ? a.remainingBytes - used : 0;
    if (a.balance >= INT32_MIN + kDemoCostPerPoll) a.balance -= kDemoCostPerPoll;
}

void AccessServer::OnLogout(const uint8_t* data, const Endpoint& from) {
    auto it = sessions_.find(Key(from));
    if (it == sessions_.end()) {
        ++stats_.ignored;
        return;
    }
    Session& s = it->second;
    static const uint8_t kZeros[16] = {};
    if (std::memcmp(data + wire::kLoginOffset, kZeros, sizeof kZeros) == 0) {
        // The refusal form travels in the clear, so it ends only a session that
        // has not been confirmed yet.
        if (s.confirmed) {
            ++stats_.ignored;
            return;
        }
        Log("login echo refused by " + Describe(from) + ": wrong login or password for " +
            LoginText(s.account));
        sessions_.erase(it);
        return;
    }
    uint8_t plain[16];
    if (!LoginMatches(s, data + wire::kLoginOffset, 2, plain)) {
        ++stats_.ignored;
        return;
    }
    Log("logout " + LoginText(s.account) + " from " + Describe(from));
    sessions_.erase(it);
}

void AccessServer::ExpireSessions() {
    const int32_t now = clock_.Now();
    lastSweep_ = now;
    oldestSeen_ = now;
    int32_t oldestAge = 0;
    for (auto it = sessions_.begin(); it != sessions_.end();) {
        Session& s = it->second;
        // A clock set back restarts the wait instead of stretching it.
        const int32_t age = Elapsed(s.lastSeen, now);
        if (age > oldestAge && age < options_.sessionTimeout) {
            oldestAge = age;
            oldestSeen_ = s.lastSeen;
        }
        if (age >= options_.sessionTimeout) {
            Endpoint e;
            e.address = static_cast<uint32_t>(it->first >> 16);
            e.port = static_cast<uint16_t>(it->first & 0xFFFF);
            Log("expired " + LoginText(s.account) + " from " + Describe(e) + " after " +
                std::to_string(options_.sessionTimeout) + " s without a POLL");
            it = sessions_.erase(it);
        } else {
            ++it;
        }
    }
    FlushLog();
}

int32_t AccessServer::SecondsToNextExpiry() const {
    if (sessions_.empty()) return -1;
    // Every session was seen at oldestSeen_ or later: handshakes and POLLs only move a
    // session's time on, and the sweep finds the oldest again.
    const int32_t age = static_cast<int32_t>(static_cast<uint32_t>(clock_.Now()) -
                                             static_cast<uint32_t>(oldestSeen_));
    const int32_t left = age < 0 ? options_.sessionTimeout : options_.sessionTimeout - age;
    if (left < 1) return 1;
    return left > options_.sessionTimeout ? options_.sessionTimeout : left;
}

void AccessServer::Log(const std::string& line) {
    if (log_ == nullptr) return;
    const int32_t now = clock_.Now();
    if (now != stampTime_ || stamp_.empty()) {
        const std::time_t t = now;
        char text[32] = "";
        if (const std::tm* local = std::localtime(&t))
            std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S ", local);
        stamp_ = text;
        stampTime_ = now;
    }
    pendingLog_ += stamp_;
    pendingLog_ += line;
    pendingLog_ += '\n';
}

void AccessServer::FlushLog() {
    if (log_ == nullptr || pendingLog_.empty()) return;
    // One write per batch of datagrams: lines never interleave, and a busy server
    // does not pay a system call per line.
    *log_ << pendingLog_ << std::flush;
    pendingLog_.clear();
}

std::string AccessServer::Describe(const Endpoint& e) const {
    char text[32];
    FormatEndpoint(e, text, sizeof text);
    return text;
}

std::string AccessServer::LoginText(uint32_t account) const {
    return "'" + Cp1251ToUtf8(accounts_[account].login) + "'";
}
