// The floor of brin-cli's idle cost: linked to the same libraries, it makes the run's key pair
// as every client of the protocol must (the random generator DESIGN.md has, and the pages of
// libcrypto it touches), a UDP socket, and waits in the same call (Sleeper) until a stop signal,
// doing nothing else.
#include <openssl/crypto.h>

#include <cstdio>

#include "core/Cipher.h"
#include "core/Sleeper.h"
#include "core/UdpSocket.h"

int main() {
    std::printf("floor-wait with %s\n", OpenSSL_version(OPENSSL_VERSION));
    std::fflush(stdout);
    const DhKeyPair pair;
    UdpSocket socket;
    Sleeper sleeper(true);
    for (;;) {
        int64_t now;
        int ms;
        Sleeper::WallClock(&now, &ms);
        if (sleeper.SleepUntil(now + 3600, 0, &socket) == Sleeper::kStop) return 0;
    }
}
