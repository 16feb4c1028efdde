// The UDP socket on Windows Sockets: non-blocking (FIONBIO), select() with a zero time-out.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "core/UdpSocket.h"
#include "core/UdpSocketAddress.h"

namespace {

SOCKET Sock(intptr_t handle) {
    return static_cast<SOCKET>(handle);
}

int SelectReadable(intptr_t handle, long timeoutMs) {
    if (handle == -1) return -1;
    fd_set readSet;
    FD_ZERO(&readSet);
    FD_SET(Sock(handle), &readSet);
    timeval timeout;
    timeout.tv_sec = timeoutMs / 1000;
    timeout.tv_usec = (timeoutMs % 1000) * 1000;
    int r = ::select(0, &readSet, nullptr, nullptr, &timeout);  // first argument ignored
    if (r == SOCKET_ERROR) return -1;
    return r > 0 ? 1 : 0;
}

}  // namespace

// Once per process: the window's start-up and every socket ask the same question,
// and Winsock counts the calls, so one WSACleanup releases what was started.
bool StartSocketLayer() {
    static const bool started = [] {
        WSADATA data;
        if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return false;
        if (LOBYTE(data.wVersion) != 1 || HIBYTE(data.wVersion) != 1) {
            WSACleanup();
            return false;
        }
        return true;
    }();
    return started;
}

void ReleaseSocketLayer() {
    WSACleanup();
}

UdpSocket::UdpSocket() : handle_(-1) {
    if (!StartSocketLayer()) return;
    SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return;
    u_long nonBlocking = 1;
    if (::ioctlsocket(s, FIONBIO, &nonBlocking) == SOCKET_ERROR) {
        ::closesocket(s);
        return;
    }
    handle_ = static_cast<intptr_t>(s);
}

UdpSocket::~UdpSocket() {
    if (IsOpen()) ::closesocket(Sock(handle_));
}

int UdpSocket::SendTo(const void* data, size_t length, const Endpoint& to) {
    if (!IsOpen()) return -1;
    sockaddr_in sa = ToSockaddr(to);
    int r = ::sendto(Sock(handle_), static_cast<const char*>(data), static_cast<int>(length), 0,
                     reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    return r == SOCKET_ERROR ? -1 : r;
}

int UdpSocket::Readable() {
    return SelectReadable(handle_, 0);
}

int UdpSocket::WaitReadable(int timeoutMs) {
    return SelectReadable(handle_, timeoutMs);
}

int UdpSocket::Receive(void* buffer, size_t capacity, Endpoint* from) {
    if (!IsOpen()) return -1;
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    int len = sizeof sa;
    // A datagram longer than the buffer fails with WSAEMSGSIZE and is dropped whole;
    // like every other receive error (WSAECONNRESET after an ICMP refusal) it gives -1.
    int r = ::recvfrom(Sock(handle_), static_cast<char*>(buffer), static_cast<int>(capacity), 0,
                       reinterpret_cast<sockaddr*>(&sa), &len);
    if (r == SOCKET_ERROR) return -1;
    if (from != nullptr) *from = FromSockaddr(sa);
    return r;
}
