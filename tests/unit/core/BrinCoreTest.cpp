// The session engine against a test server on 127.0.0.1, with a fake clock.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "core/BrinCore.h"
#include "core/TestSeams.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/unit/core/DhVectors.h"
#include "tests/unit/core/Hex.h"

namespace {

const char kLogin[] = "user";
const char kPassword[] = "secret";

Bytes Payload(std::initializer_list<Bytes> records) {
    Bytes p;
    for (const Bytes& r : records) p.insert(p.end(), r.begin(), r.end());
    p.push_back(0);
    p.resize((p.size() + 7) / 8 * 8, 0);
    return p;
}

Bytes BalanceRecord(int32_t balance) {
    Bytes r{wire::kRecBalance, 4, 0, 0, 0, 0};
    wire::PutLe(r.data() + 2, static_cast<uint32_t>(balance), 4);
    return r;
}

Bytes LoginField(const char* login) {
    Bytes f(wire::kLoginFieldSize);
    wire::WriteLoginField(f.data(), login);
    return f;
}

// One engine, its server and its clock.
struct Session {
    FakeClock clock;
    ScriptedPeer peer{kPassword};
    BrinCore engine{&clock};
    Bytes hello;

    Session() {
        std::strcpy(engine.login, kLogin);
        std::strcpy(engine.password, kPassword);
        std::strcpy(engine.serverAddress, "127.0.0.1");
        engine.port = peer.Port();
    }

    // Sends to the engine and waits until its socket has the datagram.
    void Deliver(const Bytes& datagram) {
        peer.Send(datagram);
        ASSERT_EQ(engine.udpSocket.WaitReadable(1000), 1);
    }
    bool DatagramWaiting() { return engine.udpSocket.Readable() == 1; }

