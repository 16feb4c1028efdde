// The lines of usage.csv, the daily table and the forecast.
#include "core/UsageForecast.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date, and back (the civil-calendar
// arithmetic needs no time zone and works for any year).
int64_t DaysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

LocalDate CivilFromDays(int64_t z) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    LocalDate date;
    date.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    date.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    date.year = static_cast<int>(yoe + era * 400 + (date.month <= 2));
    return date;
}

bool Digits(const std::string& s, size_t at, size_t n, int* out) {
    if (at + n > s.size()) return false;
    int v = 0;
    for (size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
    }
    *out = v;
    return true;
}

// A decimal integer within [min, max], with an optional minus; nothing else.
bool Integer(const std::string& s, int64_t min, int64_t max, int64_t* out) {
    size_t i = 0;
    const bool negative = !s.empty() && s[0] == '-';
    if (negative) ++i;
    if (i == s.size() || s.size() - i > 19) return false;
    uint64_t v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        const uint64_t digit = static_cast<uint64_t>(s[i] - '0');
        if (v > (UINT64_MAX - digit) / 10) return false;
        v = v * 10 + digit;
    }
    // The magnitude of the lowest value is one more than the highest's.
    if (negative ? v > static_cast<uint64_t>(-(min + 1)) + 1 : v > static_cast<uint64_t>(max))
        return false;
    *out = negative ? (v == 0 ? 0 : -static_cast<int64_t>(v - 1) - 1) : static_cast<int64_t>(v);
    return true;
}

// The falls of the balance and of the remaining traffic from record i-1 to record i.
int64_t BalanceFall(const UsageRecord& before, const UsageRecord& after) {
    const int64_t fall = static_cast<int64_t>(before.balance) - after.balance;
    return fall > 0 ? fall : 0;
}
int64_t TrafficFall(const UsageRecord& before, const UsageRecord& after) {
    // Both are signed 64-bit: a difference of two extremes would overflow.
    if (after.remainingBytes >= before.remainingBytes) return 0;
    const uint64_t fall =
        static_cast<uint64_t>(before.remainingBytes) - static_cast<uint64_t>(after.remainingBytes);
    return fall > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(fall);
}
int64_t SaturatedAdd(int64_t a, int64_t b) {
    return a > INT64_MAX - b ? INT64_MAX : a + b;
}

constexpr int64_t kCentury = 36525LL * 86400;

}  // namespace

std::string UsageLine(const UsageRecord& record) {
    const int64_t days = (record.time >= 0 ? record.time : record.time - 86399) / 86400;
    const int64_t second = record.time - days * 86400;
    const LocalDate date = CivilFromDays(days);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ,", date.year, date.month,
                  date.day, static_cast<int>(second / 3600), static_cast<int>(second / 60 % 60),
                  static_cast<int>(second % 60));
    return text + std::to_string(record.balance) + "," + std::to_string(record.remainingBytes);
}

bool ParseUsageLine(const std::string& input, UsageRecord* record) {
    std::string line = input;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // YYYY-MM-DDTHH:MM:SSZ
    int year, month, day, hour, minute, second;
    if (line.size() < 21 || !Digits(line, 0, 4, &year) || line[4] != '-' ||
        !Digits(line, 5, 2, &month) || line[7] != '-' || !Digits(line, 8, 2, &day) ||
        line[10] != 'T' || !Digits(line, 11, 2, &hour) || line[13] != ':' ||
        !Digits(line, 14, 2, &minute) || line[16] != ':' || !Digits(line, 17, 2, &second) ||
        line[19] != 'Z' || line[20] != ',')
        return false;
    if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59) return false;
    if (!(CivilFromDays(DaysFromCivil(year, month, day)) == LocalDate{year, month, day}))
        return false;  // 31 April and the like
    const size_t comma = line.find(',', 21);
    if (comma == std::string::npos) return false;
    int64_t balance = 0, remaining = 0;
    if (!Integer(line.substr(21, comma - 21), INT32_MIN, INT32_MAX, &balance)) return false;
    if (!Integer(line.substr(comma + 1), INT64_MIN, INT64_MAX, &remaining)) return false;
    record->time = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    record->balance = static_cast<int32_t>(balance);
    record->remainingBytes = remaining;
    return true;
}

