// The access server against the real session engine in-process: sockets on loopback, one fake clock
// for both.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/BrinCore.h"
#include "core/Cipher.h"
#include "core/Clock.h"
#include "server/AccessServer.h"
#include "server/Accounts.h"
#include "tests/e2e/E2eSupport.h"

namespace {

Account MakeAccount(const std::string& login, const std::string& password) {
    Account a;
    a.login = login;
    a.password = password;
    return a;
}

class ServerSessionTest : public ::testing::Test {
protected:
    void Start(std::vector<Account> accounts, AccessServer::Options options = {}) {
        server_.reset(new AccessServer(std::move(accounts), options, clock_, &log_));
        Endpoint local;
        local.address = ParseIPv4("127.0.0.1");
        ASSERT_TRUE(server_->Open(local));
    }

    std::unique_ptr<BrinCore> Client(const std::string& login, const std::string& password,
                                     const char* fromAddress = nullptr) {
        std::unique_ptr<BrinCore> core(new BrinCore(&clock_));
        std::strncpy(core->login, login.c_str(), 16);
        std::strncpy(core->password, password.c_str(), 8);
        std::strcpy(core->serverAddress, "127.0.0.1");
        core->port = PortFromNetwork(server_->LocalEndpoint().port);
        if (fromAddress != nullptr) {
            Endpoint local;
            local.address = ParseIPv4(fromAddress);
            EXPECT_TRUE(core->udpSocket.Bind(local));
        }
        return core;
    }

    // The endpoint the server sees for `core`'s datagrams.
    static Endpoint SeenFrom(const BrinCore& core) {
        Endpoint e = core.udpSocket.LocalEndpoint();
        e.address = ParseIPv4("127.0.0.1");
        return e;
    }

    // One tick of the window: the engine steps, the server answers, a second passes.
    PollResult Tick(BrinCore& core) {
        const PollResult r = core.Step();
        server_->Pump(0);
        clock_.Advance(1);
        return r;
    }

    // Connects and ticks until the first reply has been applied (or the handshake failed).
    PollResult ConnectAndPoll(BrinCore& core) {
        core.Connect();
        server_->Pump(0);
        for (int i = 0; i < 6; ++i) {
            const PollResult r = Tick(core);
            if (r != NoEvent || core.state == PollWait) return r;
        }
        return NoEvent;
    }

    // Ticks until the next reply has been applied; false when none came within `limit` ticks.
    bool NextReply(BrinCore& core, int limit = 40) {
        for (int i = 0; i < limit; ++i) {
            const SessionState before = core.state;
            Tick(core);
            if (before == PollSent && core.state == PollWait) return true;
        }
        return false;
    }