    void SendHello() {
        engine.Connect();
        hello = peer.Receive();
        ASSERT_EQ(hello.size(), wire::kHelloSize);
        peer.TakeHello(hello);
    }
    void Establish() {
        SendHello();
        Deliver(peer.KeyReply(engine.login));
        ASSERT_EQ(engine.Step(), NoEvent);
        ASSERT_EQ(peer.Receive().size(), wire::kConfirmSize);
        ASSERT_EQ(engine.state, PollDue);
    }
    // Sends the next POLL and returns its counter.
    uint64_t Poll() {
        EXPECT_EQ(engine.Step(), NoEvent);
        Bytes poll = peer.Receive();
        if (poll.size() != wire::kPollSize) {
            ADD_FAILURE() << "no POLL: " << poll.size() << " bytes";
            return 0;
        }
        Bytes body = peer.Open(poll, wire::kLoginOffset, 24);
        EXPECT_EQ(ToHex(body.data(), 16), ToHex(LoginField(engine.login).data(), 16));
        return wire::GetLe(body.data() + 16, 8);
    }
    // A POLL that goes unanswered for 30 seconds, then the engine makes the next one due.
    void MissPoll() {
        Poll();
        clock.Advance(30);
        EXPECT_EQ(engine.Step(), NoEvent);
        EXPECT_EQ(engine.state, PollDue);
    }
};

// ---- The state table ------------------------------------------------------------

enum class From {
    Fresh,
    IdleAfterSession,
    HelloSent,
    PollDue,
    PollSent,
    PollSentTwiceMissed,
    PollWait
};
enum class Event { Connect, Disconnect, Step };
enum class Arrives { Nothing, KeyReply, ForeignKeyReply, PollReply, KeyReplyType, PollReplyType };
enum class Sent { Nothing, Hello, Confirm, Poll1, Logout, RejectionLogout };
enum class Stamp { Kept, Now };

struct Row {
    From from;
    int advance;  // seconds on the clock between the set-up and the event
    Arrives arrives;
    Event event;
    SessionState to;
    PollResult result;  // of Step
    Sent sent;
    Stamp lastExchange;
    int missedPolls;    // -1: not checked
    bool cleared;       // counters emptied and remainingBytes 0 (Connect)
    bool replyApplied;  // the POLL_REPLY's balance record took effect
    bool leftWaiting;   // the datagram is still in the engine's socket
};

// clang-format off
const Row kStateTable[] = {
    // from, advance, arrives, event -> to, result, sent, lastExchange, missed, cleared, applied, waiting
    {From::Fresh, 5, Arrives::Nothing, Event::Connect, HelloSent, NoEvent, Sent::Hello, Stamp::Now, -1, true, false, false},
    {From::IdleAfterSession, 100, Arrives::PollReply, Event::Step, Idle, NoEvent, Sent::Nothing, Stamp::Kept, -1, false, false, true},
    {From::HelloSent, 3, Arrives::Nothing, Event::Step, HelloSent, NoEvent, Sent::Nothing, Stamp::Kept, -1, false, false, false},
    {From::HelloSent, 4, Arrives::Nothing, Event::Step, Idle, NoAnswer, Sent::Nothing, Stamp::Kept, -1, false, false, false},
    {From::HelloSent, 0, Arrives::PollReplyType, Event::Step, Idle, Lost, Sent::Nothing, Stamp::Kept, -1, false, false, false},
    {From::HelloSent, 1, Arrives::ForeignKeyReply, Event::Step, Idle, Rejected, Sent::RejectionLogout, Stamp::Kept, -1, false, false, false},
    {From::HelloSent, 3, Arrives::KeyReply, Event::Step, PollDue, NoEvent, Sent::Confirm, Stamp::Kept, 0, false, false, false},
    {From::PollDue, 1, Arrives::Nothing, Event::Step, PollSent, NoEvent, Sent::Poll1, Stamp::Now, -1, false, false, false},
    {From::PollSentTwiceMissed, 29, Arrives::PollReply, Event::Step, PollWait, NoEvent, Sent::Nothing, Stamp::Now, 0, false, true, false},
    {From::PollSent, 30, Arrives::KeyReplyType, Event::Step, PollSent, NoEvent, Sent::Nothing, Stamp::Kept, 0, false, false, false},
    {From::PollSent, 29, Arrives::Nothing, Event::Step, PollSent, NoEvent, Sent::Nothing, Stamp::Kept, 0, false, false, false},
    {From::PollSent, 30, Arrives::Nothing, Event::Step, PollDue, NoEvent, Sent::Nothing, Stamp::Kept, 1, false, false, false},
    {From::PollSentTwiceMissed, 30, Arrives::Nothing, Event::Step, Idle, Lost, Sent::Nothing, Stamp::Now, 3, false, false, false},
    {From::PollWait, 29, Arrives::Nothing, Event::Step, PollWait, NoEvent, Sent::Nothing, Stamp::Kept, -1, false, false, false},
    {From::PollWait, 30, Arrives::Nothing, Event::Step, PollDue, NoEvent, Sent::Nothing, Stamp::Kept, -1, false, false, false},
    {From::PollWait, 30, Arrives::PollReply, Event::Step, PollDue, NoEvent, Sent::Nothing, Stamp::Kept, -1, false, false, true},
    {From::PollDue, 0, Arrives::Nothing, Event::Disconnect, Idle, NoEvent, Sent::Logout, Stamp::Kept, -1, false, false, false},
    {From::PollSent, 0, Arrives::Nothing, Event::Disconnect, Idle, NoEvent, Sent::Logout, Stamp::Kept, -1, false, false, false},
    {From::PollWait, 0, Arrives::Nothing, Event::Disconnect, Idle, NoEvent, Sent::Logout, Stamp::Kept, -1, false, false, false},
    {From::Fresh, 0, Arrives::Nothing, Event::Disconnect, Idle, NoEvent, Sent::Nothing, Stamp::Kept, -1, false, false, false},
    {From::HelloSent, 0, Arrives::Nothing, Event::Disconnect, HelloSent, NoEvent, Sent::Nothing, Stamp::Kept, -1, false, false, false},
    {From::HelloSent, 1, Arrives::Nothing, Event::Connect, HelloSent, NoEvent, Sent::Nothing, Stamp::Kept, -1, true, false, false},
    {From::PollDue, 1, Arrives::Nothing, Event::Connect, PollDue, NoEvent, Sent::Nothing, Stamp::Kept, -1, true, false, false},
    {From::PollSent, 1, Arrives::Nothing, Event::Connect, PollSent, NoEvent, Sent::Nothing, Stamp::Kept, -1, true, false, false},
    {From::PollWait, 1, Arrives::Nothing, Event::Connect, PollWait, NoEvent, Sent::Nothing, Stamp::Kept, -1, true, false, false},
};
// clang-format on

void SetUpFrom(Session& s, From from) {
    switch (from) {
        case From::Fresh:
            return;
        case From::IdleAfterSession:
            s.SendHello();
            s.clock.Advance(4);
            ASSERT_EQ(s.engine.Step(), NoAnswer);
            return;
        case From::HelloSent:
            s.SendHello();
            return;
        case From::PollDue:
            s.Establish();
            return;
        case From::PollSent:
            s.Establish();
            s.Poll();
            return;
        case From::PollSentTwiceMissed:
            s.Establish();
            s.MissPoll();
            s.MissPoll();
            s.Poll();
            ASSERT_EQ(s.engine.missedPolls, 2);
            return;
        case From::PollWait:
            s.Establish();
            s.Poll();
            s.Deliver(s.peer.PollReply({}));
            ASSERT_EQ(s.engine.Step(), NoEvent);
            ASSERT_EQ(s.engine.state, PollWait);
            return;
    }
}

void CheckSent(Session& s, Sent sent) {
    if (sent == Sent::Nothing) {
        EXPECT_TRUE(s.peer.Quiet());
        return;
    }
    const Bytes p = s.peer.Receive();
    ASSERT_FALSE(p.empty());
    EXPECT_EQ(ToHex(p.data() + 1, 7), "00000000000000");  // the rest of the 64-bit type
    const std::string login = ToHex(LoginField(kLogin).data(), 16);
    switch (sent) {
        case Sent::Hello: {
            ASSERT_EQ(p.size(), 64u);
            EXPECT_EQ(p[0], 0x10);
            uint8_t expected[kDhSize];
            s.engine.dhKeyPair->WritePublic(expected);
            s.peer.TakeHello(p);
            EXPECT_EQ(ToHex(s.peer.clientPublic, kDhSize), ToHex(expected, kDhSize));
            break;
        }
        case Sent::Confirm:
        case Sent::Logout:
            ASSERT_EQ(p.size(), 24u);
            EXPECT_EQ(p[0], sent == Sent::Confirm ? 0x20 : 0x60);
            EXPECT_EQ(ToHex(s.peer.Open(p, 8, 16).data(), 16), login);
            break;
        case Sent::Poll1: {
            ASSERT_EQ(p.size(), 32u);
            EXPECT_EQ(p[0], 0x40);
            const Bytes body = s.peer.Open(p, 8, 24);
            EXPECT_EQ(ToHex(body.data(), 24), login + "0100000000000000");
            break;
        }
        case Sent::RejectionLogout:
            EXPECT_EQ(ToHex(p.data(), p.size()), "60" + std::string(46, '0'));  // in the clear
            break;
        case Sent::Nothing:
            break;
    }
}

}  // namespace

