// Fuzz target: the history.ini loader. The text has CR LF after every line, no lone LF, the
// same lines as the file, and reads into itself again.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "messages/MessageHistory.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// The lines of a text with their ends dropped, each followed by LF.
std::string Lines(const std::string& text) {
    std::string lines;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        lines += text[i];
    }
    if (!lines.empty() && lines.back() != '\n') lines += '\n';
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string file(reinterpret_cast<const char*>(data), size);
    const std::string history = MessageHistory::HistoryFromFileBytes(file);
    for (size_t i = 0; i < history.size(); ++i) {
        if (history[i] == '\n') Check(i > 0 && history[i - 1] == '\r');
    }
    Check(history.empty() == file.empty());
    Check(history.empty() || history.compare(history.size() - 2, 2, "\r\n") == 0);
    Check(Lines(history) == Lines(file));
    Check(MessageHistory::HistoryFromFileBytes(history) == history);
    return 0;
}