    FakeClock clock_{1700000000};
    std::ostringstream log_;
    std::unique_ptr<AccessServer> server_;
};

TEST_F(ServerSessionTest, MessagesComeOnePerReplyInOrderAndLogoutEndsTheSession) {
    Account a = MakeAccount("alice", "secret");
    a.balance = 1234567;
    a.remainingBytes = 1048576;
    a.messages.push_back({true, 1236420309, "first"});
    a.messages.push_back({false, 0, "second"});
    Start({a});
    auto core = Client("alice", "secret");

    ASSERT_EQ(ConnectAndPoll(*core), NoEvent);
    ASSERT_EQ(core->state, PollWait);
    EXPECT_EQ(core->balance, 1234567);
    EXPECT_EQ(core->remainingBytes, 1048576);
    ASSERT_TRUE(core->messagePending);
    EXPECT_EQ(core->messageTime, 1236420309);
    EXPECT_STREQ(core->messageText, "first");
    core->messagePending = 0;

    ASSERT_TRUE(NextReply(*core));
    ASSERT_TRUE(core->messagePending);
    EXPECT_STREQ(core->messageText, "second");
    EXPECT_EQ(core->messageTime, clock_.Now() - 2)
        << "an untimed message carries its delivery time";
    core->messagePending = 0;

    ASSERT_TRUE(NextReply(*core));
    EXPECT_FALSE(core->messagePending);
    EXPECT_EQ(server_->GetStats().polls, 3u);

    EXPECT_EQ(server_->SessionCount(), 1u);
    core->Disconnect();
    server_->Pump(0);
    EXPECT_EQ(server_->SessionCount(), 0u);
    EXPECT_NE(log_.str().find("logout 'alice' from 127.0.0.1:"), std::string::npos) << log_.str();
}

TEST_F(ServerSessionTest, SessionEndsAfterOneHundredSecondsWithoutAPoll) {
    Start({MakeAccount("alice", "secret")});
    auto core = Client("alice", "secret");
    ASSERT_EQ(ConnectAndPoll(*core), NoEvent);
    const int32_t lastPoll = clock_.Now() - 2;  // the POLL went out two ticks ago
    clock_.Set(lastPoll + 99);
    server_->ExpireSessions();
    EXPECT_EQ(server_->SessionCount(), 1u);
    clock_.Set(lastPoll + 100);
    server_->ExpireSessions();
    EXPECT_EQ(server_->SessionCount(), 0u);
    EXPECT_NE(log_.str().find("expired 'alice'"), std::string::npos) << log_.str();
}

// Two sessions that fall silent 37 s apart, then 250 s without a datagram: the server pumped
// every second, or asleep until SecondsToNextExpiry. The expiry lines with their times.
std::vector<std::string> Expiries(bool sleeping, int* wakes) {
    FakeClock clock(1700000000);
    std::ostringstream log;
    AccessServer server({MakeAccount("alice", "secret")}, {}, clock, &log);
    Endpoint local;
    local.address = ParseIPv4("127.0.0.1");
    EXPECT_TRUE(server.Open(local));
    std::vector<std::unique_ptr<BrinCore>> clients;
    for (int i = 0; i < 2; ++i) {
        clients.emplace_back(new BrinCore(&clock));
        BrinCore& core = *clients.back();
        std::strcpy(core.login, "alice");
        std::strcpy(core.password, "secret");
        std::strcpy(core.serverAddress, "127.0.0.1");
        core.port = PortFromNetwork(server.LocalEndpoint().port);
        core.Connect();
        for (int tick = 0; tick < (i == 0 ? 37 : 5); ++tick) {
            server.Pump(0);
            clock.Advance(1);
            if (tick < 4) core.Step();  // the handshake and one POLL, then silence
        }
    }
    *wakes = 0;
    int32_t wakeAt = clock.Now();
    for (int second = 0; second < 250; ++second) {
        if (!sleeping || clock.Now() == wakeAt) {
            server.Pump(0);
            ++*wakes;
            const int32_t left = server.SecondsToNextExpiry();
            wakeAt = left < 0 ? 0 : clock.Now() + left;
        }
        clock.Advance(1);
    }
    EXPECT_EQ(server.SessionCount(), 0u);
    std::vector<std::string> lines;
    std::istringstream in(log.str());
    for (std::string line; std::getline(in, line);)
        if (line.find(" expired ") != std::string::npos) lines.push_back(line.substr(0, 19));
    return lines;
}

TEST(ServerSleepTest, AServerAsleepUntilTheNextExpiryEndsEachSessionAtItsSecond) {
    int every = 0, sleeping = 0;
    const std::vector<std::string> expected = Expiries(false, &every);
    ASSERT_EQ(expected.size(), 2u);
    EXPECT_EQ(Expiries(true, &sleeping), expected);
    EXPECT_EQ(every, 250);
    EXPECT_LE(sleeping, 4);
}

TEST_F(ServerSessionTest, AccountIsChosenByTheSenderAddress) {
    Account bound = MakeAccount("bound", "b-pass");
    bound.bound = true;
    bound.address = ParseIPv4("127.0.0.2");
    Start({bound, MakeAccount("open", "o-pass")});
    struct Case {
        const char* from;
        const char* login;
        const char* password;
        PollResult result;
    } cases[] = {
        {"127.0.0.2", "bound", "b-pass", NoEvent},
        {"127.0.0.1", "bound", "b-pass", Rejected},  // the address decides, not the login
        {"127.0.0.1", "open", "o-pass", NoEvent},
        {"127.0.0.2", "open", "o-pass", Rejected},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.from) + " " + c.login);
        auto core = Client(c.login, c.password, c.from);
        EXPECT_EQ(ConnectAndPoll(*core), c.result);
        EXPECT_EQ(core->connected, c.result == NoEvent ? 1 : 0);
        core->Disconnect();
        server_->Pump(0);
        EXPECT_EQ(server_->SessionCount(), 0u);
    }
}