TEST(BrinCore, FollowsTheStateTable) {
    int line = 0;
    for (const Row& row : kStateTable) {
        SCOPED_TRACE("state table row " + std::to_string(++line));
        Session s;
        SetUpFrom(s, row.from);
        if (HasFatalFailure()) return;

        TrafficCounter c;
        c.idLow = 3;
        s.engine.counters = {c};
        s.engine.remainingBytes = 5000;
        s.engine.balance = 55;
        s.engine.countersChanged = 1;
        s.engine.messagePending = 1;
        s.clock.Advance(row.advance);
        const int32_t before = s.engine.lastExchange;

        switch (row.arrives) {
            case Arrives::Nothing:
                break;
            case Arrives::KeyReply:
                s.Deliver(s.peer.KeyReply(kLogin));
                break;
            case Arrives::ForeignKeyReply: {
                ScriptedPeer foreign("another");
                foreign.TakeHello(s.hello);
                s.Deliver(foreign.KeyReply(kLogin));
                break;
            }
            case Arrives::PollReply:
                s.Deliver(s.peer.PollReply(Payload({BalanceRecord(1234)})));
                break;
            case Arrives::KeyReplyType:
                s.Deliver(s.peer.KeyReply(kLogin));
                break;
            case Arrives::PollReplyType:
                s.Deliver(s.peer.PollReply({}));
                break;
        }

        PollResult result = NoEvent;
        switch (row.event) {
            case Event::Connect:
                s.engine.Connect();
                break;
            case Event::Disconnect:
                s.engine.Disconnect();
                break;
            case Event::Step:
                result = s.engine.Step();
                break;
        }

        EXPECT_EQ(result, row.result);
        EXPECT_EQ(s.engine.state, row.to);
        EXPECT_EQ(s.engine.connected, row.to >= PollDue ? 1 : 0);
        CheckSent(s, row.sent);
        EXPECT_EQ(s.engine.lastExchange, row.lastExchange == Stamp::Now ? s.clock.Now() : before);
        if (row.missedPolls >= 0) {
            EXPECT_EQ(s.engine.missedPolls, row.missedPolls);
        }
        EXPECT_EQ(s.engine.counters.size(), row.cleared ? 0u : 1u);
        EXPECT_EQ(s.engine.remainingBytes, row.cleared ? 0 : 5000);
        EXPECT_EQ(s.engine.balance, row.replyApplied ? 1234 : 55);
        EXPECT_EQ(s.engine.countersChanged, 1);
        EXPECT_EQ(s.engine.messagePending, 1);
        EXPECT_EQ(s.DatagramWaiting(), row.leftWaiting);
    }
}

