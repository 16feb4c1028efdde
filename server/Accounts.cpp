// The accounts file: one [login] section per account, "key = value" lines, UTF-8 on disk.
#include "server/Accounts.h"

#include <set>

#include "core/Cp1251.h"
#include "core/UdpSocket.h"

namespace {

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

bool ParseUnsigned(const std::string& s, uint64_t max, uint64_t* out) {
    if (s.empty() || s.size() > 20) return false;
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (v > (max - digit) / 10) return false;
        v = v * 10 + digit;
    }
    *out = v;
    return true;
}

// A byte count: 0 to 2^63-1, as the poll reply carries it (a signed 64-bit field).
bool ParseBytes(const std::string& s, int64_t* out) {
    uint64_t v = 0;
    if (!ParseUnsigned(s, 9223372036854775807ull, &v)) return false;
    *out = static_cast<int64_t>(v);
    return true;
}

constexpr char kByteRange[] = "from 0 to 9223372036854775807";

// Why a byte count was refused: its sign, its size, or its form.
std::string BytesProblem(const std::string& s) {
    if (!s.empty() && s[0] == '-') return std::string("cannot be negative (") + kByteRange + ")";
    if (!s.empty() && s.find_first_not_of("0123456789") == std::string::npos)
        return std::string("is too large (") + kByteRange + ")";
    return std::string("must be a number of bytes ") + kByteRange;
}

bool ParseSigned(const std::string& s, int64_t* out) {
    const bool negative = !s.empty() && s[0] == '-';
    uint64_t magnitude = 0;
    const uint64_t limit = negative ? 9223372036854775808ull : 9223372036854775807ull;
    if (!ParseUnsigned(negative ? s.substr(1) : s, limit, &magnitude)) return false;
    *out = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

// "units[.ddd]" with up to three decimals, into thousandths that fit 32 bits.
bool ParseMoney(const std::string& s, int32_t* out) {
    const bool negative = !s.empty() && s[0] == '-';
    std::string body = negative ? s.substr(1) : s;
    std::string units = body, decimals;
    const size_t dot = body.find('.');
    if (dot != std::string::npos) {
        units = body.substr(0, dot);
        decimals = body.substr(dot + 1);
        if (decimals.empty() || decimals.size() > 3) return false;
    }
    uint64_t u = 0, d = 0;
    if (!ParseUnsigned(units, 10000000, &u)) return false;
    if (!decimals.empty() && !ParseUnsigned(decimals, 999, &d)) return false;
    for (size_t i = decimals.size(); i < 3; ++i) d *= 10;
    const int64_t milli = static_cast<int64_t>(u * 1000 + d) * (negative ? -1 : 1);
    if (milli < INT32_MIN || milli > INT32_MAX) return false;
    *out = static_cast<int32_t>(milli);
    return true;
}

class Reader {
public:
    Reader(std::vector<Account>* accounts, std::string* error)
        : accounts_(accounts), error_(error) {}

    bool Line(size_t number, std::string line) {
        number_ = number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find('\0') != std::string::npos) return Fail("holds a zero byte");
        line = Trim(line);
        if (line.empty() || line[0] == '#' || line[0] == ';') return true;
        if (line[0] == '[') return Section(line);
        const size_t eq = line.find('=');
        if (eq == std::string::npos) return Fail("expected [login] or key = value");
        const std::string keyPart = Trim(line.substr(0, eq));
        const std::string value = Trim(line.substr(eq + 1));
        const size_t blank = keyPart.find_first_of(" \t");
        const std::string key = keyPart.substr(0, blank);
        const std::string argument = blank == std::string::npos ? "" : Trim(keyPart.substr(blank));
        if (accounts_->empty()) return Fail("'" + key + "' before the first [login] section");
        Account& a = accounts_->back();
        if (key == "counter") return Counter(a, argument, value);
        if (key == "message") return Message(a, argument, value);
        if (!argument.empty()) return Fail("'" + key + "' takes no argument");
        if (key == "password") return Text(value, kPasswordLimit, "password", &a.password);
        if (key == "address") {
            a.address = ParseIPv4(value.c_str());
            if (value.empty() || value.size() > 15 || a.address == 0xFFFFFFFFu)
                return Fail("address is not a dotted IPv4 address");
            a.bound = true;
            return true;
        }
        if (key == "balance") {
            if (!ParseMoney(value, &a.balance))
                return Fail("balance must be units with up to 3 decimals, within +-2147483.647");
            return true;
        }
        if (key == "remaining") {
            if (!ParseBytes(value, &a.remainingBytes))
                return Fail("remaining " + BytesProblem(value));
            return true;
        }
        return Fail("unknown key '" + key + "'");
    }

    bool Fail(const std::string& what) {
        *error_ = "line " + std::to_string(number_) + ": " + what;
        return false;
    }

private:
    bool Text(const std::string& utf8, size_t maxBytes, const char* what, std::string* out) {
        if (!Utf8ToCp1251(utf8, out))
            return Fail(std::string(what) + " is not UTF-8 text that Windows-1251 can hold");
        if (out->size() > maxBytes)
            return Fail(std::string(what) + " is longer than " + std::to_string(maxBytes) +
                        " Windows-1251 characters");
        return true;
    }

    bool Section(const std::string& line) {
        if (line.back() != ']') return Fail("a section line must end with ]");
        Account a;
        if (!Text(Trim(line.substr(1, line.size() - 2)), kLoginLimit, "login", &a.login))
            return false;
        accounts_->push_back(a);
        return true;
    }

    bool Counter(Account& a, const std::string& argument, const std::string& value) {
        ServerCounter c;
        if (!ParseUnsigned(argument, UINT64_MAX, &c.id) || c.id == 0)
            return Fail("counter needs an identifier from 1 up: counter ID = BYTES [NAME]");
        const size_t blank = value.find_first_of(" \t");
        const std::string bytes = value.substr(0, blank);
        if (!ParseBytes(bytes, &c.bytes)) {
            if (bytes.empty() || bytes.find_first_not_of("-0123456789") != std::string::npos)
                return Fail("counter value must start with a byte count: counter ID = BYTES [NAME]");
            return Fail("counter " + argument + ": the byte count " + BytesProblem(bytes));
        }
        const std::string name = blank == std::string::npos ? "" : Trim(value.substr(blank));
        if (!Text(name, kMaxCounterNameBytes, "counter name", &c.name)) return false;
        for (const ServerCounter& other : a.counters)
            if (other.id == c.id) return Fail("counter " + argument + " is given twice");
        if (a.counters.size() == kMaxCounters)
            return Fail("more than " + std::to_string(kMaxCounters) +
                        " counters do not fit in one poll reply");
        a.counters.push_back(c);
        return true;
    }

    bool Message(Account& a, const std::string& argument, const std::string& value) {
        ServerMessage m;
        if (!argument.empty()) {
            int64_t t = 0;
            if (!ParseSigned(argument, &t) || t < INT32_MIN || t > INT32_MAX)
                return Fail("message time must be seconds since 1970: message TIME = TEXT");
            m.hasTime = true;
            m.time = static_cast<int32_t>(t);
        }
        if (!Text(value, kMaxMessageBytes, "message", &m.text)) return false;
        a.messages.push_back(m);
        return true;
    }

    std::vector<Account>* accounts_;
    std::string* error_;
    size_t number_ = 0;
};

}  // namespace

