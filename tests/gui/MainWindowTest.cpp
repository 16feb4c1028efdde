// The main window from start-up through the refresh tick: fields, account values, counters, status,
// connected state, messages.
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <cstring>

#include "core/Cp1251.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/support/SessionProbe.h"
#include "ui/DataExchange.h"

namespace {

const QString kNoAnswer = QString::fromUtf8("Сервер не отвечает, проверьте настройки сети");
const QString kRejected = QString::fromUtf8("Неверный логин или пароль...");

QStringList Rows(QTreeWidget* list) {
    QStringList rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        rows << list->topLevelItem(i)->text(0) + u'|' + list->topLevelItem(i)->text(1);
    return rows;
}

// The whole text is readable in its field.
bool Fits(const QLabel* label) {
    return label->fontMetrics().horizontalAdvance(label->text()) <= label->width();
}

TrafficCounter Counter(uint64_t id, const char* name, int64_t bytes) {
    TrafficCounter c;
    c.idLow = static_cast<uint32_t>(id);
    c.idHigh = static_cast<uint32_t>(id >> 32);
    std::memcpy(c.name, name, std::min(std::strlen(name), sizeof c.name));
    c.byteCount = bytes;
    return c;
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QApplication::setQuitOnLastWindowClosed(false);
        InstallBoxRecorder();
    }
    void init() {
        work = std::make_unique<TempDir>();
        RecordedBoxes().clear();
        SetTrayAvailable(true);
    }
    void cleanup() { work.reset(); }

    void firstStartWithoutIni() {
        FakeClock clock;
        Brin2Dlg dlg(&clock, kTestSerial);
        QVERIFY(dlg.OnInitDialog());
        QCOMPARE(dlg.windowTitle(), QString::fromUtf8("Сорвель-А ver 1.2"));
        QVERIFY(dlg.loginEdit->text().isEmpty());
        QVERIFY(dlg.passwordEdit->text().isEmpty());
        QCOMPARE(dlg.loginEdit->maxLength(), 16);
        QCOMPARE(dlg.passwordEdit->maxLength(), 8);
        QCOMPARE(dlg.passwordEdit->echoMode(), QLineEdit::Password);
        QCOMPARE(dlg.balanceLabel->text(), QStringLiteral("0.0"));
        QCOMPARE(dlg.remainingLabel->text(), QStringLiteral("0.0"));
        QVERIFY(dlg.statusLabel->text().isEmpty());
        QCOMPARE(LampColour(dlg), QColor(255, 0, 0));
        QCOMPARE(dlg.tray.IconId(), 130);
        QCOMPARE(dlg.tray.Icon()->toolTip(), QStringLiteral("Internet access"));
        QCOMPARE(dlg.tray.MenuId(), 131);
        QCOMPARE(dlg.counterList->headerItem()->text(0), QStringLiteral("Traffic"));
        QCOMPARE(dlg.counterList->headerItem()->text(1), QStringLiteral("Total (M)"));
        // Both columns are in view side by side, each under a heading that reads whole.
        dlg.show();
        QTreeWidget* list = dlg.counterList;
        QVERIFY(list->columnWidth(0) + list->columnWidth(1) <= list->viewport()->width());
        for (int column : {0, 1})
            QVERIFY(list->header()->fontMetrics().horizontalAdvance(
                        list->headerItem()->text(column)) < list->columnWidth(column));
        // A window of one size, everything in it whole and nothing over anything else.
        QCOMPARE(dlg.minimumSize(), dlg.maximumSize());
        QVERIFY2(LayoutFaults(&dlg).isEmpty(), qPrintable(LayoutFaults(&dlg).join(u'\n')));
        QVERIFY(dlg.loginEdit->isEnabled() && dlg.passwordEdit->isEnabled());
        QStringList tabOrder;
        QWidget* w = dlg.loginEdit;
        do {
            tabOrder << w->objectName();
            w = w->nextInFocusChain();
        } while (w != dlg.loginEdit && tabOrder.size() < 40);
        tabOrder.removeAll(QString());  // the labels and frames take no focus
        QStringList focusable;
        for (const QString& name : tabOrder)
            if (dlg.findChild<QWidget*>(name)->focusPolicy() & Qt::TabFocus) focusable << name;
        QCOMPARE(
            focusable,
            QStringList({QStringLiteral("1000"), QStringLiteral("1001"), QStringLiteral("1003"),
                         QStringLiteral("1004"), QStringLiteral("1011"), QStringLiteral("1015"),
                         QStringLiteral("1017"), QStringLiteral("1024"), QStringLiteral("1025")}));
        QVERIFY(dlg.refreshTimer.isActive());
        QCOMPARE(dlg.refreshTimer.interval(), 1000);
        QVERIFY(dlg.pager != nullptr);
        QCOMPARE(SessionProbe::Engine(dlg.session).state, SessionState::Idle);  // AutoConnect is off by default
        QCOMPARE(ReadFile("brin.ini").substr(0, 16), std::string("SavePassword = 1"));
        QCOMPARE(StoredValue("Port"), std::string("5001"));
        QCOMPARE(StoredValue("AutoConnect"), std::string("0"));
    }