std::vector<UsageRecord> ParseUsageFile(const std::string& bytes) {
    std::vector<UsageRecord> records;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        UsageRecord record;
        if (ParseUsageLine(bytes.substr(start, end - start), &record)) records.push_back(record);
        start = end + 1;
    }
    // A clock set back leaves lines out of order; the table and the rate want them in time.
    std::stable_sort(records.begin(), records.end(),
                     [](const UsageRecord& a, const UsageRecord& b) { return a.time < b.time; });
    return records;
}

std::string FormatThousandths(int64_t value) {
    const uint64_t magnitude =
        value < 0 ? static_cast<uint64_t>(-(value + 1)) + 1 : static_cast<uint64_t>(value);
    std::string fraction = std::to_string(magnitude % 1000);
    fraction.insert(0, 3 - fraction.size(), '0');
    return (value < 0 ? "-" : "") + std::to_string(magnitude / 1000) + "." + fraction;
}

bool ParseMoney(const std::string& input, int32_t* thousandths) {
    size_t first = input.find_first_not_of(" \t");
    if (first == std::string::npos) return false;
    const size_t last = input.find_last_not_of(" \t");
    const std::string text = input.substr(first, last - first + 1);
    size_t i = 0;
    const bool negative = text[0] == '-';
    if (negative || text[0] == '+') ++i;
    int64_t units = 0;
    size_t unitDigits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++unitDigits) {
        units = units * 10 + (text[i] - '0');
        if (units > INT32_MAX) return false;
    }
    int64_t fraction = 0;
    size_t fractionDigits = 0;
    if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++fractionDigits) {
            if (fractionDigits == 3) return false;
            fraction = fraction * 10 + (text[i] - '0');
        }
    }
    if (i != text.size() || unitDigits + fractionDigits == 0) return false;
    for (size_t k = fractionDigits; k < 3; ++k) fraction *= 10;
    const int64_t value = (units * 1000 + fraction) * (negative ? -1 : 1);
    if (value < INT32_MIN || value > INT32_MAX) return false;
    *thousandths = static_cast<int32_t>(value);
    return true;
}

std::string LocalDate::Iso() const {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
    return text;
}

LocalDate LocalDate::AddDays(int64_t days) const {
    return CivilFromDays(DayNumber() + days);
}

int64_t LocalDate::DayNumber() const {
    return DaysFromCivil(year, month, day);
}

int64_t LocalDate::Start() const {
    std::tm local = {};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_isdst = -1;  // the zone's own rule for that day
    const std::time_t t = std::mktime(&local);
    return t == static_cast<std::time_t>(-1) ? DayNumber() * 86400 : static_cast<int64_t>(t);
}

LocalDate LocalDateOf(int64_t time) {
    std::time_t t = static_cast<std::time_t>(time);
    // One thread reads the calendar, so the shared result of localtime is safe here.
    const std::tm* local = std::localtime(&t);
    if (local == nullptr) {
        const int64_t days = (time >= 0 ? time : time - 86399) / 86400;
        return CivilFromDays(days);  // beyond what the C library converts: the UTC date
    }
    return LocalDate{local->tm_year + 1900, local->tm_mon + 1, local->tm_mday};
}