TEST_F(ServerSessionTest, AnAddressWithoutAccountIsRefused) {
    Account bound = MakeAccount("bound", "b-pass");
    bound.bound = true;
    bound.address = ParseIPv4("127.0.0.2");
    Start({bound});
    auto core = Client("bound", "b-pass");
    EXPECT_EQ(ConnectAndPoll(*core), Rejected);
    EXPECT_NE(log_.str().find("no account for this address"), std::string::npos) << log_.str();
    EXPECT_EQ(server_->SessionCount(), 0u);
}

TEST_F(ServerSessionTest, WrongPasswordOrLoginIsRejectedAndLeavesNoSession) {
    Start({MakeAccount("alice", "secret")});
    struct Case {
        const char* login;
        const char* password;
    } cases[] = {{"alice", "secreT"}, {"alice", ""}, {"bob", "secret"}, {"alic", "secret"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.login) + "/" + c.password);
        auto core = Client(c.login, c.password);
        EXPECT_EQ(ConnectAndPoll(*core), Rejected);
        server_->Pump(0);  // the refusal the engine sent
        EXPECT_EQ(server_->SessionCount(), 0u);
    }
}

TEST_F(ServerSessionTest, RepeatedAndForgedPacketsChangeNothing) {
    Start({MakeAccount("alice", "secret")});
    auto core = Client("alice", "secret");
    ASSERT_EQ(ConnectAndPoll(*core), NoEvent);
    const uint64_t polls = server_->GetStats().polls;

    // The very POLL again, from the very endpoint: no second reply.
    core->udpSocket.SendTo(core->pollPacket, sizeof core->pollPacket, core->serverEndpoint);
    // The refusal form in the clear cannot end a confirmed session.
    uint8_t refusal[24] = {0x60};
    core->udpSocket.SendTo(refusal, sizeof refusal, core->serverEndpoint);
    server_->Pump(0);
    EXPECT_EQ(server_->GetStats().polls, polls);
    EXPECT_EQ(core->udpSocket.Readable(), 0);
    EXPECT_EQ(server_->SessionCount(), 1u);
    EXPECT_TRUE(NextReply(*core)) << "the session goes on";
}

// Anyone can send a HELLO with a subscriber's address and port as its source. Whatever it
// holds, the subscriber's session goes on: its next POLL is answered, under its own key.
TEST_F(ServerSessionTest, ForgedHelloFromASubscribersEndpointLeavesItsSessionAlone) {
    Start({MakeAccount("alice", "secret")});
    auto core = Client("alice", "secret");
    ASSERT_EQ(ConnectAndPoll(*core), NoEvent);
    const Endpoint endpoint = SeenFrom(*core);

    auto guesser = Client("alice", "guess");  // a HELLO under a wrong password
    guesser->Connect();
    auto replayer = Client("alice", "secret");  // the subscriber's own HELLO, recorded
    replayer->Connect();
    std::vector<uint8_t> noise(wire::kHelloSize, 0x5A);
    std::memset(noise.data() + 1, 0, 7);
    noise[0] = wire::kHello;
    const struct {
        const char* what;
        const uint8_t* hello;
    } cases[] = {
        {"a HELLO under another password", guesser->helloPacket},
        {"the subscriber's own HELLO played back", replayer->helloPacket},
        {"noise with a HELLO's header", noise.data()},
    };
    uint64_t replies = 0;
    server_->SetReplySink([&replies](const uint8_t*, size_t, const Endpoint&) { ++replies; });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (int i = 0; i < 3; ++i) server_->HandleDatagram(c.hello, wire::kHelloSize, endpoint);
    }
    server_->SetReplySink(nullptr);
    EXPECT_EQ(replies, 5u) << "each HELLO answered up to its address's burst";
    EXPECT_EQ(server_->SessionCount(), 1u);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(NextReply(*core)) << "poll " << i;
    EXPECT_EQ(core->connected, 1);
}

