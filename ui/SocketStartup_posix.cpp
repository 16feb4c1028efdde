// POSIX sockets need no start-up.
#include "SocketStartup.h"

bool StartSocketLayer() {
    return true;
}
