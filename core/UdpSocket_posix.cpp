// The UDP socket on POSIX: non-blocking, poll() with a zero time-out, recvfrom with MSG_TRUNC.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/UdpSocket.h"
#include "core/UdpSocketAddress.h"

namespace {

int Fd(intptr_t handle) {
    return static_cast<int>(handle);
}

// poll() rather than select(): a descriptor number above FD_SETSIZE stays safe.
int PollReadable(int fd, int timeoutMs) {
    if (fd < 0) return -1;
    pollfd p;
    p.fd = fd;
    p.events = POLLIN;
    p.revents = 0;
    int r;
    do {
        r = ::poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    if (r < 0 || (p.revents & POLLNVAL)) return -1;
    // An error condition is "readable": the receive then reports it and is ignored.
    return r > 0 && (p.revents & (POLLIN | POLLERR | POLLHUP)) ? 1 : 0;
}

}  // namespace

bool StartSocketLayer() {
    return true;
}

void ReleaseSocketLayer() {}

UdpSocket::UdpSocket() : handle_(-1) {
    int fd = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (fd < 0) return;
    int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        ::close(fd);
        return;
    }
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    handle_ = fd;
}

UdpSocket::~UdpSocket() {
    if (IsOpen()) ::close(Fd(handle_));
}

int UdpSocket::SendTo(const void* data, size_t length, const Endpoint& to) {
    if (!IsOpen()) return -1;
    sockaddr_in sa = ToSockaddr(to);
    ssize_t r =
        ::sendto(Fd(handle_), data, length, 0, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    return r < 0 ? -1 : static_cast<int>(r);
}

int UdpSocket::Readable() {
    return PollReadable(Fd(handle_), 0);
}

int UdpSocket::WaitReadable(int timeoutMs) {
    return PollReadable(Fd(handle_), timeoutMs);
}

int UdpSocket::Receive(void* buffer, size_t capacity, Endpoint* from) {
    if (!IsOpen()) return -1;
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    socklen_t len = sizeof sa;
    // MSG_TRUNC makes recvfrom return the datagram's real length, so one longer
    // than the buffer is seen, consumed and refused rather than cut silently.
    ssize_t r = ::recvfrom(Fd(handle_), buffer, capacity, MSG_TRUNC,
                           reinterpret_cast<sockaddr*>(&sa), &len);
    if (r < 0 || static_cast<size_t>(r) > capacity) return -1;
    if (from != nullptr) *from = FromSockaddr(sa);
    return static_cast<int>(r);
}