// The subscriber's client starts a new handshake from the same endpoint (its session was lost
// on its side): the old session answers until the new key is proven, then the new one takes over
// and the old key opens nothing.
TEST_F(ServerSessionTest, NewHandshakeOfAnEndpointTakesOverOnceProven) {
    for (bool byPoll : {false, true}) {
        SCOPED_TRACE(byPoll ? "proven by its first POLL (the CONFIRM lost)" : "proven by CONFIRM");
        Start({MakeAccount("alice", "secret")});
        auto core = Client("alice", "secret");
        ASSERT_EQ(ConnectAndPoll(*core), NoEvent);
        uint8_t oldKey[8];
        std::memcpy(oldKey, core->sessionKey, sizeof oldKey);

        core->state = Idle;  // lost on the client's side: it shakes hands again, same socket
        core->connected = 0;
        core->Connect();
        server_->Pump(0);
        EXPECT_EQ(server_->SessionCount(), 1u);
        EXPECT_EQ(server_->HalfOpenCount(), 1u) << "the new handshake waits beside the session";
        const uint64_t confirmed = server_->GetStats().confirmed;
        if (byPoll) {
            // The engine takes the KEY_REPLY and sends its CONFIRM elsewhere: lost on the way.
            UdpSocket astray;
            Endpoint local;
            local.address = ParseIPv4("127.0.0.1");
            ASSERT_TRUE(astray.Bind(local));
            const Endpoint server = core->serverEndpoint;
            core->serverEndpoint = astray.LocalEndpoint();
            ASSERT_EQ(core->Step(), NoEvent);
            core->serverEndpoint = server;
            clock_.Advance(1);
        } else {
            ASSERT_EQ(Tick(*core), NoEvent);
        }
        ASSERT_EQ(core->connected, 1);
        EXPECT_EQ(server_->GetStats().confirmed, confirmed + (byPoll ? 0 : 1));
        ASSERT_TRUE(NextReply(*core)) << "the new key is answered";
        EXPECT_EQ(server_->GetStats().confirmed, confirmed + 1) << log_.str();
        EXPECT_EQ(server_->SessionCount(), 1u);
        EXPECT_EQ(server_->HalfOpenCount(), 0u);

        // A POLL under the old key, with a counter never seen: no answer.
        uint8_t poll[wire::kPollSize] = {wire::kPoll};
        uint8_t key[8];
        MakePasswordKey("secret", key);
        wire::WriteLoginField(poll + wire::kLoginOffset, "alice");
        wire::PutLe(poll + wire::kPollCounterOffset, 1000, 8);
        TripleDesEcbBlocks(poll + wire::kLoginOffset, 3, key, oldKey, 1);
        const uint64_t polls = server_->GetStats().polls;
        core->udpSocket.SendTo(poll, sizeof poll, core->serverEndpoint);
        server_->Pump(0);
        EXPECT_EQ(server_->GetStats().polls, polls);
    }
}

// The old session runs out (100 s without a POLL) while the client's new handshake waits: the
// handshake stays, and its CONFIRM still opens the session.
TEST_F(ServerSessionTest, ANewHandshakeOutlivesTheOldSessionItWaitsBeside) {
    Start({MakeAccount("alice", "secret")});
    auto core = Client("alice", "secret");
    ASSERT_EQ(ConnectAndPoll(*core), NoEvent);
    clock_.Advance(97);  // the last POLL was two ticks ago: 99 s without one
    core->state = Idle;
    core->connected = 0;
    core->Connect();
    server_->Pump(0);
    ASSERT_EQ(server_->HalfOpenCount(), 1u);
    clock_.Advance(1);
    server_->ExpireSessions();
    EXPECT_NE(log_.str().find("expired 'alice'"), std::string::npos) << log_.str();
    EXPECT_EQ(server_->SessionCount(), 1u) << "the new handshake is kept";
    ASSERT_EQ(Tick(*core), NoEvent);
    ASSERT_EQ(core->connected, 1);
    EXPECT_TRUE(NextReply(*core));
    EXPECT_EQ(server_->HalfOpenCount(), 0u);
}

