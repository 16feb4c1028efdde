// Commands, tray menus, window events and the exit path of the main window.
#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <csignal>

#include "core/TestSeams.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/support/SessionProbe.h"
#include "ui/ExitSignals.h"

namespace {

QMessageBox* OpenMessageBox() {
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(window); box != nullptr && box->isVisible())
            return box;
    return nullptr;
}

// Catches what QDesktopServices would open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void Open(const QUrl& url) { urls << url; }
};

}  // namespace

class CommandsTest : public QObject {
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

    void connectWithSavePasswordOff() {
        IniValues values;
        values.savePassword = false;
        Session s(values);
        s.dlg->loginEdit->setText(QStringLiteral("alice"));
        s.dlg->passwordEdit->setText(QStringLiteral("secret"));
        s.dlg->Button(kIdConnect)->click();
        QCOMPARE(StoredPassword(), std::string());  // the scrambled empty password
        QCOMPARE(StoredValue("Login"), std::string("alice"));
        QCOMPARE(StoredValue("Port"), std::to_string(s.server.Port()));
        s.server.Pump();
        s.Tick();
        QVERIFY(s.dlg->session.View().connected);  // the typed password reached the engine
    }

    void connectRepeatedDuringLogin() {
        Session s;
        for (const char* login : {"alice", "bob", "carol"}) {
            s.dlg->loginEdit->setText(QString::fromUtf8(login));
            s.dlg->OnConnect();
            QCOMPARE(StoredValue("Login"), std::string(login));  // rewritten each time
        }
        s.server.Pump();
        QCOMPARE(s.server.Handshakes(), 1);
    }

    void disconnectThenKeepConnRetry() {
        IniValues values;
        values.keepConn = true;
        Session s(values);
        s.Login();
        s.clock.Advance(100);
        s.dlg->Button(kIdDisconnect)->click();  // at T
        s.server.Pump();
        QCOMPARE(s.server.Logouts(), 1);
        s.Tick();
        s.clock.Advance(30);
        s.Tick();
        s.server.Pump(50);
        QCOMPARE(s.server.Handshakes(), 1);
        s.clock.Advance(1);
        s.Tick();
        s.server.Pump();
        QCOMPARE(s.server.Handshakes(), 2);
    }

    // Push buttons and tray items of the same caption go through one handler.
    void trayItemsAndButtonsAgree() {
        Session s;
        QMenu* menu = s.dlg->tray.Menu();
        QCOMPARE(Captions(menu),
                 QStringList({QString::fromUtf8("Выход"), QString::fromUtf8("Окно программы"),
                              QString::fromUtf8("Подключить"), QString::fromUtf8("История баланса")}));
        QCOMPARE(s.dlg->tray.Icon()->contextMenu(), menu);
        menu->actions()[2]->trigger();  // "Подключить"
        s.server.Pump();
        QCOMPARE(s.server.Handshakes(), 1);
        s.Tick();
        QCOMPARE(s.dlg->tray.Icon()->contextMenu(), s.dlg->tray.Menu());
        s.dlg->tray.Menu()->actions()[2]->trigger();  // "Отключить"
        s.server.Pump();
        QCOMPARE(s.server.Logouts(), 1);
        QCOMPARE(SessionProbe::LastReconnectTime(s.dlg->session), s.clock.Now());
    }