    void autoConnectStartsEvenWithEmptyFields() {
        FakeClock clock;
        LoopbackServer server(clock, "", "");
        IniValues values;
        values.port = server.Port();
        values.login.clear();
        values.password.clear();
        values.autoConnect = true;
        WriteIni(values);
        Brin2Dlg dlg(&clock, kTestSerial);
        const std::string before = ReadFile("brin.ini");  // as the store's construction left it
        dlg.OnInitDialog();
        server.Pump();
        QCOMPARE(server.Handshakes(), 1);
        QCOMPARE(dlg.session.View().state, SessionState::HelloSent);
        QCOMPARE(ReadFile("brin.ini"), before);
    }

    // A hand-edited brin.ini may hold texts longer than the fields: the engine's
    // fields still end in a zero, and taking the fields says what is too long.
    void overlongStoredTextsStayBounded() {
        IniValues values;
        values.login = "abcdefghijklmnopqrst";  // 20 characters
        values.ip = "127.000.000.001xyz";       // 18 characters
        WriteIni(values);
        FakeClock clock;
        Brin2Dlg dlg(&clock, kTestSerial);
        dlg.OnInitDialog();
        QCOMPARE(dlg.loginEdit->text(), QStringLiteral("abcdefghijklmnopqrst"));
        dlg.OnConnect();
        QCOMPARE(RecordedBoxes().size(), size_t(1));
        QCOMPARE(RecordedBoxes()[0].text,
                 QStringLiteral("Please enter no more than 16 characters."));
        QCOMPARE(std::string(SessionProbe::Engine(dlg.session).login), std::string("abcdefghijklmnop"));
        QCOMPARE(std::string(SessionProbe::Engine(dlg.session).serverAddress), std::string("127.000.000.001"));
        QCOMPARE(SessionProbe::Engine(dlg.session).login[16], '\0');
        QCOMPARE(SessionProbe::Engine(dlg.session).serverAddress[15], '\0');
    }

    void balanceFormats() {
        Session s;
        s.Tick();
        QCOMPARE(s.dlg->balanceLabel->text(), QStringLiteral("0.0"));  // 0 is not formatted
        const struct {
            int32_t balance;
            const char* shown;
        } cases[] = {
            {1234567, "1234.567"},       {5, "0.005"}, {-1, "-0.001"}, {-1500, "-1.500"},
            {INT32_MIN, "-2147483.648"}, {0, "0.000"},
        };
        for (const auto& c : cases) {
            SessionProbe::Engine(s.dlg->session).balance = c.balance;
            s.Tick();
            QCOMPARE(s.dlg->balanceLabel->text(), QString::fromUtf8(c.shown));
            QVERIFY(Fits(s.dlg->balanceLabel));
            QCOMPARE(s.dlg->lastBalanceShown, c.balance);
        }
    }

