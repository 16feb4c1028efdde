// usage.csv and what is read from it: the line form, damaged lines, crashes and full disks while
// appending, the 400-day rewrite, the daily table, the forecast and the LowBalance crossing.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "core/ClientSession.h"
#include "core/TestSeams.h"
#include "core/UsageLog.h"
#include "tests/support/TempDir.h"

namespace {

constexpr int64_t kDay = 86400;
// 2026-12-01T00:00:00Z
constexpr int64_t kDec1 = 1796083200;

// A fixed zone ten hours east of UTC, in the form both C libraries read.
struct ZoneTenEast {
    ZoneTenEast() {
        const char* old = std::getenv("TZ");
        had_ = old != nullptr;
        if (had_) old_ = old;
        putenv(const_cast<char*>("TZ=UTC-10"));
        tzset();
    }
    ~ZoneTenEast() {
        static std::string restore;
        restore = "TZ=" + old_;
        putenv(const_cast<char*>(had_ ? restore.c_str() : "TZ=UTC"));
        tzset();
    }
    bool had_ = false;
    std::string old_;
};

UsageRecord Rec(int64_t time, int32_t balance, int64_t remaining = 0) {
    UsageRecord r;
    r.time = time;
    r.balance = balance;
    r.remainingBytes = remaining;
    return r;
}

TEST(UsageLine, FormsAndDamagedLines) {
    EXPECT_EQ(UsageLine(Rec(kDec1 + 10 * 3600, 1234567, 5368709120)),
              "2026-12-01T10:00:00Z,1234567,5368709120");
    EXPECT_EQ(UsageLine(Rec(0, -2147483647 - 1, -1)), "1970-01-01T00:00:00Z,-2147483648,-1");
    UsageRecord r;
    ASSERT_TRUE(ParseUsageLine("2026-12-11T10:00:00Z,1234567,5368709120\r", &r));
    EXPECT_EQ(r.time, kDec1 + 10 * kDay + 10 * 3600);
    EXPECT_EQ(r.balance, 1234567);
    EXPECT_EQ(r.remainingBytes, 5368709120);
    ASSERT_TRUE(ParseUsageLine("2028-02-29T23:59:59Z,-5,0", &r));
    EXPECT_EQ(UsageLine(r), "2028-02-29T23:59:59Z,-5,0");
    // Whatever a reply can carry is read back as written.
    for (const UsageRecord& edge : {Rec(0, INT32_MIN, INT64_MIN), Rec(4102444799, INT32_MAX, INT64_MAX)}) {
        ASSERT_TRUE(ParseUsageLine(UsageLine(edge), &r)) << UsageLine(edge);
        EXPECT_EQ(r.balance, edge.balance);
        EXPECT_EQ(r.remainingBytes, edge.remainingBytes);
        EXPECT_EQ(r.time, edge.time);
    }

    const char* damaged[] = {
        "time,balance_milli,remaining_bytes",
        "",
        "2026-12-11T10:00:00Z,1234567",       // a field short
        "2026-12-11T10:00:00Z,1234567,",      // an empty field
        "2026-12-11T10:00:00Z,12a4567,5",     // not a number
        "2026-12-11T10:00:00Z,2147483648,5",  // over the 32-bit balance
        "2026-12-11T10:00:00Z,1,5,6",         // a field too many
        "2026-02-29T10:00:00Z,1,5",           // no such day
        "2026-12-11T24:00:00Z,1,5",           // no such hour
        "2026-12-11 10:00:00Z,1,5",           // not the ISO form
        "2026-12-11T10:00:00,1,5",            // not UTC
        "2026-12-11T10:00:00Z,1,9223372036854775808",  // over the 64-bit count
        "2026-12-11T10:00:00Z,-2147483649,5",
        "2026-12-11T10:00:00Z,--1,5",
        "2026-12-11T10:0",  // cut off by a crash
    };
    for (const char* line : damaged) EXPECT_FALSE(ParseUsageLine(line, &r)) << line;
}

TEST(UsageFile, SkipsDamagedLinesAndSortsByTime) {
    const std::string bytes =
        "time,balance_milli,remaining_bytes\n"
        "2026-12-02T00:00:00Z,900,10\r\n"
        "garbage\n"
        "2026-12-01T00:00:00Z,1000,20\n"  // a clock set back wrote it after
        "2026-12-03T00:00:00Z,800,5\n"
        "2026-12-03T00:00";
    const std::vector<UsageRecord> records = ParseUsageFile(bytes);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].balance, 1000);
    EXPECT_EQ(records[1].balance, 900);
    EXPECT_EQ(records[2].balance, 800);
}