// HELLOs from one address, through any number of its ports: a burst, then one a second; the
// other addresses are served as before; 0 turns the limit off.
TEST_F(ServerSessionTest, HellosAreLimitedPerSourceAddress) {
    auto replayer = std::unique_ptr<BrinCore>(new BrinCore(&clock_));
    std::strcpy(replayer->password, "secret");
    replayer->Connect();  // only for a HELLO that holds a public value under the password
    const uint8_t* hello = replayer->helloPacket;
    struct Case {
        uint32_t burst;
        int32_t interval;
        int perSecond;  // HELLOs sent each second from 10.0.0.1, a new port each
        int seconds;
        uint64_t answeredExpected;  // of those from 10.0.0.1
    } cases[] = {
        {5, 1, 100, 1, 5},     // the burst
        {5, 1, 100, 61, 65},   // then one a second
        {5, 10, 100, 61, 11},  // or one every 10 s
        {5, 1, 1, 61, 61},     // one a second is always answered
        {0, 1, 100, 2, 200},   // no limit
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.burst) + "/" + std::to_string(c.interval) + "/" +
                     std::to_string(c.perSecond) + "x" + std::to_string(c.seconds));
        AccessServer::Options options;
        options.helloBurst = c.burst;
        options.helloInterval = c.interval;
        Start({MakeAccount("alice", "secret")}, options);
        uint64_t answered = 0, other = 0;
        server_->SetReplySink([&](const uint8_t*, size_t, const Endpoint& to) {
            (to.address == ParseIPv4("10.0.0.1") ? answered : other) += 1;
        });
        Endpoint from;
        from.address = ParseIPv4("10.0.0.1");
        Endpoint neighbour;
        neighbour.address = ParseIPv4("10.0.0.2");
        for (int second = 0; second < c.seconds; ++second) {
            for (int i = 0; i < c.perSecond; ++i) {
                from.port = static_cast<uint16_t>(1000 + second * c.perSecond + i);
                server_->HandleDatagram(hello, wire::kHelloSize, from);
            }
            if (second % 30 == 0) {  // a subscriber beside it, as its client reconnects
                neighbour.port = static_cast<uint16_t>(2000 + second);
                server_->HandleDatagram(hello, wire::kHelloSize, neighbour);
            }
            clock_.Advance(1);
            server_->ExpireSessions();
        }
        EXPECT_EQ(answered, c.answeredExpected);
        EXPECT_EQ(other, static_cast<uint64_t>((c.seconds + 29) / 30)) << "the neighbour";
        EXPECT_EQ(server_->GetStats().throttled,
                  static_cast<uint64_t>(c.perSecond) * c.seconds - c.answeredExpected);
        server_->SetReplySink(nullptr);
    }
}

// A flood of HELLOs from many endpoints: the unproven handshakes are bounded, the oldest goes,
// and a confirmed session is never among them.
TEST_F(ServerSessionTest, HalfOpenHandshakesAreBoundedOldestFirst) {
    AccessServer::Options options;
    options.maxHalfOpen = 8;
    Start({MakeAccount("alice", "secret")}, options);
    auto subscriber = Client("alice", "secret", "127.0.0.2");
    ASSERT_EQ(ConnectAndPoll(*subscriber), NoEvent);
    auto early = Client("alice", "secret", "127.0.0.3");  // its handshake will be the oldest
    early->Connect();
    server_->Pump(0);

    auto replayer = Client("alice", "secret");
    replayer->Connect();
    server_->SetReplySink([](const uint8_t*, size_t, const Endpoint&) {});
    Endpoint from;
    for (uint32_t i = 0; i < 200; ++i) {
        from.address = ParseIPv4("10.1.0.0") + htonl(i);  // one HELLO from each of 200 addresses
        from.port = 4000;
        server_->HandleDatagram(replayer->helloPacket, wire::kHelloSize, from);
        EXPECT_LE(server_->HalfOpenCount(), 8u);
    }
    server_->SetReplySink(nullptr);
    EXPECT_EQ(server_->HalfOpenCount(), 8u);
    EXPECT_EQ(server_->SessionCount(), 9u) << "the subscriber's session and the 8 newest";
    EXPECT_EQ(server_->GetStats().evicted, 201u - 8u);

    // The oldest handshake's client answers its KEY_REPLY: too late, it was dropped.
    EXPECT_EQ(Tick(*early), NoEvent);
    EXPECT_EQ(early->connected, 1) << "the client saw its KEY_REPLY";
    EXPECT_FALSE(NextReply(*early, 3));
    EXPECT_TRUE(NextReply(*subscriber)) << "the confirmed session is untouched";
    auto late = Client("alice", "secret", "127.0.0.4");
    EXPECT_EQ(ConnectAndPoll(*late), NoEvent);
    EXPECT_EQ(late->state, PollWait) << "a new client gets in";
}