    void counterRows() {
        Session s;
        BrinCore& core = SessionProbe::Engine(s.dlg->session);
        core.counters = {
            Counter(7, "", 1572864),
            Counter(8, "idle", 0),  // no row (the rows' rule and texts are core's)
            Counter(9, "ABCDEFGHIJKLMNOP", 5368709120),
        };
        core.remainingBytes = 5368709120;
        core.countersChanged = 1;
        s.Tick();
        QCOMPARE(core.countersChanged, uint8_t(0));
        QCOMPARE(Rows(s.dlg->counterList),
                 QStringList({QStringLiteral("traffic 7|1.50"),
                              QStringLiteral("ABCDEFGHIJKLMNOP|5120.00")}));
        QCOMPARE(s.dlg->remainingLabel->text(), QStringLiteral("5120.00 (M)"));
        QVERIFY(Fits(s.dlg->remainingLabel));
        for (int i = 0; i < s.dlg->counterList->topLevelItemCount(); ++i) {  // values read whole
            const QString value = s.dlg->counterList->topLevelItem(i)->text(1);
            QVERIFY2(s.dlg->counterList->fontMetrics().horizontalAdvance(value) <
                         s.dlg->counterList->columnWidth(1),
                     qPrintable(value));
        }

        // The next reply: one counter moves, one becomes empty, two more come. The rows say
        // what a list built anew would, and the row before the change stays the same row.
        s.dlg->counterList->topLevelItem(0)->setData(0, Qt::UserRole, 42);  // marks the row
        core.counters[2].byteCount = 0;
        core.counters[0].byteCount = 2 * 1048576;
        core.counters.push_back(Counter(10, "new", 1048576));
        core.counters.push_back(Counter(11, "", 3 * 1048576));
        core.countersChanged = 1;
        s.Tick();
        QCOMPARE(Rows(s.dlg->counterList),
                 QStringList({QStringLiteral("traffic 7|2.00"), QStringLiteral("new|1.00"),
                              QStringLiteral("traffic 11|3.00")}));
        QCOMPARE(s.dlg->counterList->topLevelItem(0)->data(0, Qt::UserRole).toInt(), 42);
        core.counters.pop_back();
        core.countersChanged = 1;
        s.Tick();
        QCOMPARE(Rows(s.dlg->counterList),
                 QStringList({QStringLiteral("traffic 7|2.00"), QStringLiteral("new|1.00")}));

        // Rebuilt only when flagged; remaining 0 shows as 0.00 (M).
        core.counters.clear();
        core.remainingBytes = 0;
        s.Tick();
        QCOMPARE(s.dlg->counterList->topLevelItemCount(), 2);
        core.countersChanged = 1;
        s.Tick();
        QCOMPARE(s.dlg->counterList->topLevelItemCount(), 0);
        QCOMPARE(s.dlg->remainingLabel->text(), QStringLiteral("0.00 (M)"));
    }

    // Balance, counters and a message travel from the server through a real poll reply.
    void pollReplyReachesTheWindow() {
        Session s;
        s.Login();
        Account& account = s.server.Subscriber();
        account.balance = -1500;
        account.remainingBytes = 3 * 1048576;
        account.counters = {
            {3, "\xcc\xe5\xf1\xf2\xed\xfb\xe9", 1572864}};  // "Местный" in Windows-1251
        account.messages.push_back({true, 1236431109, "Hello"});
        s.Poll();
        QCOMPARE(s.dlg->balanceLabel->text(), QStringLiteral("-1.500"));
        QCOMPARE(s.dlg->remainingLabel->text(), QStringLiteral("3.00 (M)"));
        QCOMPARE(Rows(s.dlg->counterList), QStringList({QString::fromUtf8("Местный|1.50")}));
        QCOMPARE(RecordedBoxes().size(), size_t(1));
    }

