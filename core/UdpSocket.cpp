// What the POSIX and the Winsock sockets share: addresses, ports and their text,
// binding and the bound address. Both layers declare these calls alike; only the
// headers and the type of a socket differ, and both mark "no socket" with -1.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using NativeSocket = SOCKET;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
using NativeSocket = int;
#endif

#include <cstdio>
#include <cstring>

#include "core/UdpSocket.h"
#include "core/UdpSocketAddress.h"

uint32_t ParseIPv4(const char* text) {
    return ::inet_addr(text);
}

uint16_t PortToNetwork(uint16_t hostPort) {
    return htons(hostPort);
}
uint16_t PortFromNetwork(uint16_t networkPort) {
    return ntohs(networkPort);
}

void FormatEndpoint(const Endpoint& endpoint, char* out, size_t size) {
    const uint8_t* a = reinterpret_cast<const uint8_t*>(&endpoint.address);
    std::snprintf(out, size, "%u.%u.%u.%u:%u", a[0], a[1], a[2], a[3],
                  static_cast<unsigned>(ntohs(endpoint.port)));
}

sockaddr_in ToSockaddr(const Endpoint& endpoint) {
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = endpoint.port;
    sa.sin_addr.s_addr = endpoint.address;
    return sa;
}

Endpoint FromSockaddr(const sockaddr_in& address) {
    Endpoint e;
    e.address = address.sin_addr.s_addr;
    e.port = address.sin_port;
    return e;
}

bool UdpSocket::IsOpen() const {
    return handle_ != -1;
}

bool UdpSocket::Bind(const Endpoint& local) {
    if (!IsOpen()) return false;
    sockaddr_in sa = ToSockaddr(local);
    return ::bind(static_cast<NativeSocket>(handle_), reinterpret_cast<const sockaddr*>(&sa),
                  sizeof sa) == 0;
}

Endpoint UdpSocket::LocalEndpoint() const {
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    socklen_t len = sizeof sa;
    if (!IsOpen() || ::getsockname(static_cast<NativeSocket>(handle_),
                                   reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return Endpoint{};
    return FromSockaddr(sa);
}