// Lines of events anyone can repeat are summed per address and kind, one line per interval;
// the events of proven sessions keep a line each.
TEST_F(ServerSessionTest, RepeatedEventsFromOneAddressAreSummedInTheLog) {
    AccessServer::Options options;
    options.logInterval = 60;
    Start({MakeAccount("alice", "secret")}, options);
    auto replayer = Client("alice", "secret");
    replayer->Connect();
    server_->SetReplySink([](const uint8_t*, size_t, const Endpoint&) {});
    Endpoint from;
    for (int second = 0; second < 45; ++second) {
        for (int i = 0; i < 100; ++i) {
            from.address = ParseIPv4(i % 2 ? "10.0.0.1" : "10.0.0.2");
            from.port = static_cast<uint16_t>(1000 + i);
            server_->HandleDatagram(replayer->helloPacket, wire::kHelloSize, from);
        }
        clock_.Advance(1);
        server_->ExpireSessions();
    }
    server_->SetReplySink(nullptr);
    auto lines = [this](const std::string& what) {
        size_t n = 0;
        for (size_t at = log_.str().find(what); at != std::string::npos;
             at = log_.str().find(what, at + 1))
            ++n;
        return n;
    };
    const size_t before = log_.str().size();
    EXPECT_LT(before, 2000u) << log_.str();
    EXPECT_EQ(lines("\n"), 4u) << "per address: one HELLO and one over-the-limit line\n"
                               << log_.str();
    clock_.Advance(15);
    server_->ExpireSessions();  // the interval is over: the sums
    // 2250 HELLOs from each address: 5 + 44 answered, 2201 over the limit.
    for (const char* address : {"10.0.0.1", "10.0.0.2"}) {
        EXPECT_EQ(lines(std::string("48 more HELLO(s) from ") + address + " in the last 60 s"), 1u)
            << log_.str();
        EXPECT_EQ(
            lines(std::string("2200 more HELLO(s) over the limit, not answered from ") + address),
            1u)
            << log_.str();
    }
    // A subscriber's own session: a line for each of its events, as before.
    for (int i = 0; i < 2; ++i) {
        auto core = Client("alice", "secret");
        ASSERT_EQ(ConnectAndPoll(*core), NoEvent);
        core->Disconnect();
        server_->Pump(0);
    }
    EXPECT_EQ(lines("confirmed login 'alice' from 127.0.0.1:"), 2u);
    EXPECT_EQ(lines("logout 'alice' from 127.0.0.1:"), 2u);
}

TEST_F(ServerSessionTest, MalformedDatagramsGetNoAnswer) {
    Start({MakeAccount("alice", "secret")});
    auto core = Client("alice", "secret");
    ASSERT_EQ(ConnectAndPoll(*core), NoEvent);
    const Endpoint from = SeenFrom(*core);

    struct Case {
        uint8_t type;
        size_t length;
        uint8_t headerByte3;
    } cases[] = {
        {0x10, 63, 0}, {0x10, 65, 0}, {0x10, 64, 1},  // HELLO of the wrong size or header
        {0x20, 23, 0}, {0x40, 33, 0}, {0x40, 32, 7}, {0x60, 25, 0},
        {0x77, 32, 0}, {0x30, 80, 0}, {0x50, 40, 0}, {0x40, 7, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + "/" + std::to_string(c.length));
        std::vector<uint8_t> d(c.length, 0xA5);
        d[0] = c.type;
        if (c.length > 3) {
            std::fill(d.begin() + 1, d.begin() + std::min<size_t>(8, c.length), 0);
            d[3] = c.headerByte3;
        }
        server_->HandleDatagram(d.data(), d.size(), from);
        EXPECT_EQ(core->udpSocket.Readable(), 0);
        EXPECT_EQ(server_->SessionCount(), 1u);
    }
    // Noise of every other kind, under the sanitizers: no crash, and the session survives.
    std::mt19937 rng(7);
    for (int i = 0; i < 3000; ++i) {
        std::vector<uint8_t> d(rng() % 100);
        for (uint8_t& b : d) b = static_cast<uint8_t>(rng());
        if (!d.empty() && d[0] == 0x10) d[0] = 0x11;  // a HELLO would rightly restart it
        if (d.size() > 8 && rng() % 2) std::fill(d.begin() + 1, d.begin() + 8, 0);
        server_->HandleDatagram(d.data(), d.size(), from);
    }
    EXPECT_EQ(server_->SessionCount(), 1u);
    while (core->udpSocket.Readable() == 1) {
        uint8_t drop[2048];
        core->udpSocket.Receive(drop, sizeof drop, nullptr);
    }
    EXPECT_TRUE(NextReply(*core));
}