    void statusTexts() {
        IniValues values;
        values.keepConn = false;
        Session s(values, "mallory");  // the server's account is not the one brin.ini names

        s.dlg->OnConnect();
        s.server.LoseDatagrams();  // the HELLO is lost: NoAnswer after the HELLO wait
        SessionProbe::Engine(s.dlg->session).countersChanged = 1;  // left for a later tick
        s.dlg->loginEdit->setText(QStringLiteral("typed"));
        s.clock.Advance(4);
        s.Tick();
        QCOMPARE(s.dlg->statusLabel->text(), kNoAnswer);
        QCOMPARE(s.dlg->loginEdit->text(), QStringLiteral("alice"));  // the fill replaces typing
        QCOMPARE(SessionProbe::Engine(s.dlg->session).countersChanged, uint8_t(1));

        s.dlg->OnConnect();  // the server echoes its own login, "mallory": Rejected
        s.server.Pump();
        s.Tick();
        QCOMPARE(s.dlg->statusLabel->text(), kRejected);
        QCOMPARE(SessionProbe::Engine(s.dlg->session).countersChanged, uint8_t(1));
        s.Tick();
        QCOMPARE(SessionProbe::Engine(s.dlg->session).countersChanged, uint8_t(0));  // the next NoEvent tick takes it
    }

    void lostSessionLeavesStatusLine() {
        Session s;
        s.Login();
        QVERIFY(s.dlg->statusLabel->text().isEmpty());
        s.Tick();  // POLL 1
        // From here on the server is not pumped: no POLL is answered.
        for (int missed = 1; missed <= 3; ++missed) {
            s.clock.Advance(30);
            s.Tick();                  // time-out
            if (missed < 3) s.Tick();  // the next POLL
        }
        QVERIFY(!s.dlg->session.View().connected);
        QVERIFY(s.dlg->statusLabel->text().isEmpty());
        QCOMPARE(s.dlg->tray.IconId(), 130);
        QCOMPARE(s.dlg->tray.MenuId(), 131);
        QVERIFY(!s.dlg->loginEdit->isReadOnly());
        QVERIFY(!s.dlg->passwordEdit->isReadOnly());
        QCOMPARE(LampColour(*s.dlg), QColor(255, 0, 0));
    }

    void connectedSwitch() {
        Session s;
        s.dlg->statusText = "old";
        QVERIFY(s.dlg->isVisible());
        s.Login();
        QCOMPARE(s.dlg->tray.IconId(), 129);
        QCOMPARE(s.dlg->tray.MenuId(), 132);
        QCOMPARE(Captions(s.dlg->tray.Menu()),
                 QStringList({QString::fromUtf8("Выход"), QString::fromUtf8("Окно программы"),
                              QString::fromUtf8("Отключить"), QString::fromUtf8("История баланса")}));
        QVERIFY(s.dlg->loginEdit->isReadOnly());
        QVERIFY(s.dlg->passwordEdit->isReadOnly());
        QCOMPARE(s.dlg->config.connectedShown, 1);
        QVERIFY(s.dlg->statusLabel->text().isEmpty());
        QVERIFY(!s.dlg->isVisible());  // hidden to the tray at the first connection
        QCOMPARE(s.dlg->hideOnFirstConnect, 0);
        QCOMPARE(LampColour(*s.dlg), QColor(0, 255, 0));

        s.dlg->OnShowWindow();
        s.dlg->OnDisconnect();
        QCOMPARE(s.server.Logouts(), 0);  // sent; the server reads it below
        s.server.Pump();
        QCOMPARE(s.server.Logouts(), 1);
        QCOMPARE(s.dlg->tray.IconId(), 129);  // shown state follows at the next tick
        s.Tick();
        QCOMPARE(s.dlg->tray.IconId(), 130);
        QCOMPARE(s.dlg->tray.MenuId(), 131);
        QVERIFY(!s.dlg->loginEdit->isReadOnly());
        QCOMPARE(s.dlg->config.connectedShown, 0);
        QCOMPARE(LampColour(*s.dlg), QColor(255, 0, 0));

        s.Login();  // a later connection does not hide the window again
        QCOMPARE(s.dlg->tray.IconId(), 129);
        QVERIFY(s.dlg->isVisible());
    }

