// The history text: history.ini read at start, entries built and saved before they are shown.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/TestSeams.h"
#include "messages/MessageHistory.h"
#include "tests/support/TempDir.h"

namespace {

constexpr int32_t kTime = 1236431109;

// Records each entry shown, with history.ini as it was at that moment.
class RecordingHistory : public MessageHistory {
public:
    std::vector<std::string> shown;
    std::vector<std::string> fileWhenShown;

protected:
    void ShowNewEntry(const std::string& entry) override {
        shown.push_back(entry);
        fileWhenShown.push_back(ReadFile("history.ini"));
    }
};

struct LoadCase {
    const char* what;
    std::string file;
    std::string history;
};

const std::vector<LoadCase> kLoadCases = {
    {"empty file", "", ""},
    {"CR LF", "one\r\ntwo\r\n\r\n", "one\r\ntwo\r\n\r\n"},
    {"LF only", "one\ntwo\n\n", "one\r\ntwo\r\n\r\n"},
    {"last line without a line end", "one\r\ntwo", "one\r\ntwo\r\n"},
    {"a lone CR is kept", "a\rb\n\r\r\n", "a\rb\r\n\r\r\n"},
    {"a CR at the end of the file is kept", "a\r", "a\r\r\n"},
    {"a line longer than 64 KiB", std::string(70000, 'x') + "\ny",
     std::string(70000, 'x') + "\r\ny\r\n"},
};

TEST(MessageHistoryTest, LoadsEveryLineWithCrLf) {
    for (const LoadCase& c : kLoadCases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(MessageHistory::HistoryFromFileBytes(c.file), c.history);
        TempDir dir;
        WriteFile("history.ini", c.file);
        MessageHistory history;
        EXPECT_EQ(history.history, c.history);
    }
}

TEST(MessageHistoryTest, FirstEntryIsSavedBeforeItIsShown) {
    TempDir dir;
    RecordingHistory history;
    EXPECT_EQ(history.history, "");
    EXPECT_EQ(history.LoadHistory(), -1);  // there is no file yet
    EXPECT_EQ(history.AddMessage(kTime, "Hello"), 0);

    const std::string entry = MessageHistory::FormatMessageTime(kTime) + "\r\nHello\r\n";
    EXPECT_EQ(ReadFile("history.ini"), entry + "\r\n");
    EXPECT_EQ(history.shown, std::vector<std::string>{entry});
    EXPECT_EQ(history.fileWhenShown, std::vector<std::string>{entry + "\r\n"});
}

TEST(MessageHistoryTest, LfOnlyFileIsSavedWithCrLf) {
    TempDir dir;
    WriteFile("history.ini", "old\nentry\n\n");
    MessageHistory history;
    history.AddMessage(kTime, "new");
    EXPECT_EQ(ReadFile("history.ini"), "old\r\nentry\r\n\r\n" +
                                            MessageHistory::FormatMessageTime(kTime) +
                                            "\r\nnew\r\n\r\n");
}

// A message's own line ends are stored as they are; only a lone LF reads back as CR LF.
TEST(MessageHistoryTest, MessageWithLineEnds) {
    TempDir dir;
    const std::string time = MessageHistory::FormatMessageTime(kTime);
    {
        MessageHistory history;
        history.AddMessage(kTime, "one\r\ntwo\nthree");
        EXPECT_EQ(ReadFile("history.ini"), time + "\r\none\r\ntwo\nthree\r\n\r\n");
    }
    MessageHistory reloaded;
    EXPECT_EQ(reloaded.history, time + "\r\none\r\ntwo\r\nthree\r\n\r\n");
}

// A save that breaks off leaves the old file whole; the entry stays in memory for the next save.
TEST(MessageHistoryTest, FailedSaveKeepsOldFile) {
    TempDir dir;
    WriteFile("history.ini", "old\r\n");
    RecordingHistory history;
    InjectAtomicWriteFailure(3);
    history.AddMessage(kTime, "first");
    EXPECT_EQ(ReadFile("history.ini"), "old\r\n");
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"history.ini"});
    EXPECT_EQ(history.shown.size(), 1u);  // shown all the same

    InjectAtomicWriteFailure(0);
    EXPECT_EQ(history.SaveHistory(), -1);
    EXPECT_EQ(ReadFile("history.ini"), "old\r\n");

    history.AddMessage(kTime, "second");
    const std::string time = MessageHistory::FormatMessageTime(kTime);
    EXPECT_EQ(ReadFile("history.ini"),
              "old\r\n" + time + "\r\nfirst\r\n\r\n" + time + "\r\nsecond\r\n\r\n");
}

}  // namespace

