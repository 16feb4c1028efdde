// The floor of brin-cli's idle cost: linked to the same libraries, it makes a UDP socket and
// waits in the same call (Sleeper) until a stop signal, doing nothing else.
#include <openssl/crypto.h>

#include <cstdio>

#include "Sleeper.h"
#include "UdpSocket.h"

int main() {
    // One call into libcrypto, so that the library is loaded as it is in brin-cli.
    std::printf("floor-wait with %s\n", OpenSSL_version(OPENSSL_VERSION));
    std::fflush(stdout);
    UdpSocket socket;
    Sleeper sleeper(true);
    for (;;) {
        int64_t now;
        int ms;
        Sleeper::WallClock(&now, &ms);
        if (sleeper.SleepUntil(now + 3600, 0, &socket) == Sleeper::kStop) return 0;
    }
}
