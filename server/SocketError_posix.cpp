// The last socket error on POSIX systems: errno.
#include <cerrno>
#include <cstring>

#include "server/SocketError.h"

std::string LastSocketError() {
    return std::strerror(errno);
}