TEST_F(ServerSessionTest, DemoModeMovesCountersAndBalanceAtEveryPoll) {
    AccessServer::Options options;
    options.demo = true;
    Start({DemoAccount()}, options);
    auto core = Client("demo", "demo");
    ASSERT_EQ(ConnectAndPoll(*core), NoEvent);
    const AccountSnapshot first = *core;
    ASSERT_EQ(first.counters.size(), 3u);
    ASSERT_TRUE(NextReply(*core));
    EXPECT_EQ(core->balance, first.balance - 250);
    int64_t grown = 0;
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_GT(core->counters[i].byteCount, first.counters[i].byteCount) << i;
        grown += core->counters[i].byteCount - first.counters[i].byteCount;
    }
    EXPECT_EQ(core->remainingBytes, first.remainingBytes - grown);
}

TEST_F(ServerSessionTest, DroppedPollsAreResentAndThreeMeanLoss) {
    struct Case {
        uint32_t dropPolls;
        bool lost;
    } cases[] = {{1, false}, {2, false}, {3, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dropPolls);
        AccessServer::Options options;
        options.dropPolls = c.dropPolls;
        Start({MakeAccount("alice", "secret")}, options);
        auto core = Client("alice", "secret");
        ASSERT_EQ(ConnectAndPoll(*core), NoEvent);
        PollResult last = NoEvent;
        bool replied = core->state == PollWait;
        for (int i = 0; i < 120 && last == NoEvent && !replied; ++i) {
            const SessionState before = core->state;
            last = Tick(*core);
            replied = before == PollSent && core->state == PollWait;
        }
        EXPECT_EQ(last, c.lost ? Lost : NoEvent);
        EXPECT_EQ(replied, !c.lost);
        if (replied) {
            EXPECT_EQ(core->pollCounter, c.dropPolls + 2u);
        }
    }
}

TEST_F(ServerSessionTest, TheLargestAccountFitsOneReply) {
    Account a = MakeAccount("alice", "secret");
    for (uint64_t i = 1; i <= kMaxCounters; ++i) {
        std::string name = "counter-" + std::to_string(i);
        name.resize(16, '#');
        a.counters.push_back({i * 0x100000001ull, name, static_cast<int64_t>(i) * 1000});
    }
    a.messages.push_back({true, 42, std::string(kMaxMessageBytes, 'm')});
    a.balance = -5;
    Start({a});
    auto core = Client("alice", "secret");
    ASSERT_EQ(ConnectAndPoll(*core), NoEvent);
    ASSERT_EQ(core->state, PollWait);
    EXPECT_EQ(core->balance, -5);
    ASSERT_EQ(core->counters.size(), kMaxCounters);
    for (size_t i = 0; i < kMaxCounters; ++i) {
        const TrafficCounter& c = core->counters[i];
        EXPECT_EQ((static_cast<uint64_t>(c.idHigh) << 32) | c.idLow, a.counters[i].id);
        EXPECT_EQ(std::string(c.name, 16), a.counters[i].name);
        EXPECT_EQ(c.byteCount, a.counters[i].bytes);
    }
    ASSERT_TRUE(core->messagePending);
    EXPECT_EQ(std::string(core->messageText, strnlen(core->messageText, 248)), a.messages[0].text);
}

}  // namespace
