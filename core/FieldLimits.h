// The longest login, password and server address the client and the server take, in bytes
// (Windows-1251): the engine's fields hold one byte more, for the zero that ends them.
#pragma once

#include <cstddef>

constexpr size_t kLoginLimit = 16;    // the login field of the packets
constexpr size_t kPasswordLimit = 8;  // the 3DES key material the password gives
constexpr size_t kAddressLimit = 15;  // a dotted IPv4 address: "255.255.255.255"