TEST(UsageLog, AppendsChangesOnlyAndComparesWithTheFilesLastLine) {
    TempDir dir;
    {
        UsageLog log;
        EXPECT_EQ(log.Add(kDec1, 1000, 50), UsageLog::Written);
        EXPECT_EQ(log.Add(kDec1 + 31, 1000, 50), UsageLog::Unchanged);
        EXPECT_EQ(log.Add(kDec1 + 62, 1000, 49), UsageLog::Written);  // traffic alone
        EXPECT_EQ(log.Add(kDec1 + 93, 990, 49), UsageLog::Written);
    }
    EXPECT_EQ(ReadFile("usage.csv"),
              "time,balance_milli,remaining_bytes\n"
              "2026-12-01T00:00:00Z,1000,50\n"
              "2026-12-01T00:01:02Z,1000,49\n"
              "2026-12-01T00:01:33Z,990,49\n");
    UsageLog again;  // the next run
    ASSERT_EQ(again.Records().size(), 3u);
    EXPECT_EQ(again.Add(kDec1 + 200, 990, 49), UsageLog::Unchanged);
    EXPECT_EQ(again.Add(kDec1 + 231, 980, 49), UsageLog::Written);
    EXPECT_EQ(ReadFile("usage.csv").find("time,", 1), std::string::npos);  // one header
}

TEST(UsageLog, ACrashOrAFullDiskLosesAtMostTheLineBeingWritten) {
    TempDir dir;
    {
        // The first line on a full disk leaves no half-made file behind.
        UsageLog log;
        InjectAppendFailure(5);
        EXPECT_EQ(log.Add(kDec1, 1000, 50), UsageLog::Failed);
        EXPECT_TRUE(dir.Names().empty());
        EXPECT_EQ(log.Add(kDec1 + 31, 1000, 50), UsageLog::Written);
        EXPECT_EQ(ReadFile("usage.csv"),
                  "time,balance_milli,remaining_bytes\n2026-12-01T00:00:31Z,1000,50\n");
    }
    // A crash cut the last line short: the next run starts a line of its own.
    WriteFile("usage.csv",
               "time,balance_milli,remaining_bytes\n2026-12-01T00:00:00Z,1000,50\n2026-12-01T00:0");
    {
        UsageLog log;
        ASSERT_EQ(log.Records().size(), 1u);
        EXPECT_EQ(log.Add(kDec1 + 60, 990, 50), UsageLog::Written);
        // The disk fills in the middle of a line: the session goes on, nothing is kept
        // as written, and the next reply's line lands whole on a line of its own.
        InjectAppendFailure(10);
        EXPECT_EQ(log.Add(kDec1 + 91, 980, 50), UsageLog::Failed);
        EXPECT_TRUE(log.WriteFailing());
        EXPECT_EQ(log.Records().size(), 2u);
        EXPECT_EQ(log.Add(kDec1 + 122, 980, 50), UsageLog::Written);  // tried again
        EXPECT_FALSE(log.WriteFailing());
    }
    UsageLog read;
    ASSERT_EQ(read.Records().size(), 3u);
    EXPECT_EQ(read.Records()[1].balance, 990);
    EXPECT_EQ(read.Records()[2].balance, 980);
    EXPECT_EQ(read.Records()[2].time, kDec1 + 122);
}

// Lines are appended without a sync: a machine that lost power before its write-back may
// leave zero bytes where the last lines stood (a whole block of them, line ends included).
TEST(UsageLog, ZeroBytesLeftByAPowerCutAreSkippedAndTheNextLineStandsAlone) {
    TempDir dir;
    const std::string zeros(70, '\0');
    WriteFile("usage.csv", "time,balance_milli,remaining_bytes\n2026-12-01T00:00:00Z,1000,50\n" +
                                zeros);
    {
        UsageLog log;
        ASSERT_EQ(log.Records().size(), 1u);
        ASSERT_TRUE(log.HasLast());
        EXPECT_EQ(log.Last().balance, 1000);
        EXPECT_EQ(log.Add(kDec1 + 31, 1000, 50), UsageLog::Unchanged);
        EXPECT_EQ(log.Add(kDec1 + 62, 970, 50), UsageLog::Written);
    }
    EXPECT_EQ(ReadFile("usage.csv"), "time,balance_milli,remaining_bytes\n"
                                      "2026-12-01T00:00:00Z,1000,50\n" +
                                          zeros + "\n2026-12-01T00:01:02Z,970,50\n");
    UsageLog read;
    ASSERT_EQ(read.Records().size(), 2u);
    EXPECT_EQ(read.Records()[1].balance, 970);
}