bool ParseAccounts(const std::string& utf8Text, std::vector<Account>* accounts,
                   std::string* error) {
    accounts->clear();
    // Text saved as UTF-16 (a byte-order mark, or a zero byte beside every ASCII
    // character) would otherwise be refused for its first zero byte.
    const bool utf16Mark = utf8Text.compare(0, 2, "\xFF\xFE") == 0 ||
                           utf8Text.compare(0, 2, "\xFE\xFF") == 0;
    const auto zeroAt = [&utf8Text](size_t i) { return utf8Text[i] == '\0'; };
    const bool utf16Zeros = utf8Text.size() >= 4 && zeroAt(0) != zeroAt(1) &&
                            zeroAt(0) == zeroAt(2) && zeroAt(1) == zeroAt(3);
    if (utf16Mark || utf16Zeros) {
        *error = "line 1: the file is UTF-16 text; save it as UTF-8";
        return false;
    }
    std::string text = utf8Text;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    Reader reader(accounts, error);
    size_t start = 0, number = 1;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (!reader.Line(number, text.substr(start, end - start))) return false;
        start = end + 1;
        ++number;
    }
    if (accounts->empty()) {
        *error = "no [login] section: the file holds no account";
        return false;
    }
    *error = CheckAccountSet(*accounts);
    return error->empty();
}

std::string CheckAccountSet(const std::vector<Account>& accounts) {
    std::set<std::string> logins;
    std::set<uint32_t> addresses;
    const Account* unbound = nullptr;
    for (const Account& a : accounts) {
        const std::string shown = "'" + Cp1251ToUtf8(a.login) + "'";
        if (!logins.insert(a.login).second) return "account " + shown + " is given twice";
        if (a.bound) {
            if (!addresses.insert(a.address).second)
                return "account " + shown + ": another account has the same address";
        } else if (unbound != nullptr) {
            return "accounts '" + Cp1251ToUtf8(unbound->login) + "' and " + shown +
                   " both lack an address: the handshake does not name the login, so every"
                   " account but one must be tied to its subscriber's address";
        } else {
            unbound = &a;
        }
    }
    return std::string();
}

Account DemoAccount() {
    Account a;
    a.login = "demo";
    a.password = "demo";
    a.balance = 150000;             // 150.000
    a.remainingBytes = 2147483648;  // 2048.00 (M)
    auto cp = [](const char* utf8) {
        std::string out;
        Utf8ToCp1251(utf8, &out);
        return out;
    };
    a.counters.push_back({1, cp("Интернет"), 52428800});
    a.counters.push_back({2, cp("Городской"), 10485760});
    a.counters.push_back({3, cp("Локальный"), 1048576});
    ServerMessage welcome;
    welcome.text =
        cp("Добро пожаловать! Это демонстрационный сервер: "
           "баланс и счётчики меняются при каждом опросе.");
    a.messages.push_back(welcome);
    return a;
}
