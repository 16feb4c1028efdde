// The access server's subscriber accounts: the accounts file reader and the built-in demo account.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "core/FieldLimits.h"

struct ServerCounter {
    uint64_t id = 0;   // never 0: identifier 0 is the remaining traffic
    std::string name;  // Windows-1251, at most 16 bytes
    int64_t bytes = 0;
};

struct ServerMessage {
    bool hasTime = false;  // without a time the message carries the time of delivery
    int32_t time = 0;
    std::string text;  // Windows-1251, at most kMaxMessageBytes bytes
};

struct Account {
    std::string login;     // Windows-1251, at most 16 bytes
    std::string password;  // Windows-1251, at most 8 bytes
    bool bound = false;    // tied to one subscriber address
    uint32_t address = 0;  // network byte order, when bound
    int32_t balance = 0;   // thousandths of the currency unit
    int64_t remainingBytes = 0;
    std::vector<ServerCounter> counters;  // in the order the client lists them
    std::deque<ServerMessage> messages;   // delivered one per poll reply, oldest first
};

// Limits that keep every poll reply (balance, remaining traffic, one message and
// a name and a value record per counter) inside one datagram; the login and the password
// are the client's own (kLoginLimit, kPasswordLimit).
constexpr size_t kMaxCounterNameBytes = 16;
constexpr size_t kMaxMessageBytes = 247;
constexpr size_t kMaxCounters = 39;

// Reads an accounts file (UTF-8) into `accounts`. On failure returns false and
// sets `error` to "line N: what is wrong" (or a message about the whole file).
bool ParseAccounts(const std::string& utf8Text, std::vector<Account>* accounts, std::string* error);

// Checks rules between accounts: unique logins, one account per subscriber
// address, at most one account without an address. Empty string when all hold.
std::string CheckAccountSet(const std::vector<Account>& accounts);

// The account of --demo: login "demo", password "demo", a welcome message queued.
Account DemoAccount();
