// The last socket error on Windows: WSAGetLastError, in the system's words.
#include <winsock2.h>
#include <windows.h>

#include <string>

#include "server/SocketError.h"

std::string LastSocketError() {
    const int code = WSAGetLastError();
    char text[256] = "";
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    std::string line(text, n);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' ' ||
                             line.back() == '.'))
        line.pop_back();
    return line.empty() ? "socket error " + std::to_string(code) : line;
}