TEST(UsageLog, KeepsTheLast400DaysByAnAtomicRewrite) {
    TempDir dir;
    UsageLog log;
    ASSERT_EQ(log.Add(kDec1, 5000, 1), UsageLog::Written);
    ASSERT_EQ(log.Add(kDec1 + 100 * kDay, 4000, 1), UsageLog::Written);
    // 400 days and a few hours after the first line: within the day of slack, no rewrite.
    ASSERT_EQ(log.Add(kDec1 + 400 * kDay + 7200, 3000, 1), UsageLog::Written);
    EXPECT_EQ(log.Records().size(), 3u);
    // A rewrite that fails (a full disk) leaves the file whole and the lines going on.
    const std::string before = ReadFile("usage.csv");
    InjectAtomicWriteFailure(20);
    ASSERT_EQ(log.Add(kDec1 + 401 * kDay + 10, 2000, 1), UsageLog::Written);
    EXPECT_EQ(ReadFile("usage.csv"), before + "2028-01-06T00:00:10Z,2000,1\n");
    EXPECT_EQ(log.Records().size(), 4u);
    // An hour later it is tried again, and the first line goes.
    ASSERT_EQ(log.Add(kDec1 + 401 * kDay + 3700, 1000, 1), UsageLog::Written);
    EXPECT_EQ(ReadFile("usage.csv"),
              "time,balance_milli,remaining_bytes\n"
              "2027-03-11T00:00:00Z,4000,1\n"
              "2028-01-05T02:00:00Z,3000,1\n"
              "2028-01-06T00:00:10Z,2000,1\n"
              "2028-01-06T01:01:40Z,1000,1\n");
    EXPECT_EQ(log.Records().size(), 4u);
    EXPECT_EQ(dir.Names().size(), 1u);  // no temporary file left
    EXPECT_EQ(log.Add(kDec1 + 401 * kDay + 3800, 1000, 1), UsageLog::Unchanged);
}

