// One datagram with a chosen loopback source address, from a socket bound to the wildcard
// address (IP_PKTINFO): how the load programs stand in for many clients or forged sources.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstring>

// `source` in network order. Returns what sendmsg returns.
inline ssize_t SendFrom(int fd, const sockaddr_in& to, uint32_t source, const void* data,
                        size_t length) {
    iovec iov{const_cast<void*>(data), length};
    char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr msg{};
    msg.msg_name = const_cast<sockaddr_in*>(&to);
    msg.msg_namelen = sizeof to;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* cm = CMSG_FIRSTHDR(&msg);
    cm->cmsg_level = IPPROTO_IP;
    cm->cmsg_type = IP_PKTINFO;
    cm->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst.s_addr = source;
    std::memcpy(CMSG_DATA(cm), &info, sizeof info);
    return sendmsg(fd, &msg, 0);
}
