// The provider's messages as one history text, kept in history.ini (no Qt: the
// message window Pager inherits it and shows what ShowNewEntry is given).
#pragma once

#include <cstdint>
#include <string>

class MessageHistory {
public:
    MessageHistory();  // history empty, isOpen 0, then LoadHistory()
    virtual ~MessageHistory();

    int LoadHistory();  // 0, or -1 when history.ini cannot be opened
    int SaveHistory();  // 0, or -1 when it could not be written completely

    // Appends "time\r\ntext\r\n\r\n", saves, then hands the entry (without the
    // empty line) to ShowNewEntry. Returns 0.
    int AddMessage(int32_t time, const char* text);

    // Local time as "%S:%M:%H %d/%m/%Y"; empty when it cannot be converted.
    static std::string FormatMessageTime(int32_t time);

    // The history text that the bytes of history.ini read into: every line, ended
    // by CR LF or a lone LF (or by the end of the file), followed by CR LF.
    static std::string HistoryFromFileBytes(const std::string& bytes);

    std::string history;  // Windows-1251, CR LF line ends
    int32_t isOpen = 0;

protected:
    // The window: update the open view (isOpen) or show a message box.
    virtual void ShowNewEntry(const std::string& entry) { (void)entry; }
};
