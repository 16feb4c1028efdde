// The window when history.ini or brin.ini cannot be written: one box says so, the old files stay,
// and the messages kept in memory reach history.ini once writing works again.
#include <QTimer>
#include <QtTest>

#include "core/TestSeams.h"
#include "tests/gui/GuiTestSupport.h"
#include "ui/Brin2Dlg.h"
#include "ui/BrinConfig.h"
#include "ui/Pager.h"

class DiskFaultsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QApplication::setQuitOnLastWindowClosed(false);
        InstallBoxRecorder();
    }
    void init() {
        work = std::make_unique<TempDir>();
        RecordedBoxes().clear();
    }
    void cleanup() {
        InjectAtomicWriteFailure(-1);
        work.reset();
    }

    void historyFailureIsShownOnceAndRetriedUntilWritten() {
        Pager pager;
        InjectAtomicWriteFailure(0);
        pager.AddMessage(1236431109, "first");
        QCOMPARE(RecordedBoxes().size(), size_t(2));  // the warning, then the message
        QCOMPARE(RecordedBoxes()[0].icon, BoxIcon::Warning);
        QVERIFY(RecordedBoxes()[0].text.contains(QStringLiteral("history.ini")));
        QCOMPARE(RecordedBoxes()[1].caption, QStringLiteral("Internet access: Message"));
        QVERIFY(!QFile::exists(QStringLiteral("history.ini")));

        const int32_t now = 1700000000;
        QCOMPARE(pager.RetrySaveWhenDue(now), -1);  // the wait for the retry starts
        QCOMPARE(pager.RetrySaveWhenDue(now + MessageHistory::kSaveRetrySeconds), 0);
        QVERIFY(!pager.SaveFailing());
        const std::string time = MessageHistory::FormatMessageTime(1236431109);
        QCOMPARE(ReadFile("history.ini"), time + "\r\nfirst\r\n\r\n");

        // A new spell of failures gets its own box; the end of the program tries once more.
        RecordedBoxes().clear();
        {
            Pager again;
            InjectAtomicWriteFailure(0);
            again.AddMessage(1236431110, "second");
            QCOMPARE(RecordedBoxes().size(), size_t(2));
            QCOMPARE(ReadFile("history.ini"), time + "\r\nfirst\r\n\r\n");
        }
        QCOMPARE(ReadFile("history.ini"), time + "\r\nfirst\r\n\r\n" +
                                              MessageHistory::FormatMessageTime(1236431110) +
                                              "\r\nsecond\r\n\r\n");
    }

    // The window's tick is what retries: the history is written ten seconds on.
    void theWindowsTickRetriesTheHistory() {
        Session s;
        s.Tick();
        InjectAtomicWriteFailure(0);
        s.dlg->pager->AddMessage(1236431109, "kept");
        QVERIFY(s.dlg->pager->SaveFailing());
        s.Tick();  // the wait starts
        s.clock.Advance(MessageHistory::kSaveRetrySeconds - 1);
        s.Tick();
        QVERIFY(s.dlg->pager->SaveFailing());
        s.clock.Advance(1);
        s.Tick();
        QVERIFY(!s.dlg->pager->SaveFailing());
        QCOMPARE(ReadFile("history.ini"),
                 MessageHistory::FormatMessageTime(1236431109) + "\r\nkept\r\n\r\n");
    }

    void settingsFailureIsShownAndTheOldFileStays() {
        BrinConfig config(kTestSerial);
        const std::string before = ReadFile("brin.ini");
        RecordedBoxes().clear();
        config.SetValue(SettingsStore::kPort, "6000");
        InjectAtomicWriteFailure(4);
        QCOMPARE(config.SaveFileOrWarn(), -1);
        QCOMPARE(RecordedBoxes().size(), size_t(1));
        QCOMPARE(RecordedBoxes()[0].icon, BoxIcon::Warning);
        QVERIFY(RecordedBoxes()[0].text.contains(QStringLiteral("brin.ini")));
        QCOMPARE(ReadFile("brin.ini"), before);
        QCOMPARE(config.SaveFileOrWarn(), 0);
        QCOMPARE(RecordedBoxes().size(), size_t(1));
    }

    // A damaged brin.ini: one box once the window is up, the file as it was in brin.ini.bak,
    // and nothing at the next start, whose file loses nothing more.
    void damagedSettingsAreKeptAndShownInOneBox() {
        const QByteArray damaged("IP = 127.0.0.1\r\ngarbage\r\nmore garbage\r\n");
        {
            QFile file(QStringLiteral("brin.ini"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(damaged);
        }
        for (int start = 0; start < 2; ++start) {
            FakeClock clock;
            Brin2Dlg dlg(&clock, kTestSerial);
            QVERIFY(dlg.OnInitDialog());
            QTest::qWait(50);
            if (start == 0) {
                QCOMPARE(RecordedBoxes().size(), size_t(1));
                QCOMPARE(RecordedBoxes()[0].icon, BoxIcon::Warning);
                QVERIFY(RecordedBoxes()[0].hasOwner);
                QVERIFY(RecordedBoxes()[0].text.contains(QStringLiteral("(2)")));
                QVERIFY(RecordedBoxes()[0].text.contains(QStringLiteral("brin.ini.bak")));
            } else {
                QCOMPARE(RecordedBoxes().size(), size_t(1));
            }
            QCOMPARE(ReadFile("brin.ini.bak"), damaged.toStdString());
            QCOMPARE(dlg.config.ipText, std::string("127.0.0.1"));
            dlg.OnExit();
        }
    }

private:
    std::unique_ptr<TempDir> work;
};

QTEST_MAIN(DiskFaultsTest)
#include "DiskFaultsTest.moc"