// ---- Edge cases -------------------------------------------------------------------

TEST(BrinCore, HelloCarriesALeadingZeroByteAndA55ByteSecretFoldsFromTheFront) {
    Session s;
    Bytes priv = FromHex(dh::kLeadingZeroPrivate);
    DhKeyPairSeam::SetPrivate(*s.engine.dhKeyPair, priv.data(), priv.size());
    s.SendHello();
    EXPECT_EQ(ToHex(s.peer.clientPublic, kDhSize), dh::kLeadingZeroPublic);

    Session t;
    priv = FromHex(dh::kPrivate);
    DhKeyPairSeam::SetPrivate(*t.engine.dhKeyPair, priv.data(), priv.size());
    Bytes peerPriv = FromHex(dh::kShortSecretPeerPrivate);
    DhKeyPairSeam::SetPrivate(t.peer.pair, peerPriv.data(), peerPriv.size());
    t.Establish();
    EXPECT_EQ(ToHex(t.engine.serverPublic, kDhSize), dh::kShortSecretPeer);
    EXPECT_EQ(ToHex(t.engine.sharedSecret, kDhSize), std::string(dh::kShortSecret) + "00");
    EXPECT_EQ(ToHex(t.engine.sessionKey, 8), dh::kShortSecretKey);
    EXPECT_EQ(t.engine.connected, 1);
}

TEST(BrinCore, LoginFieldAndEchoCheck) {
    const struct {
        const char* login;
        const char* echoed;
        PollResult result;
        const char* field;
    } cases[] = {
        {"", "", NoEvent, "00000000000000000000000000000000"},
        {"abcdefghijklmnop", "abcdefghijklmnop", NoEvent, "6162636465666768696a6b6c6d6e6f70"},
        {"abcdefghijklmnop", "abcdefghijklmnoq", Rejected, nullptr},
        {"user", "user2", Rejected, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.login + std::string(" / ") + c.echoed);
        Session s;
        std::strcpy(s.engine.login, c.login);
        s.SendHello();
        s.Deliver(s.peer.KeyReply(c.echoed));
        EXPECT_EQ(s.engine.Step(), c.result);
        const Bytes reply = s.peer.Receive();
        ASSERT_EQ(reply.size(), 24u);
        if (c.result == Rejected) {
            EXPECT_EQ(reply[0], 0x60);
            continue;
        }
        EXPECT_EQ(ToHex(s.peer.Open(reply, 8, 16).data(), 16), c.field);  // CONFIRM
        s.Poll();  // checks the POLL's login field too
    }
}