    void menuSwappedWhileOpenSurvivesUntilClosed() {
        Session s;
        QPointer<QMenu> open = s.dlg->tray.Menu();
        open->popup(QPoint(10, 10));
        QVERIFY(open->isVisible());
        s.Login();  // the tick swaps 131 for 132
        QCOMPARE(s.dlg->tray.MenuId(), 132);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!open.isNull());
        QSignalSpy finished(s.dlg.get(), &QDialog::finished);
        open->actions()[0]->trigger();  // its "Выход" still works
        QCOMPARE(finished.count(), 1);
        open->hide();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(open.isNull());
    }

    void trayClicks() {
        Session s;
        s.dlg->close();
        QVERIFY(!s.dlg->isVisible());
        s.dlg->tray.OnActivated(QSystemTrayIcon::Trigger);  // single click: nothing
        QVERIFY(!s.dlg->isVisible());
        s.dlg->tray.OnActivated(QSystemTrayIcon::DoubleClick);
        QVERIFY(s.dlg->isVisible());
        QVERIFY(!s.dlg->isMinimized());
        s.dlg->close();
        s.dlg->tray.Menu()->actions()[1]->trigger();  // "Окно программы"
        QVERIFY(s.dlg->isVisible());
    }

    void exitSendsLogoutAndEnds() {
        Session s;
        s.Login();
        s.server.Pump();
        const int result = [&] {
            // DoModal's own loop runs; the tray's "Выход" ends it.
            QTimer::singleShot(0, [&] { s.dlg->tray.Menu()->actions()[0]->trigger(); });
            return s.dlg->DoModal();
        }();
        QCOMPARE(result, int(QDialog::Rejected));
        QCOMPARE(s.dlg->exitRequested, 1);
        s.server.Pump();
        QCOMPARE(s.server.Logouts(), 1);
        QVERIFY(!s.dlg->tray.Icon()->isVisible());
        QVERIFY(!s.dlg->isVisible());
    }

    // "Выход" (here a termination request) while a nested tick waits in a message
    // box: the box closes with the window, so the program really ends.
    void exitEndsNestedMessageBox() {
        Session s;
        s.Login();
        s.server.Subscriber().messages.push_back({true, 1236431109, "news"});
        SetMessageBoxHandler(nullptr);  // a real, modal box
        bool boxWasOpen = false;
        bool rescued = false;
        QTimer::singleShot(0, s.dlg.get(), [&] { s.Poll(); });  // its tick opens the box
        QTimer::singleShot(200, s.dlg.get(), [&] {
            boxWasOpen = OpenMessageBox() != nullptr;
            s.dlg->OnExit();
        });
        QTimer::singleShot(5000, s.dlg.get(), [&] {  // only if the exit path left the box open
            rescued = true;
            if (QMessageBox* box = OpenMessageBox()) box->reject();
        });
        s.dlg->DoModal();
        InstallBoxRecorder();
        QVERIFY(boxWasOpen);
        QVERIFY(!rescued);
        s.server.Pump();
        QCOMPARE(s.server.Logouts(), 1);
    }

    // After "Выход" nothing goes out but its LOGOUT, whatever loop was open when it
    // came and however KeepConn stands: the command or tick that opened the loop
    // resumes once it closes and must not connect again.
    void exitStaysAnExit_data() {
        QTest::addColumn<QString>("open");
        QTest::addColumn<bool>("keepConn");
        for (const char* open : {"message box", "limit message", "settings dialog"})
            for (bool keepConn : {false, true})
                QTest::addRow("%s, KeepConn %s", open, keepConn ? "on" : "off")
                    << QString::fromLatin1(open) << keepConn;
    }
    void exitStaysAnExit() {
        QFETCH(QString, open);
        QFETCH(bool, keepConn);
        IniValues values;
        values.keepConn = keepConn;
        // A hand-edited Login longer than the field's 16: Connect shows the limit message.
        if (open == QLatin1String("limit message")) values.login = "abcdefghijklmnopqrst";
        Session s(values, open == QLatin1String("limit message") ? "abcdefghijklmnop" : "alice");
        s.Login();
        QVERIFY(s.dlg->session.View().connected);
        s.server.Pump();
        s.clock.Advance(31);  // an automatic attempt would be due at once when idle

        SetMessageBoxHandler(nullptr);  // real, modal boxes
        if (open == QLatin1String("message box")) {
            s.server.Subscriber().messages.push_back({true, 1236431109, "news"});
            QTimer::singleShot(0, s.dlg.get(), [&] { s.Poll(); });  // its tick opens the box
        } else if (open == QLatin1String("limit message")) {
            QTimer::singleShot(0, s.dlg.get(), [&] { s.dlg->OnConnect(); });
        } else {
            QTimer::singleShot(0, s.dlg.get(), [&] { s.dlg->OnSettings(); });
        }
        bool wasOpen = false;
        QTimer::singleShot(300, s.dlg.get(), [&] {
            wasOpen = OpenMessageBox() != nullptr || s.dlg->config.isVisible();
            s.dlg->OnExit();
        });
        QTimer::singleShot(5000, s.dlg.get(), [&] {  // only if the exit path left it open
            if (QMessageBox* box = OpenMessageBox()) box->reject();
            s.dlg->config.reject();
        });
        s.dlg->DoModal();
        InstallBoxRecorder();
        QVERIFY(wasOpen);
        s.clock.Advance(31);
        s.Tick(3);  // a tick that somehow still ran would find the reconnect due
        s.server.Pump();
        QCOMPARE(s.server.Logouts(), 1);
        QCOMPARE(s.server.Handshakes(), 1);
    }

    // A provider's message waits in its box while the user is away: the ticks go on
    // inside the box, so the counters of the same reply show and the session keeps polling.
    void ticksRunWhileMessageBoxWaits() {
        Session s;
        s.Login();
        Account& account = s.server.Subscriber();
        account.messages.push_back({true, 1236431109, "news"});
        account.remainingBytes = 5368709120;
        account.counters = {{1, "inet", 1572864}};
        SetMessageBoxHandler(nullptr);  // a real box
        bool boxOpen = false;
        int rows = -1;
        QString remaining;
        int pollsBefore = -1;
        int pollsLater = -1;
        QTimer::singleShot(2000, s.dlg.get(), [&] {  // a nested tick has run by now
            boxOpen = OpenMessageBox() != nullptr;
            rows = s.dlg->counterList->topLevelItemCount();
            remaining = s.dlg->remainingLabel->text();
            pollsBefore = s.server.PollReplies();
            s.clock.Advance(31);  // the next POLL is due
        });
        QTimer::singleShot(3500, s.dlg.get(), [&] {
            s.server.Pump(0);
            pollsLater = s.server.PollReplies();
            if (QMessageBox* box = OpenMessageBox()) box->accept();
        });
        s.Poll();  // its tick opens the box and returns once the box is closed
        InstallBoxRecorder();
        QVERIFY(boxOpen);
        QCOMPARE(rows, 1);
        QCOMPARE(remaining, QStringLiteral("5120.00 (M)"));
        QCOMPARE(pollsLater, pollsBefore + 1);
        QCOMPARE(s.dlg->tickDepth, size_t(0));
    }

    // Without a notification area the tray menu opens over the window: "Выход" stays in reach.
    void withoutTrayMenuOpensOverWindow() {
        SetTrayAvailable(false);
        Session s;
        s.Login();
        QStringList items;
        QTimer::singleShot(0, s.dlg.get(), [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (menu == nullptr) return;
            items = Captions(menu);
            menu->actions().first()->trigger();
            menu->close();
        });
        const QPoint at(10, 10);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, s.dlg->mapToGlobal(at));
        QApplication::sendEvent(s.dlg.get(), &event);
        QCOMPARE(items,
                 QStringList({QString::fromUtf8("Выход"), QString::fromUtf8("Окно программы"),
                              QString::fromUtf8("Отключить"), QString::fromUtf8("История баланса")}));
        QCOMPARE(s.dlg->exitRequested, 1);
        s.server.Pump();
        QCOMPARE(s.server.Logouts(), 1);
    }

    void windowEventsNeverEndTheProgram_data() {
        QTest::addColumn<QString>("event");
        QTest::addColumn<bool>("tray");
        QTest::addColumn<bool>("hidden");
        QTest::addColumn<bool>("minimised");
        QTest::addColumn<int>("hideOnFirstConnect");
        QTest::newRow("close box") << "close" << true << true << true << 0;
        QTest::newRow("Escape") << "escape" << true << true << true << 0;
        QTest::newRow("Enter") << "enter" << true << false << false << 1;
        QTest::newRow("minimise") << "minimise" << true << true << true << 1;
        QTest::newRow("close box, no tray") << "close" << false << false << true << 0;
        QTest::newRow("minimise, no tray") << "minimise" << false << false << true << 1;
    }
    void windowEventsNeverEndTheProgram() {
        QFETCH(QString, event);
        QFETCH(bool, tray);
        QFETCH(bool, hidden);
        QFETCH(bool, minimised);
        QFETCH(int, hideOnFirstConnect);
        SetTrayAvailable(tray);
        Session s;
        QSignalSpy finished(s.dlg.get(), &QDialog::finished);
        s.dlg->activateWindow();
        if (event == QLatin1String("close")) s.dlg->close();
        if (event == QLatin1String("escape")) QTest::keyClick(s.dlg.get(), Qt::Key_Escape);
        if (event == QLatin1String("enter"))
            QTest::keyClick(s.dlg->Button(kIdSettings), Qt::Key_Return);
        if (event == QLatin1String("minimise")) s.dlg->showMinimized();
        QCoreApplication::processEvents();
        QCOMPARE(finished.count(), 0);
        QCOMPARE(s.dlg->isHidden(), hidden);
        QCOMPARE(s.dlg->isMinimized(), minimised);
        QCOMPARE(s.dlg->hideOnFirstConnect, hideOnFirstConnect);
        s.Login();  // without a tray the first connection leaves the window where it is
        QCOMPARE(s.dlg->isHidden(), hidden || (tray && hideOnFirstConnect == 1));
    }

    void settingsOkWritesAllKeys() {
        Session s;
        s.dlg->passwordEdit->setText(QStringLiteral("newpass"));
        QTimer::singleShot(0, [&] {
            s.dlg->config.keepConnBox->setChecked(true);
            s.dlg->config.savePasswordBox->setChecked(false);
            s.dlg->config.okButton->click();
        });
        s.dlg->Button(kIdSettings)->click();
        QCOMPARE(StoredValue("KeepConn"), std::string("1"));
        QCOMPARE(StoredValue("SavePassword"), std::string("0"));
        QCOMPARE(StoredValue("AutoConnect"), std::string("0"));
        QCOMPARE(StoredPassword(), std::string());
        QCOMPARE(StoredValue("Login"), std::string("alice"));
        QCOMPARE(StoredValue("IP"), std::string("127.0.0.1"));
        QCOMPARE(StoredValue("Port"), std::to_string(s.server.Port()));
        QCOMPARE(s.dlg->passwordEdit->text(), QStringLiteral("newpass"));
        QCOMPARE(s.dlg->config.keepConn, 1);

        // Cancel after typing a port: the file stays, the next Connect uses and writes it.
        const std::string before = ReadFile("brin.ini");
        QTimer::singleShot(0, [&] {
            s.dlg->config.autoConnectBox->setChecked(true);
            s.dlg->config.portEdit->selectAll();
            QTest::keyClicks(s.dlg->config.portEdit, QStringLiteral("6001"));
            s.dlg->config.cancelButton->click();
        });
        s.dlg->OnSettings();
        QCOMPARE(ReadFile("brin.ini"), before);
        s.dlg->OnConnect();
        QCOMPARE(SessionProbe::Engine(s.dlg->session).port, 6001);
        QCOMPARE(StoredValue("Port"), std::string("6001"));
        QCOMPARE(StoredValue("AutoConnect"),
                 std::string("0"));  // switches reach the file only with OK
    }

    void messagesButtonOpensWindow() {
        Session s;
        int seen = -1;
        QTimer::singleShot(0, [&] {
            seen = s.dlg->pager->isOpen;
            s.dlg->pager->okButton->click();
        });
        s.dlg->Button(kIdMessages)->click();
        QCOMPARE(seen, 1);
        QCOMPARE(s.dlg->pager->isOpen, 0);
    }

    void statisticsPageOpensBuildUrl() {
        Session s;
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "Open");
        s.dlg->Button(kIdStatistics)->click();
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QCOMPARE(catcher.urls, QList<QUrl>({QUrl(QStringLiteral(BRIN_STATISTICS_URL))}));
        QCOMPARE(catcher.urls[0].scheme(), QStringLiteral("https"));
        QCOMPARE(catcher.urls[0].path(), QStringLiteral("/"));
        QVERIFY(RecordedBoxes().empty());

        // Nothing on the offscreen platform opens web pages, as on a desktop without a browser.
        s.dlg->Button(kIdStatistics)->click();
        QCOMPARE(RecordedBoxes().size(), size_t(1));
        QVERIFY(RecordedBoxes()[0].hasOwner);
        QVERIFY(RecordedBoxes()[0].text.endsWith(QStringLiteral(BRIN_STATISTICS_URL)));
        QCOMPARE(RecordedBoxes()[0].icon, BoxIcon::Warning);
    }

    void lampFollowsConnectedState() {
        Session s;
        QCOMPARE(LampColour(*s.dlg), QColor(255, 0, 0));
        s.dlg->hideOnFirstConnect = 0;
        s.dlg->OnConnect();
        s.server.Pump();
        QCOMPARE(LampColour(*s.dlg), QColor(255, 0, 0));  // red until the tick sees it
        s.Tick();
        QCOMPARE(LampColour(*s.dlg), QColor(0, 255, 0));
    }

    // history.ini cannot be written: its warning box is open when the Exit path runs (a
    // termination signal). The message of that tick then opens no box of its own: the
    // program ends instead of waiting in one after its LOGOUT.
    void exitDuringABoxOpensNoOtherBox() {
        Session s;
        s.Login();
        static Brin2Dlg* dlg;
        dlg = s.dlg.get();
        SetMessageBoxHandler(
            [](QWidget* owner, const QString& text, const QString& caption, BoxIcon icon) {
                RecordedBoxes().push_back({owner != nullptr, text, caption, icon});
                if (icon == BoxIcon::Warning) dlg->OnExit();
            });
        InjectAtomicWriteFailure(0);
        s.dlg->pager->AddMessage(1236431109, "after the exit");
        InjectAtomicWriteFailure(-1);
        InstallBoxRecorder();
        QCOMPARE(s.dlg->exitRequested, 1);
        QCOMPARE(RecordedBoxes().size(), size_t(1));
        QVERIFY(RecordedBoxes()[0].text.contains(QStringLiteral("history.ini")));
        s.server.Pump();
        QCOMPARE(s.server.Logouts(), 1);
    }

    void terminationSignalRunsExitPath() {
        Session s;
        s.Login();
        InstallExitSignals(s.dlg.get(), [&] { s.dlg->OnExit(); });
        std::raise(SIGTERM);
        QTRY_COMPARE(s.dlg->exitRequested, 1);
        s.server.Pump();
        QCOMPARE(s.server.Logouts(), 1);
    }

private:
    std::unique_ptr<TempDir> work;
};

QTEST_MAIN(CommandsTest)
#include "CommandsTest.moc"
