// Windows Sockets 1.1, the version the client was built for; any other is refused.
#include <winsock2.h>

#include "SocketStartup.h"

bool StartSocketLayer() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return false;
    if (LOBYTE(data.wVersion) != 1 || HIBYTE(data.wVersion) != 1) {
        WSACleanup();
        return false;
    }
    return true;
}
