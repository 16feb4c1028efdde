// The history of the provider's messages: the text, history.ini read at start and rewritten per message.
#include "messages/MessageHistory.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "core/AtomicFile.h"
#include "core/Clock.h"

namespace {

const char kFileName[] = "history.ini";
constexpr int kNewFileMode = 0644;

}  // namespace

MessageHistory::MessageHistory() { LoadHistory(); }

MessageHistory::~MessageHistory() = default;

int MessageHistory::LoadHistory() {
    std::FILE* file = std::fopen(kFileName, "rb");
    if (file == nullptr) return -1;
    std::string bytes;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
    std::fclose(file);
    history += HistoryFromFileBytes(bytes);
    return 0;
}

std::string MessageHistory::HistoryFromFileBytes(const std::string& bytes) {
    std::string text;
    text.reserve(bytes.size() + bytes.size() / 16 + 2);
    size_t start = 0;
    while (start < bytes.size()) {
        size_t lf = bytes.find('\n', start);
        size_t end = lf == std::string::npos ? bytes.size() : lf;
        size_t lineEnd = end;
        if (lf != std::string::npos && lineEnd > start && bytes[lineEnd - 1] == '\r') --lineEnd;
        text.append(bytes, start, lineEnd - start);
        text += "\r\n";
        start = lf == std::string::npos ? bytes.size() : lf + 1;
    }
    return text;
}

int MessageHistory::SaveHistory() {
    const int result = ReplaceFileAtomically(kFileName, history, kNewFileMode);
    if (result == 0) retryWaiting_ = false;  // a later failure waits from its own tick
    if (saveFailing_ != (result != 0)) {
        saveFailing_ = result != 0;
        SaveFailingChanged();
    }
    return result;
}

int32_t MessageHistory::NextRetry(int32_t now) {
    if (!retryWaiting_) {
        retryWaiting_ = true;
        retryFrom_ = now;
    }
    // A clock set back restarts the wait from `now`, as Elapsed does.
    const int32_t waited = Elapsed(retryFrom_, now);
    const int32_t left = kSaveRetrySeconds - std::min(waited, kSaveRetrySeconds);
    return static_cast<int32_t>(static_cast<uint32_t>(now) + static_cast<uint32_t>(left));
}

int MessageHistory::RetrySaveWhenDue(int32_t now) {
    if (!saveFailing_) return 0;
    if (NextRetry(now) != now) return -1;
    retryFrom_ = now;
    return SaveHistory();
}

std::string MessageHistory::FormatMessageTime(int32_t time) {
    std::time_t t = static_cast<std::time_t>(time);
    // One thread uses the history, so the shared result of localtime is safe here.
    const std::tm* local = std::localtime(&t);
    if (local == nullptr) return std::string();
    char text[64];
    size_t n = std::strftime(text, sizeof text, "%S:%M:%H %d/%m/%Y", local);
    return std::string(text, n);
}

int MessageHistory::AddMessage(int32_t time, const char* text) {
    // A POLL_REPLY repeated on the way is taken as the reply to the next POLL and
    // brings its message once more, with the same time: it is the same message.
    if (added_ && time == lastTime_ && lastText_ == text) return 1;
    added_ = true;
    lastTime_ = time;
    lastText_ = text;
    std::string entry = FormatMessageTime(time);
    entry += "\r\n";
    entry += text;
    entry += "\r\n";
    history += entry;
    history += "\r\n";
    // Saved before the entry is shown: a message box left open must not keep it off the disk.
    SaveHistory();
    ShowNewEntry(entry);
    return 0;
}
