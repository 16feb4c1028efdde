// Fuzz target: the accounts file reader. Any bytes give accounts that one poll reply can carry
// whole, or an error that names a line the text has.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "core/Wire.h"
#include "server/Accounts.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// The server hands these to C string interfaces: a zero byte would cut them short.
void CheckText(const std::string& text, size_t maxBytes) {
    Check(text.size() <= maxBytes && text.find('\0') == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<Account> accounts;
    std::string error;
    if (!ParseAccounts(text, &accounts, &error)) {
        Check(!error.empty());
        if (error.compare(0, 5, "line ") == 0) {
            const size_t lines =
                static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
            const unsigned long n = std::strtoul(error.c_str() + 5, nullptr, 10);
            Check(n >= 1 && n <= lines);
        }
        return 0;
    }

    Check(error.empty() && !accounts.empty() && CheckAccountSet(accounts).empty());
    for (const Account& a : accounts) {
        CheckText(a.login, kLoginLimit);
        CheckText(a.password, kPasswordLimit);
        Check(a.counters.size() <= kMaxCounters);
        Check(!a.bound || a.address != 0xFFFFFFFFu);
        std::set<uint64_t> ids;
        for (const ServerCounter& c : a.counters) {
            Check(c.id != 0 && ids.insert(c.id).second);
            CheckText(c.name, kMaxCounterNameBytes);
        }
        size_t longest = 0;
        for (const ServerMessage& m : a.messages) {
            CheckText(m.text, kMaxMessageBytes);
            longest = std::max(longest, m.text.size());
        }

        // The fullest reply of this account, as the server builds it: every record must fit.
        wire::PayloadBuilder reply;
        Check(reply.AddBalance(a.balance) && reply.AddCounterValue(0, a.remainingBytes));
        if (!a.messages.empty()) Check(reply.AddMessage(0, std::string(longest, 'm').c_str()));
        for (const ServerCounter& c : a.counters)
            Check(reply.AddCounterName(c.id, c.name.c_str()) &&
                  reply.AddCounterValue(c.id, c.bytes));
        Check(reply.Size() <= wire::kMaxPayload);
    }
    return 0;
}
