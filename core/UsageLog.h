// usage.csv in the client's directory: one line per poll reply that changed the balance or the
// remaining traffic, appended; and the LowBalance warning that watches the same replies.
#pragma once

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "core/UsageForecast.h"

struct SessionView;
struct TickEvents;

class UsageLog {
public:
    static constexpr const char kFileName[] = "usage.csv";
    static constexpr const char kHeader[] = "time,balance_milli,remaining_bytes";
    static constexpr int64_t kKeptDays = 400;

    // Reads the file (damaged lines are skipped); a missing file is an empty history.
    explicit UsageLog(std::string path = kFileName);

    enum Result { Unchanged, Written, Failed };
    // One poll reply's values at `time`: a line when they differ from the last line. A line
    // that cannot be written (a full disk) is dropped and the next reply tries again; it
    // never stops the session. Lines older than the kept days go by an atomic rewrite
    // once the oldest is a day past the bound.
    Result Add(int64_t time, int32_t balance, int64_t remainingBytes);

    const std::vector<UsageRecord>& Records() const { return records_; }
    bool HasLast() const { return !records_.empty(); }
    const UsageRecord& Last() const { return last_; }
    // Writing started to fail, or works again: for one warning each way.
    bool WriteFailing() const { return failing_; }

private:
    void Trim(int64_t time);

    std::string path_;
    std::vector<UsageRecord> records_;  // in time order
    UsageRecord last_;                  // the last line written (or read), for the comparison
    bool haveLast_ = false;
    bool exists_ = false;       // the file was there at the start or has been written since
    bool empty_ = true;         // no file, or an empty one: the header comes first
    bool needLineEnd_ = false;  // the file does not end in a line end (a cut-off last line)
    bool failing_ = false;
    int64_t trimTried_ = INT64_MIN;  // a rewrite that failed is tried again an hour later
};

// The LowBalance warning: once when a reply brings the balance from at or above the
// threshold to below it, and again only after it has been back at or above it.
class LowBalanceAlarm {
public:
    void SetThreshold(bool enabled, int32_t threshold) {
        enabled_ = enabled;
        threshold_ = threshold;
    }
    bool Enabled() const { return enabled_; }
    int32_t Threshold() const { return threshold_; }
    // The balance before the first reply of this run (usage.csv's last line).
    void SetPrevious(int32_t balance) {
        previous_ = balance;
        havePrevious_ = true;
    }
    // A reply's balance: true when it is the crossing.
    bool Observe(int32_t balance);

private:
    bool enabled_ = false;
    int32_t threshold_ = 0;
    bool havePrevious_ = false;
    int32_t previous_ = 0;
};

// The LowBalance text of brin.ini: absent or empty means no warning; a sum of money
// otherwise. False when the text is neither.
bool ReadLowBalance(const char* text, bool* enabled, int32_t* threshold);

// What both front ends do with each tick's reply: record it in usage.csv and watch the
// balance. The remaining traffic a Connect cleared is not taken for a reply's value: it
// stays what the last counter record said until one comes.
class UsageWatch {
public:
    explicit UsageWatch(std::string path = UsageLog::kFileName);

    struct Outcome {
        bool applied = false;  // a reply was taken in
        UsageLog::Result written = UsageLog::Unchanged;
        bool failingChanged = false;  // writing usage.csv started to fail or works again
        bool lowBalance = false;      // this reply brought the balance below LowBalance
    };
    Outcome OnTick(const TickEvents& events, const SessionView& snapshot, int32_t now);

    UsageLog& Log() { return log_; }
    const UsageLog& Log() const { return log_; }
    LowBalanceAlarm& Alarm() { return alarm_; }
    Forecast CurrentForecast(int32_t now) const;
    std::vector<UsageDay> Days(int32_t now, int count = 30) const;

    // The clock's 32-bit reading as seconds since 1970: it is read as unsigned, so the
    // 2038 wrap keeps counting up (until 2106).
    static int64_t Seconds(int32_t now) { return static_cast<int64_t>(static_cast<uint32_t>(now)); }

private:
    UsageLog log_;
    LowBalanceAlarm alarm_;
    bool haveRemaining_ = false;
    int64_t remaining_ = 0;
};
