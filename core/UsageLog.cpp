// usage.csv appended line by line and kept to its last 400 days; the LowBalance crossing.
#include "core/UsageLog.h"

#include <algorithm>
#include <cstdio>

#include "core/AtomicFile.h"
#include "core/ClientSession.h"

namespace {

// The balance is the subscriber's own business: a new file is for the owner alone.
constexpr int kNewFileMode = 0600;
constexpr int64_t kDay = 86400;
constexpr int64_t kTrimRetry = 3600;

bool ReadFile(const std::string& path, std::string* bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes->append(buffer, n);
    std::fclose(file);
    return true;
}

}  // namespace

UsageLog::UsageLog(std::string path) : path_(std::move(path)) {
    std::string bytes;
    if (!ReadFile(path_, &bytes)) return;
    exists_ = true;
    records_ = ParseUsageFile(bytes);
    needLineEnd_ = !bytes.empty() && bytes.back() != '\n';
    empty_ = bytes.empty();
    // The comparison is with the file's last line as it stands, whatever its time.
    size_t end = bytes.size();
    while (end > 0 && !haveLast_) {
        size_t start = bytes.rfind('\n', end - 1);
        start = start == std::string::npos ? 0 : start + 1;
        haveLast_ = ParseUsageLine(bytes.substr(start, end - start), &last_);
        end = start > 0 ? start - 1 : 0;
    }
}

UsageLog::Result UsageLog::Add(int64_t time, int32_t balance, int64_t remainingBytes) {
    if (haveLast_ && last_.balance == balance && last_.remainingBytes == remainingBytes)
        return Unchanged;
    UsageRecord record;
    record.time = time;
    record.balance = balance;
    record.remainingBytes = remainingBytes;
    std::string text;
    if (needLineEnd_) text += '\n';  // a cut-off line stays a damaged line of its own
    if (empty_) text += std::string(kHeader) + '\n';
    text += UsageLine(record) + '\n';
    if (AppendToFile(path_, text, kNewFileMode) != 0) {
        // A file this call made holds nothing but the failed bytes: it goes, and the
        // next line starts it again. In an older one part of the line may stand: the
        // next line starts on a line of its own.
        if (!exists_) std::remove(path_.c_str());
        needLineEnd_ = exists_;
        failing_ = true;
        return Failed;
    }
    failing_ = false;
    needLineEnd_ = false;
    empty_ = false;
    exists_ = true;
    last_ = record;
    haveLast_ = true;
    const auto at = std::upper_bound(records_.begin(), records_.end(), time,
                                     [](int64_t t, const UsageRecord& r) { return t < r.time; });
    records_.insert(at, record);
    Trim(time);
    return Written;
}

void UsageLog::Trim(int64_t time) {
    const int64_t cutoff = time - kKeptDays * kDay;
    // A day of slack: the file is rewritten at most about once a day, not at every line.
    if (records_.empty() || records_.front().time >= cutoff - kDay) return;
    if (trimTried_ != INT64_MIN && time - trimTried_ < kTrimRetry && time >= trimTried_) return;
    trimTried_ = time;
    const auto keep = std::lower_bound(records_.begin(), records_.end(), cutoff,
                                       [](const UsageRecord& r, int64_t t) { return r.time < t; });
    std::string text = std::string(kHeader) + '\n';
    for (auto it = keep; it != records_.end(); ++it) text += UsageLine(*it) + '\n';
    // A full disk keeps the old file whole; the next try comes an hour later.
    if (ReplaceFileAtomically(path_, text, kNewFileMode) != 0) return;
    records_.erase(records_.begin(), keep);
    // The rewrite is in time order: its last line is the newest record.
    last_ = records_.back();
}

bool LowBalanceAlarm::Observe(int32_t balance) {
    const bool crossed =
        enabled_ && havePrevious_ && previous_ >= threshold_ && balance < threshold_;
    previous_ = balance;
    havePrevious_ = true;
    return crossed;
}

bool ReadLowBalance(const char* text, bool* enabled, int32_t* threshold) {
    *enabled = false;
    if (text == nullptr || text[0] == '\0') return true;
    int32_t value = 0;
    if (!ParseMoney(text, &value)) return false;
    *enabled = true;
    *threshold = value;
    return true;
}

UsageWatch::UsageWatch(std::string path) : log_(std::move(path)) {
    if (log_.HasLast()) {
        alarm_.SetPrevious(log_.Last().balance);
        haveRemaining_ = true;
        remaining_ = log_.Last().remainingBytes;
    }
}

UsageWatch::Outcome UsageWatch::OnTick(const TickEvents& events, const SessionView& snapshot,
                                       int32_t now) {
    Outcome outcome;
    if (!events.replyApplied) return outcome;
    outcome.applied = true;
    // Connect sets remainingBytes to 0 without a counter record: until one comes, the
    // last value reported stands.
    if (events.countersChanged || snapshot.remainingBytes != 0 || !haveRemaining_) {
        remaining_ = snapshot.remainingBytes;
        haveRemaining_ = true;
    }
    const bool wasFailing = log_.WriteFailing();
    outcome.written = log_.Add(Seconds(now), snapshot.balance, remaining_);
    outcome.failingChanged = wasFailing != log_.WriteFailing();
    outcome.lowBalance = alarm_.Observe(snapshot.balance);
    return outcome;
}

Forecast UsageWatch::CurrentForecast(int32_t now) const {
    return MakeForecast(log_.Records(), Seconds(now));
}

std::vector<UsageDay> UsageWatch::Days(int32_t now, int count) const {
    return UsageDays(log_.Records(), Seconds(now), count);
}
