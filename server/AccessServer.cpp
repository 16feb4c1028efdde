// Session handling of the reference access server: one record per client endpoint, one thread.
#include "server/AccessServer.h"

#include <cstring>
#include <ctime>

#include "core/Cipher.h"
#include "core/Cp1251.h"
#include "core/PacketCodec.h"
#include "core/ProcessHardening.h"
#include "core/Wire.h"
#include "server/SocketError.h"

namespace {

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
    repeatsSince_ = lastSweep_;
}

AccessServer::~AccessServer() {
    for (Account& a : accounts_) WipeString(a.password);
    if (!keys_.empty()) WipeBytes(keys_.data(), keys_.size() * sizeof keys_[0]);
    for (auto& entry : sessions_) {
        WipeBytes(entry.second.sessionKey, sizeof entry.second.sessionKey);
        WipeBytes(entry.second.pendingKey, sizeof entry.second.pendingKey);
    }
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

Endpoint AccessServer::EndpointOf(uint64_t key) {
    Endpoint e;
    e.address = static_cast<uint32_t>(key >> 16);
    e.port = static_cast<uint16_t>(key & 0xFFFF);
    return e;
}

bool AccessServer::TakeHelloToken(uint32_t address) {
    if (options_.helloBurst == 0) return true;
    const int32_t now = clock_.Now();
    auto it = helloBuckets_.find(address);
    if (it == helloBuckets_.end()) {
        // Past the bound (a flood from very many addresses) the newcomers share one
        // bucket: the addresses already known keep theirs.
        if (helloBuckets_.size() >= kMaxHelloBuckets) address = kSharedBucket;
        it = helloBuckets_.find(address);
        if (it == helloBuckets_.end()) {
            HelloBucket fresh;
            fresh.tokens = options_.helloBurst;
            fresh.refilledAt = now;
            it = helloBuckets_.emplace(address, fresh).first;
        }
    }
    HelloBucket& b = it->second;
    const int32_t interval = options_.helloInterval > 0 ? options_.helloInterval : 1;
    const uint32_t earned = static_cast<uint32_t>(Elapsed(b.refilledAt, now) / interval);
    if (b.tokens + static_cast<uint64_t>(earned) >= options_.helloBurst) {
        b.tokens = options_.helloBurst;
        b.refilledAt = now;
    } else if (earned > 0) {
        b.tokens += earned;
        b.refilledAt = static_cast<int32_t>(static_cast<uint32_t>(b.refilledAt) +
                                            earned * static_cast<uint32_t>(interval));
    }
    if (b.tokens == 0) return false;
    --b.tokens;
    return true;
}

void AccessServer::OnHello(const uint8_t* data, const Endpoint& from) {
    // Before any work: a HELLO over its address's limit costs no exponentiation.
    if (!TakeHelloToken(from.address)) {
        ++stats_.throttled;
        LogRepeatable(kRepeatThrottled, from.address,
                      "HELLO from " + Describe(from) + ": over its address's limit (" +
                          std::to_string(options_.helloBurst) + " at once, then one every " +
                          std::to_string(options_.helloInterval) + " s), not answered");
        return;
    }
    const uint32_t account = SelectAccount(from.address);
    uint8_t reply[wire::kKeyReplySize];
    DhKeyPair pair;  // a fresh pair for every handshake: no two sessions share a key
    const uint64_t key = Key(from);
    if (account == kNoAccount) {
        wire::SealUnmatchableKeyReply(reply, pair);
        Send(reply, sizeof reply, from);
        LogRepeatable(kRepeatNoAccount, from.address,
                      "HELLO from " + Describe(from) + ": no account for this address, refused");
        return;
    }
    const AccountKeys& keys = keys_[account];
    uint8_t clientPublic[kDhSize];
    wire::OpenHello(data, keys.passwordKey, clientPublic);
    uint8_t secret[kDhSize];
    const int secretLength = pair.ComputeSecret(clientPublic, secret);

    uint8_t sessionKey[8];
    FoldSessionKey(secret, sessionKey);
    wire::SealKeyReply(reply, pair, keys.loginField, {keys.passwordKey, sessionKey});
    Send(reply, sizeof reply, from);
    ++stats_.handshakes;

    if (secretLength < 0) {
        // What the HELLO holds is no public value under this password: the
        // client's password differs, and its echo check will refuse the reply.
        WipeBytes(sessionKey, sizeof sessionKey);
        LogRepeatable(kRepeatWrongPassword, from.address,
                      "HELLO from " + Describe(from) + " for " + LoginText(account) +
                          ": not sent with this account's password, refused");
        return;
    }
    const int32_t now = clock_.Now();
    auto it = sessions_.find(key);
    std::string note;
    if (it == sessions_.end() || !it->second.confirmed) {
        // A new endpoint, or one whose handshake is still unproven (its client tries again).
        if (sessions_.empty()) oldestSeen_ = now;
        Session& s = sessions_[key];
        const bool restarted = s.account != kNoAccount;
        s.account = account;
        s.lastSeen = now;
        s.lastPoll = 0;
        s.pollsSeen = 0;
        std::memcpy(s.sessionKey, sessionKey, sizeof sessionKey);
        MarkHalfOpen(key, s, false);
        if (restarted) note = " (replaces the unproven handshake of this endpoint)";
    } else {
        // The session is up and stays so: this may be anyone with the endpoint as its
        // source. The new key waits until its client proves it.
        Session& s = it->second;
        std::memcpy(s.pendingKey, sessionKey, sizeof sessionKey);
        s.hasPending = 1;
        s.pendingSince = now;
        MarkHalfOpen(key, s, true);
        note = " (the endpoint's session goes on until the new one is proven)";
    }
    WipeBytes(sessionKey, sizeof sessionKey);
    LogRepeatable(kRepeatHello, from.address,
                  "HELLO from " + Describe(from) + ", account " + LoginText(account) + note);
    while (halfOpen_.size() > options_.maxHalfOpen && !halfOpen_.empty()) EvictOldestHalfOpen();
}

void AccessServer::MarkHalfOpen(uint64_t endpoint, Session& s, bool pending) {
    ClearHalfOpen(s);
    s.halfOpen = halfOpen_.insert(halfOpen_.end(), HalfOpen{endpoint, pending});
    s.inHalfOpen = true;
}

void AccessServer::ClearHalfOpen(Session& s) {
    if (!s.inHalfOpen) return;
    halfOpen_.erase(s.halfOpen);
    s.inHalfOpen = false;
}

void AccessServer::DropPending(Session& s) {
    if (!s.hasPending) return;
    WipeBytes(s.pendingKey, sizeof s.pendingKey);
    s.hasPending = 0;
    ClearHalfOpen(s);
}

void AccessServer::EraseSession(SessionMap::iterator it) {
    Session& s = it->second;
    ClearHalfOpen(s);
    WipeBytes(s.sessionKey, sizeof s.sessionKey);
    WipeBytes(s.pendingKey, sizeof s.pendingKey);
    sessions_.erase(it);
}

void AccessServer::EvictOldestHalfOpen() {
    const HalfOpen oldest = halfOpen_.front();
    auto it = sessions_.find(oldest.endpoint);
    if (it == sessions_.end()) {  // cannot be: every entry belongs to a session
        halfOpen_.pop_front();
        return;
    }
    ++stats_.evicted;
    const Endpoint e = EndpointOf(oldest.endpoint);
    LogRepeatable(kRepeatEvicted, e.address,
                  "unproven handshake of " + Describe(e) +
                      " dropped: " + std::to_string(options_.maxHalfOpen) + " newer ones wait");
    if (oldest.pending)
        DropPending(it->second);
    else
        EraseSession(it);
}

bool AccessServer::LoginMatches(const Session& s, const uint8_t* sessionKey,
                                const uint8_t* encrypted, size_t blocks, uint8_t* plain) const {
    const AccountKeys& keys = keys_[s.account];
    wire::OpenBody(encrypted, static_cast<int>(blocks), {keys.passwordKey, sessionKey}, plain);
    return std::memcmp(plain, keys.loginField, wire::kLoginFieldSize) == 0;
}

AccessServer::Session* AccessServer::ProvenSession(const Endpoint& from, const uint8_t* packet,
                                                   size_t blocks, uint8_t* plain) {
    const uint8_t* encrypted = packet + wire::kLoginOffset;
    auto it = sessions_.find(Key(from));
    if (it == sessions_.end()) {
        ++stats_.ignored;
        return nullptr;
    }
    Session& s = it->second;
    // Anyone can send a datagram with this endpoint as its source: one that was
    // not made under a key of the endpoint is dropped and the session goes on.
    if (LoginMatches(s, s.sessionKey, encrypted, blocks, plain)) return &s;
    if (!s.hasPending || !LoginMatches(s, s.pendingKey, encrypted, blocks, plain)) {
        ++stats_.ignored;
        return nullptr;
    }
    // The client has taken its new handshake: the session under the old key is over.
    std::memcpy(s.sessionKey, s.pendingKey, sizeof s.sessionKey);
    DropPending(s);
    s.confirmed = 0;
    s.lastPoll = 0;
    s.pollsSeen = 0;
    s.lastSeen = clock_.Now();
    return &s;
}

void AccessServer::OnConfirm(const uint8_t* data, const Endpoint& from) {
    uint8_t plain[wire::kLoginFieldSize];
    Session* s = ProvenSession(from, data, wire::kLoginFieldBlocks, plain);
    if (s == nullptr) return;
    if (!s->confirmed) {
        s->confirmed = 1;
        ClearHalfOpen(*s);
        ++stats_.confirmed;
        Log("confirmed login " + LoginText(s->account) + " from " + Describe(from));
    }
}

void AccessServer::OnPoll(const uint8_t* data, const Endpoint& from) {
    uint8_t plain[wire::kPollSize - wire::kLoginOffset];
    Session* found = ProvenSession(from, data, wire::kPollSealedBlocks, plain);
    if (found == nullptr) return;
    Session& s = *found;
    // Every POLL carries a higher counter than the one before: a repeated
    // datagram (a replay or a duplicate) gets no second reply.
    const uint64_t counter =
        wire::GetLe(plain + (wire::kPollCounterOffset - wire::kLoginOffset), 8);
    if (counter <= s.lastPoll) {
        ++stats_.ignored;
        return;
    }
    s.lastPoll = counter;
    s.lastSeen = clock_.Now();
    if (!s.confirmed) {
        // The CONFIRM was lost on the way; a POLL under the session key proves as much.
        s.confirmed = 1;
        ClearHalfOpen(s);
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

    uint8_t reply[wire::kMaxDatagram];
    const AccountKeys& keys = keys_[s.account];
    Send(reply,
         wire::SealPollReply(reply, payload.Data(), payload.Size(),
                             {keys.passwordKey, s.sessionKey}),
         to);
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
        // The refusal form travels in the clear, so it ends only a handshake that
        // has not been proven yet: the newest one, and never a confirmed session.
        if (s.confirmed && !s.hasPending) {
            ++stats_.ignored;
            return;
        }
        LogRepeatable(kRepeatRefusedEcho, from.address,
                      "login echo refused by " + Describe(from) + ": wrong login or password for " +
                          LoginText(s.account));
        if (s.hasPending)
            DropPending(s);
        else
            EraseSession(it);
        return;
    }
    uint8_t plain[wire::kLoginFieldSize];
    if (ProvenSession(from, data, wire::kLoginFieldBlocks, plain) == nullptr) return;
    Log("logout " + LoginText(s.account) + " from " + Describe(from));
    EraseSession(it);
}

void AccessServer::ExpireSessions() {
    const int32_t now = clock_.Now();
    lastSweep_ = now;
    oldestSeen_ = now;
    int32_t oldestAge = 0;
    for (auto it = sessions_.begin(); it != sessions_.end();) {
        Session& s = it->second;
        const Endpoint e = EndpointOf(it->first);
        // A clock set back restarts the wait instead of stretching it.
        int32_t age = Elapsed(s.lastSeen, now);
        if (age >= options_.sessionTimeout) {
            if (s.confirmed)
                Log("expired " + LoginText(s.account) + " from " + Describe(e) + " after " +
                    std::to_string(options_.sessionTimeout) + " s without a POLL");
            else
                LogRepeatable(kRepeatUnproven, e.address,
                              "unproven handshake of " + Describe(e) + " for " +
                                  LoginText(s.account) + " dropped after " +
                                  std::to_string(options_.sessionTimeout) + " s");
            const bool pendingLives =
                s.hasPending && Elapsed(s.pendingSince, now) < options_.sessionTimeout;
            if (!pendingLives) {
                auto gone = it++;
                EraseSession(gone);
                continue;
            }
            // The client's new handshake outlives the old session: it is the endpoint's
            // session now, still to be proven (its CONFIRM may be on the way).
            std::memcpy(s.sessionKey, s.pendingKey, sizeof s.sessionKey);
            WipeBytes(s.pendingKey, sizeof s.pendingKey);
            s.hasPending = 0;
            s.confirmed = 0;
            s.lastSeen = s.pendingSince;
            s.lastPoll = 0;
            s.pollsSeen = 0;
            s.halfOpen->pending = false;
            age = Elapsed(s.lastSeen, now);
        }
        if (s.hasPending && Elapsed(s.pendingSince, now) >= options_.sessionTimeout) {
            LogRepeatable(kRepeatUnproven, e.address,
                          "unproven handshake of " + Describe(e) + " for " + LoginText(s.account) +
                              " dropped after " + std::to_string(options_.sessionTimeout) + " s");
            DropPending(s);
        }
        // The next sweep is due when the oldest session, or pending handshake, may expire.
        const int32_t pendingAge = s.hasPending ? Elapsed(s.pendingSince, now) : 0;
        if (age > oldestAge) {
            oldestAge = age;
            oldestSeen_ = s.lastSeen;
        }
        if (pendingAge > oldestAge) {
            oldestAge = pendingAge;
            oldestSeen_ = s.pendingSince;
        }
        ++it;
    }
    // A full bucket is what a new one would be: only the addresses still paying back stay.
    if (options_.helloBurst != 0) {
        const int32_t interval = options_.helloInterval > 0 ? options_.helloInterval : 1;
        for (auto it = helloBuckets_.begin(); it != helloBuckets_.end();) {
            HelloBucket& b = it->second;
            const int64_t due = static_cast<int64_t>(options_.helloBurst - b.tokens) * interval;
            if (Elapsed(b.refilledAt, now) >= due)
                it = helloBuckets_.erase(it);
            else
                ++it;
        }
    }
    if (Elapsed(repeatsSince_, now) >= options_.logInterval) SumRepeats(now);
    FlushLog();
}

int32_t AccessServer::SecondsToNextExpiry() const {
    // Seconds from now until `timeout` has passed since `since`, within 1 to timeout.
    const auto left = [this](int32_t since, int32_t timeout) {
        const int32_t age = static_cast<int32_t>(static_cast<uint32_t>(clock_.Now()) -
                                                 static_cast<uint32_t>(since));
        const int32_t rest = age < 0 ? timeout : timeout - age;
        return rest < 1 ? 1 : rest > timeout ? timeout : rest;
    };
    // The events summed since repeatsSince_ get their line at the end of the interval.
    const int32_t summary =
        repeats_.empty() && repeatsUntracked_ == 0 ? -1 : left(repeatsSince_, options_.logInterval);
    if (sessions_.empty()) return summary;
    // Every session (and pending handshake) was seen at oldestSeen_ or later:
    // handshakes and POLLs only move a session's time on, and the sweep finds the
    // oldest again.
    const int32_t expiry = left(oldestSeen_, options_.sessionTimeout);
    return summary < 0 || expiry < summary ? expiry : summary;
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
    ++stats_.logLines;
}

void AccessServer::LogRepeatable(RepeatKind kind, uint32_t address, const std::string& line) {
    if (log_ == nullptr) return;
    const uint64_t key = (static_cast<uint64_t>(address) << 8) | kind;
    auto it = repeats_.find(key);
    if (it != repeats_.end()) {
        ++it->second;
        return;
    }
    if (repeats_.size() >= kMaxRepeats) {
        ++repeatsUntracked_;
        return;
    }
    repeats_.emplace(key, 0);
    Log(line);
}

void AccessServer::SumRepeats(int32_t now) {
    static const char* const kWhat[kRepeatKinds] = {
        "HELLO(s)",
        "HELLO(s) without an account",
        "HELLO(s) not sent with the account's password",
        "HELLO(s) over the limit, not answered",
        "refused login echo(es)",
        "unproven handshake(s) dropped after the session time-out",
        "unproven handshake(s) dropped for newer ones",
    };
    const std::string span = " in the last " + std::to_string(options_.logInterval) + " s";
    for (const auto& entry : repeats_) {
        if (entry.second == 0) continue;
        Endpoint e;
        e.address = static_cast<uint32_t>(entry.first >> 8);
        std::string where = Describe(e);
        where.erase(where.rfind(':'));
        Log(std::to_string(entry.second) + " more " + kWhat[entry.first & 0xFF] + " from " + where +
            span);
    }
    if (repeatsUntracked_ != 0)
        Log(std::to_string(repeatsUntracked_) + " more events from other addresses" + span);
    repeats_.clear();
    repeatsUntracked_ = 0;
    repeatsSince_ = now;
}

void AccessServer::FlushLog() {
    if (log_ == nullptr || pendingLog_.empty()) return;
    // One write per batch of datagrams: lines never interleave, and a busy server
    // does not pay a system call per line. A log that cannot be written (its reader
    // went away, a full disk) loses the batch and never stops the serving; the next
    // batch tries again.
    *log_ << pendingLog_ << std::flush;
    if (!*log_) log_->clear();
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
