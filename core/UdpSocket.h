// One non-blocking IPv4 UDP socket: the engine's and the server's only window on the network.
#pragma once

#include <cstddef>
#include <cstdint>

// An IPv4 endpoint, both fields in network byte order (as in sockaddr_in).
struct Endpoint {
    uint32_t address = 0;
    uint16_t port = 0;
};

// Dotted IPv4 text to an address in network byte order; 0xFFFFFFFF (INADDR_NONE)
// for text that does not parse, as inet_addr gives it.
uint32_t ParseIPv4(const char* text);

// A host-order port in network byte order, and back (Endpoint::port is stored so).
uint16_t PortToNetwork(uint16_t hostPort);
uint16_t PortFromNetwork(uint16_t networkPort);

// Starts the socket layer once per process: Windows Sockets 1.1, any other
// version refused (nothing to start elsewhere). The window calls it at start-up
// to report a failure; every socket calls it again and gets the same answer.
bool StartSocketLayer();

// Releases the socket layer before the process ends because no socket could be
// made (Winsock's WSACleanup; nothing to do elsewhere).
void ReleaseSocketLayer();

// "a.b.c.d:port" of an endpoint, for logs.
void FormatEndpoint(const Endpoint& endpoint, char* out, size_t size);

class UdpSocket {
public:
    UdpSocket();  // creates the socket; IsOpen() tells whether that worked
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    bool IsOpen() const;
    bool Bind(const Endpoint& local);  // servers and test peers; the client never binds
    Endpoint LocalEndpoint() const;

    // Sends one datagram; the outcome is returned but the engine ignores it.
    int SendTo(const void* data, size_t length, const Endpoint& to);

    // Zero-time-out readiness check: 1 readable, 0 not, -1 the check failed.
    int Readable();

    // Receives one datagram into `buffer`. Returns its length (> 0), or -1 on an
    // error, including a datagram longer than `capacity` (never truncated silently).
    // A zero-length datagram returns 0.
    int Receive(void* buffer, size_t capacity, Endpoint* from);

    // Blocks up to `timeoutMs` for readability (servers, load tools): 1, 0 or -1.
    int WaitReadable(int timeoutMs);

    // The descriptor (POSIX) or SOCKET (Windows), for a wait that watches more than the socket.
    intptr_t NativeHandle() const { return handle_; }

private:
    intptr_t handle_;
};