std::vector<UsageDay> UsageDays(const std::vector<UsageRecord>& records, int64_t now, int count) {
    const int64_t today = LocalDateOf(now).DayNumber();
    const int64_t firstDay = today - count + 1;
    std::vector<UsageDay> days(static_cast<size_t>(count > 0 ? count : 0));
    for (size_t k = 0; k < days.size(); ++k)
        days[k].date = CivilFromDays(firstDay + static_cast<int64_t>(k));

    size_t next = 0;  // the first record not yet taken
    bool known = false;
    int32_t balance = 0;
    for (UsageDay& row : days) {
        const int64_t number = row.date.DayNumber();
        while (next < records.size()) {
            const int64_t day = LocalDateOf(records[next].time).DayNumber();
            if (day > number) break;
            if (next > 0 && day == number) {
                row.spent = SaturatedAdd(row.spent, BalanceFall(records[next - 1], records[next]));
                row.usedBytes =
                    SaturatedAdd(row.usedBytes, TrafficFall(records[next - 1], records[next]));
            }
            known = true;
            balance = records[next].balance;
            ++next;
        }
        row.known = known;
        row.balance = balance;
    }
    return days;
}

Forecast MakeForecast(const std::vector<UsageRecord>& records, int64_t now) {
    Forecast forecast;
    if (records.empty()) return forecast;
    forecast.balance = records.back().balance;
    if (forecast.balance < 0) {
        forecast.kind = Forecast::BelowZero;
        return forecast;
    }
    // A clock set back puts "now" before the newest line: the history ends there.
    const int64_t end = std::max(now, records.back().time);
    const int64_t span = end - records.front().time;
    if (span < kForecastMinimum) return forecast;
    const int64_t window = std::min(span, kForecastWindow);
    const int64_t start = end - window;
    int64_t spent = 0;
    for (size_t i = 1; i < records.size(); ++i)
        if (records[i].time > start)
            spent = SaturatedAdd(spent, BalanceFall(records[i - 1], records[i]));
    if (spent == 0) {
        forecast.kind = Forecast::NoSpending;
        return forecast;
    }
    forecast.perDay =
        std::llround(static_cast<double>(spent) * 86400.0 / static_cast<double>(window));
    // balance < 2^31 and window <= 7 days: the product fits.
    const int64_t seconds = static_cast<int64_t>(forecast.balance) * window / spent;
    if (seconds > kCentury) {
        forecast.kind = Forecast::BeyondCentury;
        return forecast;
    }
    forecast.kind = Forecast::Lasts;
    forecast.until = LocalDateOf(end + seconds);
    return forecast;
}

std::string ForecastLine(const Forecast& f) {
    switch (f.kind) {
        case Forecast::Lasts:
            return "forecast: balance lasts until " + f.until.Iso() + " (spending " +
                   FormatThousandths(f.perDay) + " a day)";
        case Forecast::BeyondCentury:
            return "forecast: balance lasts more than a hundred years (spending " +
                   FormatThousandths(f.perDay) + " a day)";
        case Forecast::NoSpending:
            return "forecast: no spending seen, the balance does not fall";
        case Forecast::BelowZero:
            return "forecast: the balance is already below zero";
        case Forecast::NotEnoughHistory:
            break;
    }
    return "forecast: not enough history yet (less than a day)";
}

std::string ForecastJson(const Forecast& f) {
    switch (f.kind) {
        case Forecast::Lasts:
            return "{\"event\":\"forecast\",\"until\":\"" + f.until.Iso() + "\",\"per_day\":\"" +
                   FormatThousandths(f.perDay) + "\"}";
        case Forecast::BeyondCentury:
            return "{\"event\":\"forecast\",\"until\":null,\"per_day\":\"" +
                   FormatThousandths(f.perDay) + "\",\"reason\":\"beyond_century\"}";
        case Forecast::NoSpending:
            return "{\"event\":\"forecast\",\"until\":null,\"per_day\":\"0.000\",\"reason\":"
                   "\"no_spending\"}";
        case Forecast::BelowZero:
            return "{\"event\":\"forecast\",\"until\":null,\"per_day\":null,\"reason\":"
                   "\"below_zero\"}";
        case Forecast::NotEnoughHistory:
            break;
    }
    return "{\"event\":\"forecast\",\"until\":null,\"per_day\":null,\"reason\":"
           "\"not_enough_history\"}";
}
