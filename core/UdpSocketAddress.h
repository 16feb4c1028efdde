// sockaddr_in and Endpoint, one to the other: the one conversion both socket layers use.
#pragma once

#include "core/UdpSocket.h"

struct sockaddr_in;

sockaddr_in ToSockaddr(const Endpoint& endpoint);
Endpoint FromSockaddr(const sockaddr_in& address);