    void keepConnWaitsMoreThan30Seconds() {
        IniValues values;
        values.keepConn = true;
        Session s(values);  // constructed at T
        s.clock.Advance(30);
        s.Tick();
        s.server.Pump(50);
        QCOMPARE(s.server.Handshakes(), 0);
        s.clock.Advance(1);
        s.Tick();
        s.server.Pump();
        QCOMPARE(s.server.Handshakes(), 1);
        QCOMPARE(SessionProbe::LastReconnectTime(s.dlg->session), s.clock.Now());
    }

    void messageWithWindowClosedShowsBox() {
        Session s;
        s.Login();
        s.server.Subscriber().messages.push_back({true, 1236431109, "Line one\r\nLine two"});
        s.Poll();
        QCOMPARE(RecordedBoxes().size(), size_t(1));
        const RecordedBox& box = RecordedBoxes()[0];
        const QString time = QString::fromStdString(MessageHistory::FormatMessageTime(1236431109));
        QCOMPARE(box.caption, QStringLiteral("Internet access: Message"));
        QCOMPARE(box.icon, BoxIcon::None);
        QVERIFY(!box.hasOwner);
        QCOMPARE(box.text, time + QStringLiteral("\nLine one\nLine two\n"));
        QCOMPARE(ReadFile("history.ini"), time.toStdString() + "\r\nLine one\r\nLine two\r\n\r\n");
        QCOMPARE(SessionProbe::Engine(s.dlg->session).messagePending, uint8_t(0));
    }

    // The tick keeps running inside the message window's modal loop, and a new
    // message lands in the open window instead of a box.
    void messageReachesOpenWindow() {
        Session s;
        for (int i = 0; i < 40; ++i) s.dlg->pager->AddMessage(1236431109 + i, "old entry");
        RecordedBoxes().clear();
        s.Login();
        s.server.Subscriber().messages.push_back({true, 1236431200, "fresh news"});
        bool wasOpen = false;
        bool scrolledToEnd = false;
        QString shown;
        bool openedAtEnd = false;
        QTimer::singleShot(0, [&] {
            wasOpen = s.dlg->pager->isOpen == 1;
            QPlainTextEdit* edit = s.dlg->pager->historyEdit;
            openedAtEnd =
                !edit->textCursor().hasSelection() && edit->verticalScrollBar()->maximum() > 0 &&
                edit->verticalScrollBar()->value() == edit->verticalScrollBar()->maximum();
            s.Poll();
            Pager* pager = s.dlg->pager.get();
            shown = pager->historyEdit->toPlainText();
            QScrollBar* bar = pager->historyEdit->verticalScrollBar();
            scrolledToEnd = bar->maximum() > 0 && bar->value() == bar->maximum();
            pager->reject();
        });
        s.dlg->OnMessages();
        QVERIFY(wasOpen);
        QVERIFY(openedAtEnd);  // nothing selected, the newest entries in view
        QCOMPARE(s.dlg->pager->isOpen, 0);
        QVERIFY(RecordedBoxes().empty());
        QVERIFY(shown.endsWith(QStringLiteral("fresh news\n\n")));
        QVERIFY(scrolledToEnd);
        QVERIFY(ReadFile("history.ini").find("fresh news\r\n\r\n") != std::string::npos);
    }

private:
    std::unique_ptr<TempDir> work;
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
