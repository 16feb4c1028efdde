// What usage.csv tells: the balance and traffic per day, how fast the money goes and when it
// runs out. Pure functions over the records, shared by the window and brin-cli.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One line of usage.csv: a poll reply's balance and remaining traffic at a UTC time.
struct UsageRecord {
    int64_t time = 0;     // seconds since 1970-01-01 UTC
    int32_t balance = 0;  // thousandths of the currency unit
    int64_t remainingBytes = 0;
};

// "2026-12-11T10:00:00Z,1234567,5368709120" (no line end).
std::string UsageLine(const UsageRecord& record);
// One line in that form (a CR before the line end is allowed); false for anything else.
bool ParseUsageLine(const std::string& line, UsageRecord* record);
// Every good line of a file's bytes in time order; the header and damaged lines are skipped.
std::vector<UsageRecord> ParseUsageFile(const std::string& bytes);

// Thousandths as "%d.%03d" (or with a minus), over the whole 64-bit range.
std::string FormatThousandths(int64_t value);
// A sum of money as the user types it: "100", "99.5", "99,50", "-3.250", blanks around;
// at most three decimals, within the 32-bit balance. False for anything else.
bool ParseMoney(const std::string& text, int32_t* thousandths);

// The local calendar date of a moment, and dates moved by whole days.
struct LocalDate {
    int year = 1970;
    int month = 1;
    int day = 1;
    std::string Iso() const;  // "YYYY-MM-DD"
    LocalDate AddDays(int64_t days) const;
    int64_t DayNumber() const;  // days since 1970-01-01 of this calendar date
    int64_t Start() const;      // the moment of its local midnight
    bool operator==(const LocalDate& o) const {
        return year == o.year && month == o.month && day == o.day;
    }
};
LocalDate LocalDateOf(int64_t time);  // in the user's time zone

// One row of the daily table.
struct UsageDay {
    LocalDate date;
    bool known = false;     // the history had begun by the day's end
    int32_t balance = 0;    // at the day's end
    int64_t spent = 0;      // thousandths: the falls of the balance during the day
    int64_t usedBytes = 0;  // the falls of the remaining traffic during the day
};
// The last `count` local days up to the one of `now`, oldest first. `records` in time order.
std::vector<UsageDay> UsageDays(const std::vector<UsageRecord>& records, int64_t now,
                                int count = 30);

constexpr int64_t kForecastWindow = 7 * 86400;  // the spending rate is taken over this
constexpr int64_t kForecastMinimum = 86400;     // less history than this gives no rate

struct Forecast {
    enum Kind {
        Lasts,             // the balance reaches zero on `until`
        NotEnoughHistory,  // less than a day of history
        NoSpending,        // the balance did not fall
        BelowZero,         // the balance is below zero already
        BeyondCentury,     // it would last more than a hundred years
    };
    Kind kind = NotEnoughHistory;
    LocalDate until;
    int64_t perDay = 0;   // thousandths a day (Lasts, BeyondCentury)
    int32_t balance = 0;  // the last balance known
};
// The money spent (falls of the balance only: top-ups are not spending) over the last
// seven days, or over the whole history when it is shorter but at least a day, and the
// local date when the last balance reaches zero at that rate. `records` in time order.
Forecast MakeForecast(const std::vector<UsageRecord>& records, int64_t now);

// brin-cli's forms: "forecast: balance lasts until YYYY-MM-DD (spending D.DDD a day)" and
// the others; {"event":"forecast","until":"YYYY-MM-DD","per_day":"D.DDD"}.
std::string ForecastLine(const Forecast& forecast);
std::string ForecastJson(const Forecast& forecast);
