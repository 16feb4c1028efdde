// Both fatal socket failures end the process through the replaceable exit handler.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "core/BrinCore.h"
#include "core/ProcessExit.h"
#include "tests/support/ScriptedPeer.h"

namespace {

int g_exitCode = -1;
void RecordExit(int code) {
    g_exitCode = code;
}

struct ExitHook {
    ExitHandler previous = SetExitHandler(RecordExit);
    ExitHook() { g_exitCode = -1; }
    ~ExitHook() { SetExitHandler(previous); }
};

// The descriptor of the engine's socket, found by its local port.
int DescriptorOf(const UdpSocket& socket) {
    const Endpoint local = socket.LocalEndpoint();
    for (int fd = 0; fd < 1024; ++fd) {
        sockaddr_storage sa;
        socklen_t len = sizeof sa;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0 &&
            sa.ss_family == AF_INET && reinterpret_cast<sockaddr_in*>(&sa)->sin_port == local.port)
            return fd;
    }
    return -1;
}

}  // namespace

TEST(ProcessExit, AFailingReadinessCheckExitsWithCode1) {
    FakeClock clock;
    ScriptedPeer peer("pw");
    BrinCore engine(&clock);
    std::strcpy(engine.serverAddress, "127.0.0.1");
    engine.port = peer.Port();
    engine.Connect();
    ASSERT_EQ(peer.Receive().size(), 64u);
    const int fd = DescriptorOf(engine.udpSocket);
    ASSERT_GE(fd, 0);

    ExitHook hook;
    ::close(fd);                        // the readiness check on a closed descriptor fails
    EXPECT_EQ(engine.Step(), NoEvent);  // the handler came back: nothing received
    EXPECT_EQ(g_exitCode, 1);
    EXPECT_EQ(engine.state, HelloSent);

    // Put a socket back under the number so the engine's destructor closes its own.
    const int replacement = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(replacement, 0);
    if (replacement != fd) {
        ::dup2(replacement, fd);
        ::close(replacement);
    }
}

TEST(ProcessExit, NoSocketAtConstructionExitsWithCode1) {
    // One engine first, so that nothing else a construction needs once per process
    // (the random generator, the sanitizers' type checks) competes for descriptors.
    { BrinCore warmUp; }
    rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowestFree = ::dup(0);
    ASSERT_GE(lowestFree, 0);
    ::close(lowestFree);

    ExitHook hook;
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowestFree);  // no descriptor left to take
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    {
        BrinCore engine;
        ::setrlimit(RLIMIT_NOFILE, &saved);
        EXPECT_EQ(g_exitCode, 1);
        EXPECT_FALSE(engine.udpSocket.IsOpen());
    }
    ::setrlimit(RLIMIT_NOFILE, &saved);
}