TEST(BrinCore, PollCounterCountsEveryPollAndRestartsWithEachSession) {
    Session s;
    s.Establish();
    const Bytes firstHello = s.hello;
    EXPECT_EQ(s.Poll(), 1u);
    s.clock.Advance(30);
    EXPECT_EQ(s.engine.Step(), NoEvent);  // unanswered: due again
    EXPECT_EQ(s.Poll(), 2u);
    s.Deliver(s.peer.PollReply({}));
    EXPECT_EQ(s.engine.Step(), NoEvent);
    s.clock.Advance(30);
    EXPECT_EQ(s.engine.Step(), NoEvent);
    EXPECT_EQ(s.Poll(), 3u);

    s.engine.Disconnect();
    EXPECT_EQ(s.peer.Receive().size(), 24u);
    s.Establish();
    EXPECT_EQ(s.hello, firstHello);  // one key pair for the engine's life
    EXPECT_EQ(s.Poll(), 1u);
}

TEST(BrinCore, ThreeSilentPollsLoseTheSessionAboutNinetySecondsAfterTheFirst) {
    Session s;
    s.Establish();
    const int32_t firstPoll = s.clock.Now();
    int steps = 0;
    PollResult r = NoEvent;
    for (; steps < 200 && r == NoEvent; ++steps) {
        r = s.engine.Step();
        s.clock.Advance(1);
    }
    EXPECT_EQ(r, Lost);
    EXPECT_EQ(s.engine.lastExchange - firstPoll, 92);
    EXPECT_EQ(s.engine.pollCounter, 4u);  // POLLs 1, 2 and 3 went out
}

// The silent POLLs a session ended with count for it alone: whether it was lost after three or
// disconnected after two, the next session is lost only after three silent POLLs of its own.
TEST(BrinCore, TheNextSessionCountsOnlyItsOwnSilentPolls) {
    for (const bool lost : {true, false}) {
        SCOPED_TRACE(lost ? "after a loss" : "after a Disconnect with two POLLs missed");
        Session s;
        s.Establish();
        s.MissPoll();
        s.MissPoll();
        if (lost) {
            s.Poll();
            s.clock.Advance(30);
            ASSERT_EQ(s.engine.Step(), Lost);
        } else {
            s.engine.Disconnect();
            ASSERT_EQ(s.peer.Receive().size(), wire::kLogoutSize);
        }
        s.Establish();
        s.MissPoll();  // each expects the session still up and the next POLL due
        s.MissPoll();
        s.Poll();
        s.clock.Advance(30);
        EXPECT_EQ(s.engine.Step(), Lost) << "the third silent POLL of the new session";
    }
}

TEST(BrinCore, ADatagramLeftFromAnEarlierSessionEndsTheNextHandshake) {
    Session s;
    s.Establish();
    s.Poll();
    s.engine.Disconnect();
    EXPECT_EQ(s.peer.Receive().size(), 24u);
    s.Deliver(s.peer.PollReply({}));  // a late reply
    s.engine.Connect();
    EXPECT_EQ(s.peer.Receive().size(), 64u);
    EXPECT_EQ(s.engine.Step(), Lost);
    EXPECT_EQ(s.engine.state, Idle);
}

TEST(BrinCore, ConnectWhileEstablishedMovesTheSessionToTheNewEndpoint) {
    Session s;
    s.Establish();
    s.Poll();
    s.Deliver(s.peer.PollReply({}));
    ASSERT_EQ(s.engine.Step(), NoEvent);

    ScriptedPeer other(kPassword);
    std::memcpy(other.sessionKey, s.peer.sessionKey, 8);
    s.engine.port = other.Port();
    s.engine.Connect();
    EXPECT_TRUE(s.peer.Quiet());
    s.clock.Advance(30);
    s.engine.Step();
    s.engine.Step();
    const Bytes poll = other.Receive();
    ASSERT_EQ(poll.size(), 32u);
    EXPECT_EQ(wire::GetLe(other.Open(poll, 8, 24).data() + 16, 8), 2u);
    EXPECT_TRUE(s.peer.Quiet());
}

