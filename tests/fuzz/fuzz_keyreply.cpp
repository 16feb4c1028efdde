// Fuzz target: whatever datagram answers a HELLO, through a real loopback socket into Step.
//
// The engine's key pair, the server's and the password are fixed, so the seed
// corpus/keyreply/accepted (the server's genuine reply to this engine's HELLO,
// made with the engine's own helpers) passes the login check.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/BrinCore.h"
#include "core/TestSeams.h"

namespace {

const uint8_t kEnginePrivate[] = {0x40, 0x00, 0x13, 0x37, 0x00, 0x00, 0x00, 0x01};

struct Harness {
    FakeClock clock;  // never moves: a HELLO wait cannot run out here
    UdpSocket server;
    Endpoint serverAt;
    BrinCore engine{&clock};

    Harness() {
        Endpoint loopback;
        loopback.address = ParseIPv4("127.0.0.1");
        if (!server.Bind(loopback)) std::abort();
        serverAt = server.LocalEndpoint();
        std::strcpy(engine.login, "fuzz");
        std::strcpy(engine.password, "pw");
        std::strcpy(engine.serverAddress, "127.0.0.1");
        engine.port = PortFromNetwork(serverAt.port);
        DhKeyPairSeam::SetPrivate(*engine.dhKeyPair, kEnginePrivate, sizeof kEnginePrivate);
    }

    // The engine's address as the server sees it; empties the server's queue.
    Endpoint DrainServer() {
        Endpoint from;
        uint8_t buf[wire::kMaxDatagram];
        while (server.Readable() == 1) server.Receive(buf, sizeof buf, &from);
        return from;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Harness h;
    if (size > 8192) return 0;

    h.engine.state = Idle;
    h.engine.connected = 0;
    h.engine.Connect();
    if (h.server.WaitReadable(1000) != 1) std::abort();
    const Endpoint engineAt = h.DrainServer();
    h.server.SendTo(data, size, engineAt);
    if (h.engine.udpSocket.WaitReadable(1000) != 1) std::abort();

    const PollResult r = h.engine.Step();
    const SessionState st = h.engine.state;

    // The result follows from the datagram alone.
    const bool nothing = size == 0 || size > wire::kMaxDatagram ||
                         (data[0] == wire::kKeyReply && size < wire::kKeyReplySize);
    bool ok;
    if (nothing)
        ok = r == NoEvent && st == HelloSent;
    else if (data[0] != wire::kKeyReply)
        ok = r == Lost && st == Idle;
    else
        ok = (r == Rejected && st == Idle && h.engine.connected == 0) ||
             (r == NoEvent && st == PollDue && h.engine.connected == 1);
    if (!ok || h.engine.udpSocket.Readable() != 0) std::abort();

    if (st == PollDue) h.engine.Disconnect();
    return 0;
}
