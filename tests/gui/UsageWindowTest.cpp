// «История баланса» and the low-balance notification: the tray item opens the window over
// usage.csv, its field is stored as LowBalance, each poll reply adds its line and a crossing of
// LowBalance notifies once.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "tests/gui/GuiTestSupport.h"
#include "ui/DesktopNotice.h"

namespace {

struct Notice {
    QString title;
    QString text;
};
std::vector<Notice>& Notices() {
    static std::vector<Notice> notices;
    return notices;
}
void RecordNotice(TrayIcon*, const QString& title, const QString& text) {
    Notices().push_back({title, text});
}

// A reply carrying `balance` and the remaining traffic, 31 s after the last.
void Reply(Session& s, int32_t balance, int64_t remaining = 2147483648) {
    s.server.Subscriber().balance = balance;
    s.server.Subscriber().remainingBytes = remaining;
    s.clock.Advance(31);
    const int polls = s.server.PollReplies();
    for (int i = 0; i < 3 && s.server.PollReplies() == polls; ++i) {
        s.Tick();
        s.server.Pump(20);
    }
    s.Tick();  // takes the reply
}

std::string Line(int32_t time, int32_t balance, int64_t remaining) {
    UsageRecord r;
    r.time = time;
    r.balance = balance;
    r.remainingBytes = remaining;
    return UsageLine(r) + "\n";
}

}  // namespace

class UsageWindowTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        SetTrayAvailable(true);
        InstallBoxRecorder();
        SetNoticeHandler(RecordNotice);
        Notices().clear();
    }
    void cleanup() { SetNoticeHandler(nullptr); }

    void trayItemOpensTheHistoryAndTheFieldIsLowBalance() {
        TempDir dir;
        // Eight days of 150.000 falling 1.000 a day: the forecast says the day it runs out.
        const int32_t now = FakeClock().Now();  // where a Session's clock starts
        std::string csv = "time,balance_milli,remaining_bytes\n";
        for (int d = 8; d >= 0; --d)
            csv += Line(now - d * 86400, 150000 - (8 - d) * 1000, 1073741824 - (8 - d) * 1048576);
        csv += "not a line\n";
        {
            QFile f(QStringLiteral("usage.csv"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(csv.data(), static_cast<qint64>(csv.size()));
        }
        Session fresh;  // reads usage.csv at its start
        QCOMPARE(fresh.clock.Now(), now);
        QCOMPARE(Captions(fresh.dlg->tray.Menu()).last(), QString::fromUtf8("История баланса"));
        fresh.dlg->tray.Menu()->actions().last()->trigger();
        UsageWindow* w = fresh.dlg->usageWindow;
        QVERIFY(w != nullptr && w->isVisible());
        QCOMPARE(w->windowTitle(), QString::fromUtf8("История баланса"));
        QCOMPARE(w->chart->Points().size(), size_t{9});
        const Forecast f = fresh.dlg->usage.CurrentForecast(fresh.clock.Now());
        QCOMPARE(f.kind, Forecast::Lasts);
        QCOMPARE(f.perDay, int64_t{1000});
        const QString until =
            QDate(f.until.year, f.until.month, f.until.day).toString(QStringLiteral("dd.MM.yyyy"));
        QCOMPARE(w->forecastLabel->text(),
                 QString::fromUtf8("Денег хватит до %1 (расход 1.000 в день)").arg(until));
        QVERIFY(w->thresholdEdit->text().isEmpty());  // no LowBalance yet

        // A bad sum says so and stores nothing; a good one is stored, and the other keys stay.
        w->thresholdEdit->setText(QStringLiteral("lots"));
        w->okButton->click();
        QVERIFY(w->isVisible());
        QVERIFY(!w->thresholdError->text().isEmpty());
        QCOMPARE(StoredValue("LowBalance"), std::string());
        w->thresholdEdit->setText(QStringLiteral("99,5"));
        w->okButton->click();
        QVERIFY(!w->isVisible());
        QCOMPARE(StoredValue("LowBalance"), std::string("99.500"));
        QCOMPARE(StoredValue("Login"), std::string("alice"));
        QVERIFY(fresh.dlg->usage.Alarm().Enabled());
        QCOMPARE(fresh.dlg->usage.Alarm().Threshold(), 99500);

        // Opened again it shows the stored value; emptied and taken, no warning any more.
        fresh.dlg->OnCommand(kCmdHistoryDisconnectedMenu);
        QCOMPARE(w->thresholdEdit->text(), QStringLiteral("99.500"));
        w->thresholdEdit->clear();
        w->okButton->click();
        QVERIFY(!fresh.dlg->usage.Alarm().Enabled());
        QCOMPARE(StoredValue("LowBalance"), std::string());
        QVERIFY(RecordedBoxes().empty());
    }

    void crossingLowBalanceNotifiesOnceWithTheForecast() {
        TempDir dir;
        {
            SettingsStore store(kTestSerial);
            store.StoreLowBalance("100");
            store.SaveFile();
        }
        Session fresh;  // LowBalance read at the start
        fresh.Login();
        fresh.dlg->OnCommand(kCmdHistoryConnectedMenu);  // open while the replies come
        Reply(fresh, 120000);
        Reply(fresh, 100000);  // at the threshold: not below it
        QVERIFY(Notices().empty());
        Reply(fresh, 99000);
        QCOMPARE(Notices().size(), size_t{1});
        QCOMPARE(Notices()[0].title, QString::fromUtf8("Мало денег на счету"));
        QVERIFY2(
            Notices()[0].text.startsWith(QString::fromUtf8("На счету 99.000, меньше 100.000. ")),
            qPrintable(Notices()[0].text));
        QVERIFY(Notices()[0].text.endsWith(
            QString::fromUtf8("Для прогноза нужна история хотя бы за сутки")));
        Reply(fresh, 98000);
        Reply(fresh, 98000);
        QCOMPARE(Notices().size(), size_t{1});  // still below: no second one
        Reply(fresh, 150000);                   // a top-up, then the next crossing
        Reply(fresh, 90000);
        QCOMPARE(Notices().size(), size_t{2});

        // Every reply that changed something has its line, and the open window follows them.
        const std::string csv = ReadFile("usage.csv");
        QCOMPARE(std::count(csv.begin(), csv.end(), '\n'), 7L);  // header and 6 changes
        QCOMPARE(fresh.dlg->usageWindow->chart->Points().size(), size_t{6});
        QCOMPARE(fresh.dlg->usageWindow->chart->Points().back().balance, 90000);
    }
};

QTEST_MAIN(UsageWindowTest)
#include "UsageWindowTest.moc"
