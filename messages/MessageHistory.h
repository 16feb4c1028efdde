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
    // 0, or -1 when it could not be written completely; the file then keeps its old
    // contents, `history` keeps every entry and SaveFailing() is true until a save works.
    int SaveHistory();
    bool SaveFailing() const { return saveFailing_; }
    // Saves again when the last save failed (the program's exit calls it): 0 when
    // history.ini holds the whole history, -1 while writing still fails.
    int RetrySave() { return saveFailing_ ? SaveHistory() : 0; }

    // While saves fail, the window's and brin-cli's tick saves again every kSaveRetrySeconds,
    // counted from the first of these calls that finds the failure, and from each try after.
    static constexpr int32_t kSaveRetrySeconds = 10;
    // The tick's retry at second `now`: a save when one is due. 0 when history.ini holds the
    // whole history, -1 while writing still fails.
    int RetrySaveWhenDue(int32_t now);
    // The second of the next retry, for a front end that sleeps between ticks; meaningful
    // while SaveFailing().
    int32_t NextRetry(int32_t now);

    // Appends "time\r\ntext\r\n\r\n", saves, then hands the entry (without the
    // empty line) to ShowNewEntry. Returns 0. The message just added once more, with
    // the same time and text, is a repeated datagram: nothing is added or shown, and
    // the result is 1.
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
    // SaveFailing() has just changed: writing started to fail, or works again.
    virtual void SaveFailingChanged() {}

private:
    bool saveFailing_ = false;
    bool retryWaiting_ = false;  // retryFrom_ holds the start of the wait for the next retry
    int32_t retryFrom_ = 0;
    bool added_ = false;  // a message was added in this run: the last one's time and text
    int32_t lastTime_ = 0;
    std::string lastText_;
};