TEST(Money, ParsesWhatTheUserTypes) {
    const struct {
        const char* text;
        bool ok;
        int32_t value;
    } cases[] = {
        {"100", true, 100000},
        {"99.5", true, 99500},
        {"99,50", true, 99500},
        {" 0.001 ", true, 1},
        {"-3.250", true, -3250},
        {".5", true, 500},
        {"2147483.647", true, 2147483647},
        {"-2147483.648", true, -2147483647 - 1},
        {"2147483.648", false, 0},
        {"1.2345", false, 0},
        {"", false, 0},
        {"  ", false, 0},
        {"abc", false, 0},
        {"1 000", false, 0},
        {"1.", true, 1000},
        {"-", false, 0},
        {"99999999999", false, 0},
    };
    for (const auto& c : cases) {
        int32_t value = 0;
        EXPECT_EQ(ParseMoney(c.text, &value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
    EXPECT_EQ(FormatThousandths(-1), "-0.001");
    EXPECT_EQ(FormatThousandths(INT64_MIN), "-9223372036854775.808");
    EXPECT_EQ(FormatThousandths(12500), "12.500");
}

TEST(UsageDays, BalanceAtDayEndSpendingAndTrafficByLocalDay) {
    ZoneTenEast zone;
    // Local midnight of 1 December is 14:00 UTC of 30 November.
    const int64_t localDec1 = kDec1 - 10 * 3600;
    const std::vector<UsageRecord> records = {
        Rec(localDec1 + 3600, 10000, 9000),           // 1 Dec
        Rec(localDec1 + 7200, 9000, 8000),            // 1 Dec: spent 1.000, 1000 bytes
        Rec(localDec1 + kDay + 60, 12000, 20000),     // 2 Dec: a top-up of both, no spending
        Rec(localDec1 + kDay + 120, 11500, 19000),    // 2 Dec: 0.500, 1000 bytes
        Rec(localDec1 + 3 * kDay - 1, 11000, 19000),  // 3 Dec, its last second
    };
    const std::vector<UsageDay> days = UsageDays(records, localDec1 + 4 * kDay + 5, 6);
    ASSERT_EQ(days.size(), 6u);
    EXPECT_EQ(days[0].date.Iso(), "2026-11-30");
    EXPECT_FALSE(days[0].known);
    EXPECT_EQ(days[1].date.Iso(), "2026-12-01");
    EXPECT_TRUE(days[1].known);
    EXPECT_EQ(days[1].balance, 9000);
    EXPECT_EQ(days[1].spent, 1000);
    EXPECT_EQ(days[1].usedBytes, 1000);
    EXPECT_EQ(days[2].balance, 11500);
    EXPECT_EQ(days[2].spent, 500);
    EXPECT_EQ(days[2].usedBytes, 1000);
    EXPECT_EQ(days[3].date.Iso(), "2026-12-03");
    EXPECT_EQ(days[3].balance, 11000);
    EXPECT_EQ(days[3].spent, 500);
    EXPECT_EQ(days[4].balance, 11000);  // no line: the balance stays
    EXPECT_EQ(days[4].spent, 0);
    EXPECT_EQ(days[5].date.Iso(), "2026-12-05");
    EXPECT_EQ(days[5].balance, 11000);
}

TEST(Forecast, RateOverTheLastSevenDaysAndTheDateItRunsOut) {
    ZoneTenEast zone;
    const int64_t now = kDec1 + 20 * kDay;  // 2026-12-21T00:00Z, 10:00 local
    // Steady spending of 2.000 a day for 20 days; 10 days before "now" a large top-up.
    std::vector<UsageRecord> steady;
    int32_t balance = 100000;
    for (int64_t t = kDec1; t <= now; t += kDay / 4) {
        if (t == kDec1 + 10 * kDay) balance += 50000;  // a top-up is no spending
        steady.push_back(Rec(t, balance));
        balance -= 500;
    }
    // 7 days of 2.000 over the window; the top-up outside it changes nothing.
    const Forecast f = MakeForecast(steady, now);
    ASSERT_EQ(f.kind, Forecast::Lasts);
    EXPECT_EQ(f.perDay, 2000);
    EXPECT_EQ(f.balance, steady.back().balance);
    // 110.000 left at 2.000 a day: 55 days from 21 December 10:00 local.
    EXPECT_EQ(f.balance, 110000);
    EXPECT_EQ(f.until.Iso(), "2027-02-14");
    EXPECT_EQ(ForecastLine(f), "forecast: balance lasts until 2027-02-14 (spending 2.000 a day)");
    EXPECT_EQ(ForecastJson(f),
              "{\"event\":\"forecast\",\"until\":\"2027-02-14\",\"per_day\":\"2.000\"}");

    struct Case {
        const char* what;
        std::vector<UsageRecord> records;
        int64_t now;
        Forecast::Kind kind;
        int64_t perDay;
        const char* until;
    };
    const Case cases[] = {
        {"no history", {}, now, Forecast::NotEnoughHistory, 0, ""},
        {"less than a day",
         {Rec(now - kDay + 1, 5000), Rec(now, 4000)},
         now,
         Forecast::NotEnoughHistory,
         0,
         ""},
        // Two days of history: 3.000 spent over 2 days, 3.000 left: two more days.
        {"shorter than a week",
         {Rec(now - 2 * kDay, 6000), Rec(now - kDay, 4000), Rec(now, 3000)},
         now,
         Forecast::Lasts,
         1500,
         "2026-12-23"},
        {"only top-ups",
         {Rec(now - 3 * kDay, 1000), Rec(now - kDay, 5000)},
         now,
         Forecast::NoSpending,
         0,
         ""},
        {"below zero",
         {Rec(now - 3 * kDay, 1000), Rec(now - kDay, -1)},
         now,
         Forecast::BelowZero,
         0,
         ""},
        // Spending older than the week is not today's rate.
        {"nothing spent this week",
         {Rec(now - 30 * kDay, 9000), Rec(now - 20 * kDay, 5000), Rec(now - 8 * kDay, 5000)},
         now,
         Forecast::NoSpending,
         0,
         ""},
        {"a hundred years and more",
         {Rec(now - 7 * kDay, 2000000001), Rec(now, 2000000000)},
         now,
         Forecast::BeyondCentury,
         0,
         ""},
        // A clock set back: the history ends at its newest line.
        {"now before the last line",
         {Rec(now - kDay, 3000), Rec(now + kDay, 1000)},
         now,
         Forecast::Lasts,
         1000,
         "2026-12-23"},
        {"zero left",
         {Rec(now - kDay, 1000), Rec(now, 0)},
         now,
         Forecast::Lasts,
         1000,
         "2026-12-21"},
    };
    for (const Case& c : cases) {
        const Forecast got = MakeForecast(c.records, c.now);
        EXPECT_EQ(got.kind, c.kind) << c.what;
        if (c.kind == Forecast::Lasts) {
            EXPECT_EQ(got.perDay, c.perDay) << c.what;
            EXPECT_EQ(got.until.Iso(), c.until) << c.what;
        }
    }
}

TEST(LowBalanceAlarm, OncePerCrossing) {
    LowBalanceAlarm alarm;
    alarm.SetThreshold(true, 100000);
    alarm.SetPrevious(120000);
    const struct {
        int32_t balance;
        bool warns;
    } replies[] = {
        {110000, false}, {100000, false},                  // at the threshold is not below it
        {99999, true},   {90000, false},  {80000, false},  // still below: no second warning
        {150000, false},                                   // a top-up
        {50000, true},                                     // the next crossing
    };
    for (const auto& r : replies) EXPECT_EQ(alarm.Observe(r.balance), r.warns) << r.balance;

    LowBalanceAlarm off;  // LowBalance absent
    off.SetPrevious(120000);
    EXPECT_FALSE(off.Observe(0));

    LowBalanceAlarm firstRun;  // no usage.csv yet: the first reply is no crossing
    firstRun.SetThreshold(true, 100000);
    EXPECT_FALSE(firstRun.Observe(50000));

    bool enabled = true;
    int32_t threshold = 0;
    EXPECT_TRUE(ReadLowBalance(nullptr, &enabled, &threshold));
    EXPECT_FALSE(enabled);
    EXPECT_TRUE(ReadLowBalance("", &enabled, &threshold));
    EXPECT_FALSE(enabled);
    EXPECT_TRUE(ReadLowBalance("50,5", &enabled, &threshold));
    EXPECT_TRUE(enabled);
    EXPECT_EQ(threshold, 50500);
    EXPECT_FALSE(ReadLowBalance("lots", &enabled, &threshold));
    EXPECT_FALSE(enabled);
}

TEST(UsageWatch, RecordsRepliesAndNotTheTrafficAConnectCleared) {
    TempDir dir;
    WriteFile("usage.csv",
               "time,balance_milli,remaining_bytes\n2026-12-01T00:00:00Z,120000,7000\n");
    UsageWatch watch;
    watch.Alarm().SetThreshold(true, 100000);
    SessionView snapshot;
    TickEvents tick;
    tick.replyApplied = true;

    snapshot.balance = 119000;
    snapshot.remainingBytes = 0;  // Connect cleared it; no counter record yet
    UsageWatch::Outcome out = watch.OnTick(tick, snapshot, static_cast<int32_t>(kDec1 + 60));
    EXPECT_EQ(out.written, UsageLog::Written);
    EXPECT_EQ(watch.Log().Last().remainingBytes, 7000);

    tick.countersChanged = true;  // a counter record says 0 is left: that is true
    snapshot.balance = 99000;     // and the balance crosses LowBalance (from the file's 120.000)
    out = watch.OnTick(tick, snapshot, static_cast<int32_t>(kDec1 + 91));
    EXPECT_EQ(watch.Log().Last().remainingBytes, 0);
    EXPECT_TRUE(out.lowBalance);

    TickEvents idle;  // a tick without a reply records nothing
    snapshot.balance = 1;
    out = watch.OnTick(idle, snapshot, static_cast<int32_t>(kDec1 + 92));
    EXPECT_FALSE(out.applied);
    EXPECT_EQ(watch.Log().Records().size(), 3u);
}

}  // namespace