namespace {

// The tick's retry of a failed save: ten seconds after the tick that found the failure, then
// ten seconds after each try that failed again; nothing while saves work; a clock set back
// waits the whole time again from its new reading.
TEST(MessageHistoryTest, TheTickRetriesAFailedSaveEveryTenSeconds) {
    TempDir dir;
    RecordingHistory history;
    constexpr int32_t t = 1700000000;
    const int32_t wait = MessageHistory::kSaveRetrySeconds;
    ASSERT_EQ(wait, 10);
    EXPECT_EQ(history.RetrySaveWhenDue(t), 0) << "nothing waiting";
    InjectAtomicWriteFailure(0);
    history.AddMessage(kTime, "first");
    ASSERT_TRUE(history.SaveFailing());
    EXPECT_EQ(history.NextRetry(t), t + wait);  // the wait starts at this reading
    for (int32_t second = t; second < t + wait; ++second)
        EXPECT_EQ(history.RetrySaveWhenDue(second), -1) << second - t;
    EXPECT_TRUE(history.SaveFailing()) << "no try before the ten seconds";

    InjectAtomicWriteFailure(0);  // the try at t + 10 fails as well
    EXPECT_EQ(history.RetrySaveWhenDue(t + wait), -1);
    EXPECT_EQ(history.NextRetry(t + wait), t + 2 * wait);
    EXPECT_EQ(history.NextRetry(t + 3), t + 3 + wait) << "a clock set back waits again";
    EXPECT_EQ(history.RetrySaveWhenDue(t + 3 + wait), 0);
    EXPECT_FALSE(history.SaveFailing());
    EXPECT_EQ(ReadFile("history.ini"), MessageHistory::FormatMessageTime(kTime) + "\r\nfirst\r\n\r\n");

    // A later failure waits from the tick that finds it, not from the old one.
    InjectAtomicWriteFailure(0);
    history.AddMessage(kTime + 1, "second");
    EXPECT_EQ(history.NextRetry(t + 100), t + 100 + wait);
}

// Writing that fails for a while: every entry reaches the file once writing works again, at
// the next message or at a retry, and none twice.
TEST(MessageHistoryTest, EntriesKeptWhileSavesFailAreWrittenOnceAfter) {
    TempDir dir;
    WriteFile("history.ini", "old\r\n");
    RecordingHistory history;
    const std::string time = MessageHistory::FormatMessageTime(kTime);
    InjectAtomicWriteFailure(0);
    history.AddMessage(kTime, "first");
    EXPECT_TRUE(history.SaveFailing());
    EXPECT_EQ(history.RetrySave(), 0);
    EXPECT_FALSE(history.SaveFailing());
    EXPECT_EQ(ReadFile("history.ini"), "old\r\n" + time + "\r\nfirst\r\n\r\n");
    EXPECT_EQ(history.RetrySave(), 0) << "nothing waiting";

    InjectAtomicWriteFailure(5);
    history.AddMessage(kTime + 1, "second");
    history.AddMessage(kTime + 2, "third");  // writes both
    EXPECT_FALSE(history.SaveFailing());
    const std::string file = ReadFile("history.ini");
    EXPECT_EQ(file, "old\r\n" + time + "\r\nfirst\r\n\r\n" +
                        MessageHistory::FormatMessageTime(kTime + 1) + "\r\nsecond\r\n\r\n" +
                        MessageHistory::FormatMessageTime(kTime + 2) + "\r\nthird\r\n\r\n");
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"history.ini"});
}

// The message just added, again with the same time and text, is a repeated datagram.
TEST(MessageHistoryTest, TheSameMessageAgainIsNotAddedTwice) {
    struct Case {
        const char* what;
        std::vector<std::pair<int32_t, const char*>> messages;
        std::vector<int> results;
    } cases[] = {
        {"repeated", {{kTime, "a"}, {kTime, "a"}}, {0, 1}},
        {"same text, new time", {{kTime, "a"}, {kTime + 30, "a"}}, {0, 0}},
        {"same time, new text", {{kTime, "a"}, {kTime, "b"}}, {0, 0}},
        {"not the last one", {{kTime, "a"}, {kTime, "b"}, {kTime, "a"}}, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        RecordingHistory history;
        std::vector<int> results;
        for (const auto& m : c.messages) results.push_back(history.AddMessage(m.first, m.second));
        EXPECT_EQ(results, c.results);
        size_t added = 0;
        for (int r : results) added += r == 0;
        EXPECT_EQ(history.shown.size(), added);
        EXPECT_EQ(MessageHistory::HistoryFromFileBytes(ReadFile("history.ini")), history.history);
        EXPECT_EQ(history.history.size(), added * (MessageHistory::FormatMessageTime(kTime).size() + 7));
    }
}

}  // namespace