TEST(BrinCore, PortUsesItsLow16Bits) {
    for (int32_t high : {0x10000, 0x7FFF0000, INT32_MIN}) {
        Session s;
        s.engine.port = (s.peer.Port() | high);
        s.engine.Connect();
        EXPECT_EQ(s.peer.Receive().size(), 64u) << high;
    }
}

// Datagrams too short for their type, too long for the buffer, or empty count as
// nothing received: the waits run on and no byte of an earlier datagram is used.
TEST(BrinCore, DatagramsThatCountAsNothing) {
    enum Where { Hello, Polling };
    const struct {
        const char* what;
        Where where;
        size_t size;  // of a datagram made from a valid KEY_REPLY or POLL_REPLY
    } cases[] = {
        {"empty, handshake", Hello, 0},
        {"KEY_REPLY header only", Hello, 8},
        {"KEY_REPLY one byte short", Hello, 79},
        {"KEY_REPLY over 2048 bytes", Hello, 2049},
        {"empty, polling", Polling, 0},
        {"POLL_REPLY one byte short of its header", Polling, 31},
        {"POLL_REPLY over 2048 bytes", Polling, 2049},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Session s;
        Bytes datagram;
        if (c.where == Hello) {
            // The receive buffer still holds a KEY_REPLY these keys would accept.
            s.Establish();
            s.engine.Step();
            ASSERT_EQ(s.peer.Receive().size(), 32u);
            s.engine.Disconnect();
            ASSERT_EQ(s.peer.Receive().size(), 24u);
            s.engine.Connect();
            ASSERT_EQ(s.peer.Receive().size(), 64u);
            datagram = s.peer.KeyReply(kLogin);
        } else {
            s.Establish();
            s.Poll();
            datagram = s.peer.PollReply(Payload({BalanceRecord(1234)}));
        }
        datagram.resize(c.size, 0);
        s.clock.Advance(c.where == Hello ? 4 : 30);
        s.Deliver(datagram);
        const PollResult r = s.engine.Step();
        EXPECT_FALSE(s.DatagramWaiting());  // consumed
        if (c.where == Hello) {
            EXPECT_EQ(r, NoAnswer);
            EXPECT_EQ(s.engine.connected, 0);
        } else {
            EXPECT_EQ(r, NoEvent);
            EXPECT_EQ(s.engine.state, PollDue);  // timed out as if nothing came
            EXPECT_EQ(s.engine.missedPolls, 1);
            EXPECT_EQ(s.engine.balance, 0);
        }
    }
}

TEST(BrinCore, PollReplyPayloadSizes) {
    const struct {
        const char* what;
        size_t wholeBlocks;  // encrypted
        Bytes tail;          // sent as is
        int32_t balance;
    } cases[] = {
        // 8 encrypted bytes skip to a balance record in the 6-byte clear tail
        {"a tail of 1 to 7 bytes stays as received", 1, {1, 4, 0xE1, 0x10, 0, 0}, 4321},
        {"a 2048-byte datagram is taken whole", 2016 / 8, {}, 77},
        {"no payload", 0, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Session s;
        s.Establish();
        s.Poll();
        Bytes payload(c.wholeBlocks * 8, 0);
        if (c.wholeBlocks == 1) {
            payload = {7, 6, 0, 0, 0, 0, 0, 0};
        } else if (c.wholeBlocks > 1) {
            // unknown records up to the last block, then the balance and the zero byte
            for (size_t pos = 0; pos + 8 < payload.size(); pos += 8) {
                payload[pos] = 9;
                payload[pos + 1] = 6;
            }
            const Bytes b = BalanceRecord(77);
            std::copy(b.begin(), b.end(), payload.end() - 8);
        }
        Bytes datagram = s.peer.PollReply(payload);
        datagram.insert(datagram.end(), c.tail.begin(), c.tail.end());
        s.Deliver(datagram);
        EXPECT_EQ(s.engine.Step(), NoEvent);
        EXPECT_EQ(s.engine.state, PollWait);
        EXPECT_EQ(s.engine.balance, c.balance);
    }
}
