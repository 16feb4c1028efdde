// The main window: its template, data exchange, initialisation, the refresh tick, the commands and
// window events.
#include "ui/Brin2Dlg.h"

#include <QAccessible>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTreeWidget>

#include "core/DisplayFormat.h"
#include "core/FieldLimits.h"
#include "core/ProcessHardening.h"
#include "settings/ConnectCommand.h"
#include "ui/DataExchange.h"
#include "ui/DesktopNotice.h"
#include "ui/DialogUnits.h"
#include "ui/MessageBox.h"
#include "ui/PingWindow.h"
#include "ui/Resources.h"
#include "ui/WebPage.h"

namespace {

// The two value fields reach to just short of the counter list (the template's 31
// units cut "2045.24 (M)" or "-2147483.648" short; nothing else lies in between).
constexpr int kValueWidth = 62;
constexpr int kTrayGraceMs = 8000;  // how long a hidden start waits for a notification area

// Control 1006: the status lamp, red or green after the connected state the tick
// last carried into the window, inside the control's own black frame.
class StatusLamp : public QFrame {
public:
    StatusLamp(QWidget* parent, const int32_t* connectedShown)
        : QFrame(parent), connectedShown_(connectedShown) {}

protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter painter(this);
        painter.setPen(Qt::black);
        painter.setBrush(*connectedShown_ != 0 ? QColor(0, 255, 0) : QColor(255, 0, 0));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
        painter.end();
        QFrame::paintEvent(event);  // the frame over the edge
    }

private:
    const int32_t* connectedShown_;
};

// The list's rows: the rows there are kept and only a text that differs is set, so a reply
// that moves one counter redraws one cell instead of building the list anew.
void ShowCounterRows(QTreeWidget* list, const std::vector<CounterRow>& rows) {
    int at = 0;
    for (const CounterRow& shown : rows) {
        QTreeWidgetItem* row = list->topLevelItem(at++);
        if (row == nullptr) row = new QTreeWidgetItem(list);
        const QString texts[2] = {FromCp1251(shown.label),
                                  QString::fromStdString(shown.megabytes)};
        for (int column = 0; column < 2; ++column)
            if (row->text(column) != texts[column]) row->setText(column, texts[column]);
    }
    while (list->topLevelItemCount() > at) delete list->takeTopLevelItem(at);
}

}  // namespace

Brin2Dlg::Brin2Dlg(Clock* clock)
    : QDialog(nullptr), session(clock), config(this) {
    Construct();
}

Brin2Dlg::Brin2Dlg(Clock* clock, uint32_t volumeSerial)
    : QDialog(nullptr), session(clock), config(volumeSerial, this) {
    Construct();
}

Brin2Dlg::~Brin2Dlg() {
    WipeString(passwordText);
}

void Brin2Dlg::Construct() {
    EndMessageBoxes(false);  // a new run: the boxes of an earlier window's end open again
    windowIcon = BrinIcon(133);
    BuildControls();

    bool enabled = false;
    int32_t threshold = 0;
    // A LowBalance that is no sum of money warns of nothing; the window's field shows it.
    if (ReadLowBalance(config.GetValue(SettingsStore::kLowBalance), &enabled, &threshold))
        usage.Alarm().SetThreshold(enabled, threshold);

    // «История баланса» from the keyboard too: its tray item is out of the Tab order's reach.
    auto* history = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_H), this);
    connect(history, &QShortcut::activated, this, &Brin2Dlg::OnUsageHistory);

    refreshTimer.setInterval(1000);
    connect(&refreshTimer, &QTimer::timeout, this, &Brin2Dlg::OnTimer);
    connect(&tray, &TrayIcon::Command, this, &Brin2Dlg::OnCommand);
    connect(&tray, &TrayIcon::ShowRequested, this, &Brin2Dlg::OnShowWindow);
    connect(&tray, &TrayIcon::AvailabilityChanged, this, &Brin2Dlg::OnTrayAvailability);
}

// Template 102, in tab order.
void Brin2Dlg::BuildControls() {
    setWindowTitle(QString::fromUtf8("Сорвель-А ver 1.2"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(DialogUnits::TemplateFont());
    const DialogUnits du(font());
    setFixedSize(du.Size(289, 174));

    auto edit = [&](int id, QRect rect) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QString::number(id));
        e->setGeometry(rect);
        e->setValidator(new Cp1251Validator(e));
        return e;
    };
    auto button = [&](int id, const QString& text, QRect rect) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QString::number(id));
        b->setGeometry(rect);
        b->setAutoDefault(false);  // no default button: Enter does nothing
        connect(b, &QPushButton::clicked, this, [this, id] { OnCommand(id); });
        return b;
    };
    auto label = [&](const char* source, QRect rect) {
        auto* l = new QLabel(tr(source), this);
        l->setGeometry(rect);
        FitTranslatedLabel(l, source);
        return l;
    };
    auto blackFrame = [&](QRect rect, QFrame* f) {
        f->setGeometry(rect);
        f->setFrameStyle(QFrame::Box | QFrame::Plain);
        f->setLineWidth(1);
        QPalette palette = f->palette();
        palette.setColor(QPalette::WindowText, Qt::black);
        f->setPalette(palette);
        return f;
    };

    loginEdit = edit(kIdLogin, du.Rect(60, 47, 70, 14));
    passwordEdit = edit(kIdPassword, du.Rect(60, 66, 70, 14));
    passwordEdit->setEchoMode(QLineEdit::Password);
    button(kIdConnect, tr("Подключить"), du.Rect(13, 123, 58, 14));
    button(kIdDisconnect, tr("Отключить"), du.Rect(82, 123, 56, 14));
    // Each field is named by its label, for assistive technology as for the eye.
    label(QT_TR_NOOP("Логин"), du.Rect(32, 50, 22, 8))->setBuddy(loginEdit);
    label(QT_TR_NOOP("Пароль"), du.Rect(28, 69, 26, 8))->setBuddy(passwordEdit);
    statusLamp = blackFrame(du.Rect(23, 153, 10, 9), new StatusLamp(this, &lastConnectedShown));
    statusLamp->setObjectName(QString::number(kIdLamp));
    statusLamp->setAccessibleName(tr("Состояние подключения"));
    statusLamp->setAccessibleDescription(tr("Не подключено"));
    balanceLabel = label("0.0", du.Rect(103, 88, kValueWidth, 8));
    balanceLabel->setObjectName(QString::number(kIdBalance));
    label(QT_TR_NOOP("Денег на счету"), du.Rect(17, 88, 51, 8));
    button(kIdSettings, tr("Установки"), du.Rect(149, 123, 56, 14));
    counterList = new QTreeWidget(this);
    counterList->setObjectName(QString::number(kIdCounters));
    counterList->setAccessibleName(tr("Список счётчиков трафика"));
    counterList->setGeometry(du.Rect(173, 22, 110, 55));
    counterList->setRootIsDecorated(false);
    counterList->setColumnCount(2);
    counterList->header()->setStretchLastSection(false);
    counterList->header()->setSectionsMovable(false);
    label(QT_TR_NOOP("Статистика:"), du.Rect(165, 10, 42, 8));
    label(QT_TR_NOOP("Осталось МБ"), du.Rect(17, 102, 46, 8));
    remainingLabel = label("0.0", du.Rect(103, 102, kValueWidth, 8));
    remainingLabel->setObjectName(QString::number(kIdRemaining));
    button(kIdMessages, tr("Сообщения"), du.Rect(216, 123, 56, 14));
    auto* group = new QGroupBox(tr("Статус:"), this);
    group->setGeometry(du.Rect(6, 142, 277, 25));
    group->lower();  // the lamp and the status line lie inside its frame, above its panel
    statusLabel = label("", du.Rect(39, 153, 236, 8));
    statusLabel->setObjectName(QString::number(kIdStatus));
    statusLabel->setAccessibleDescription(tr("Строка состояния"));
    auto* logo = new QLabel(this);
    const QPixmap bitmap = BrinLogo();
    logo->setPixmap(bitmap);
    logo->setGeometry(QRect(du.Rect(6, 3, 0, 0).topLeft(), QSize(220, 56)));
    button(kIdStatistics, tr("Статистика подробнее..."), du.Rect(173, 82, 110, 13));
    blackFrame(du.Rect(6, 115, 277, 1), new QFrame(this));
    button(kIdCheck, tr("Проверка связи с сервером"), du.Rect(174, 98, 109, 13));

    for (QLabel* l : {balanceLabel, remainingLabel, statusLabel}) l->setWordWrap(false);
    // The frames, labels and the group box take no focus; the tab order is the
    // order of creation above: the two edits, the buttons and the list.
    setFocusPolicy(Qt::NoFocus);
}

QPushButton* Brin2Dlg::Button(int id) const {
    return findChild<QPushButton*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

bool Brin2Dlg::DoDataExchange(bool take) {
    if (take) {
        if (!TakeText(loginEdit, &loginText, static_cast<int>(kLoginLimit), this)) return false;
        if (!TakeText(passwordEdit, &passwordText, static_cast<int>(kPasswordLimit), this)) return false;
        balanceText = ToCp1251(balanceLabel->text());
        remainingText = ToCp1251(remainingLabel->text());
        statusText = ToCp1251(statusLabel->text());
        return true;
    }
    LoadText(loginEdit, loginText, static_cast<int>(kLoginLimit));
    LoadText(passwordEdit, passwordText, static_cast<int>(kPasswordLimit));
    balanceLabel->setText(FromCp1251(balanceText));
    remainingLabel->setText(FromCp1251(remainingText));
    // A value is read with what it is.
    balanceLabel->setAccessibleName(tr("Денег на счету: %1").arg(balanceLabel->text()));
    remainingLabel->setAccessibleName(tr("Осталось МБ: %1").arg(remainingLabel->text()));
    statusLabel->setText(FromCp1251(statusText));
    return true;
}

bool Brin2Dlg::OnInitDialog() {
    DoDataExchange(false);
    setWindowIcon(windowIcon);
    pager = std::make_unique<Pager>(this);
    tray.SetMenu(kMenuDisconnected);
    tray.Add(kIconDisconnected);
    loginText = config.StoredLogin();
    passwordText = config.StoredPassword();
    balanceText = "0.0";
    remainingText = "0.0";
    counterList->setHeaderLabels({QStringLiteral("Traffic"), QStringLiteral("Total (M)")});
    counterList->setColumnWidth(0, 100);
    counterList->setColumnWidth(1, 55);
    DoDataExchange(false);
    if (config.autoConnect != 0) session.Connect(CurrentSettings());
    refreshTimer.start();
    loginEdit->setFocus();
    // Once the window is up: the box then stands over it.
    if (config.DroppedLines() > 0) QTimer::singleShot(0, this, &Brin2Dlg::ReportDroppedLines);
    return true;
}

// One box at start when brin.ini held lines the store could not keep.
void Brin2Dlg::ReportDroppedLines() {
    const QString lines = QString::number(config.DroppedLines());
    ShowMessageBox(this,
                   config.BackupOutcome() == SettingsStore::Backup::Kept
                       ? tr("В brin.ini есть строки, которые программа не может "
                            "прочитать (%1). В новом brin.ini их нет; прежний "
                            "файл сохранён как brin.ini.bak.")
                             .arg(lines)
                       : tr("В brin.ini есть строки, которые программа не может "
                            "прочитать (%1). Сохранить прежний файл как "
                            "brin.ini.bak не удалось, поэтому brin.ini оставлен "
                            "как был.")
                             .arg(lines),
                   ProgramName(), BoxIcon::Warning);
}

SessionSettings Brin2Dlg::CurrentSettings() const {
    SessionSettings settings;
    settings.login = loginText;
    settings.password = passwordText;
    settings.serverAddress = config.ipText;
    settings.port = config.PortValue();
    settings.keepConn = config.keepConn != 0;
    return settings;
}

int Brin2Dlg::DoModal() {
    OnInitDialog();
    QRect box(QPoint(0, 0), frameGeometry().size());
    if (QScreen* s = screen()) box.moveCenter(s->availableGeometry().center());
    move(box.topLeft());
    if (startHidden) {
        hideOnFirstConnect = 0;  // already where the first connection would put it
        // At login the panel may come up after the program: it gets a few seconds
        // to appear before the window shows instead.
        if (!TrayIcon::Available())
            QTimer::singleShot(kTrayGraceMs, this, [this] {
                if (exitRequested == 0 && !TrayIcon::Available()) OnShowWindow();
            });
    } else {
        show();
    }
    if (exitRequested == 0) {
        QEventLoop loop;
        connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
        loop.exec();
    }
    // Told to quit by other means (the session's end): the exit path still runs.
    if (exitRequested == 0) OnExit();
    return result();
}

void Brin2Dlg::OnTimer() {
    struct Nesting {
        Brin2Dlg& dlg;
        QTimer* next;
        explicit Nesting(Brin2Dlg& d) : dlg(d) {
            if (dlg.nestedTicks.size() <= dlg.tickDepth) {
                auto timer = std::make_unique<QTimer>();
                timer->setInterval(1000);
                connect(timer.get(), &QTimer::timeout, &dlg, &Brin2Dlg::OnTimer);
                dlg.nestedTicks.push_back(std::move(timer));
            }
            next = dlg.nestedTicks[dlg.tickDepth++].get();
            if (dlg.exitRequested == 0) next->start();
        }
        ~Nesting() {
            next->stop();
            --dlg.tickDepth;
        }
    } nesting(*this);

    const TickEvents events = session.Tick(CurrentSettings());
    pager->RetrySaveWhenDue(session.GetClock().Now());
    if (const char* status = ResultStatusText(events.result)) {
        statusText = ToCp1251(QCoreApplication::translate("Brin2Dlg", status));
        DoDataExchange(false);
        return;
    }

    const int32_t now = session.GetClock().Now();
    const SessionView view = session.View();
    const UsageWatch::Outcome used = usage.OnTick(events, view, now);
    if (used.written == UsageLog::Written && usageWindow != nullptr && usageWindow->isVisible())
        usageWindow->Refresh(usage, now);
    if (used.lowBalance) NotifyLowBalance(view.balance, now);

    if (view.balance != lastBalanceShown) {
        lastBalanceShown = view.balance;
        balanceText = FormatMoney(view.balance);
        DoDataExchange(false);
        // Said by a screen reader as it changes, not only when the user goes looking.
        QAccessibleValueChangeEvent changed(balanceLabel, balanceLabel->text());
        QAccessible::updateAccessibility(&changed);
    }

    if (events.countersChanged) {
        ShowCounterRows(counterList, CounterRows(view.counters));
        remainingText = FormatRemaining(view.remainingBytes);
        DoDataExchange(false);
    }

    // The message last: its box may wait for the user while the ticks go on inside it,
    // and the counters of the same reply show meanwhile.
    if (events.hasMessage) {
        pager->AddMessage(events.messageTime, events.messageText.c_str());
        // The box of the message may have seen the Exit path: the window is gone.
        if (exitRequested != 0) return;
    }

    if (events.connectedChanged) {
        lastConnectedShown = events.connected ? 1 : 0;
        const bool on = events.connected;
        tray.SetMenu(on ? kMenuConnected : kMenuDisconnected);
        loginEdit->setReadOnly(on);
        passwordEdit->setReadOnly(on);
        config.connectedShown = on ? 1 : 0;
        tray.SetIcon(on ? kIconConnected : kIconDisconnected);
        if (on) {
            statusText.clear();
            DoDataExchange(false);
        }
        statusLamp->setAccessibleDescription(on ? tr("Подключено") : tr("Не подключено"));
        update();  // the lamp (control 1006) repaints in the colour of lastConnectedShown
    }

    if (hideOnFirstConnect != 0 && session.View().connected) {
        // Without a notification area the window stays: hidden, it could not be found again.
        if (TrayIcon::Available()) HideToTray();
        hideOnFirstConnect = 0;
    }
}

void Brin2Dlg::OnCommand(int id) {
    switch (id) {
        case kIdConnect:
        case kCmdConnect:
            OnConnect();
            break;
        case kIdDisconnect:
        case kCmdDisconnect:
            OnDisconnect();
            break;
        case kIdSettings:
            OnSettings();
            break;
        case kIdMessages:
            OnMessages();
            break;
        case kIdStatistics:
            OnStatistics();
            break;
        case kIdCheck:
            OnConnectivityCheck();
            break;
        case kCmdShowDisconnectedMenu:
        case kCmdShowConnectedMenu:
            OnShowWindow();
            break;
        case kCmdExitDisconnectedMenu:
        case kCmdExitConnectedMenu:
            OnExit();
            break;
        case kCmdHistoryDisconnectedMenu:
        case kCmdHistoryConnectedMenu:
            OnUsageHistory();
            break;
        default:
            break;
    }
}

void Brin2Dlg::OnConnect() {
    DoDataExchange(true);  // on a limit message the command goes on with what the strings hold
    if (exitRequested != 0) return;  // "Выход" was chosen while the limit message was open
    StoreAndConnect(session, config, CurrentSettings(), config.portText,
                    [this] { return config.SaveFileOrWarn(); });
}

void Brin2Dlg::OnDisconnect() {
    session.Disconnect();
}

void Brin2Dlg::OnSettings() {
    if (config.DoModal() != QDialog::Accepted) return;
    DoDataExchange(true);
    // Every key exists since start-up, so the order of the two calls leaves the file as it was.
    config.StoreSwitches();
    config.StoreConnection(loginText, passwordText, config.ipText, config.portText);
    config.SaveFileOrWarn();
}

void Brin2Dlg::OnMessages() {
    pager->DoModal(this);
}

void Brin2Dlg::OnStatistics() {
    const QString url = QStringLiteral(BRIN_STATISTICS_URL);
    // Without a web browser the desktop opens nothing: say so, else the button seems dead.
    if (!OpenWebPage(url))
        ShowMessageBox(this, tr("Не удалось открыть страницу статистики:\n") + url, ProgramName(),
                       BoxIcon::Warning);
}

void Brin2Dlg::OnConnectivityCheck() {
    RunConnectivityCheck(this);
}

void Brin2Dlg::OnUsageHistory() {
    if (usageWindow == nullptr) {
        // Its own window, not modal: the ticks and the tray go on, and it follows each reply.
        usageWindow = new UsageWindow(this);
        usageWindow->setWindowFlag(Qt::Window);
        connect(usageWindow, &UsageWindow::ThresholdAccepted, this, &Brin2Dlg::OnThresholdAccepted);
    }
    if (!usageWindow->isVisible())
        usageWindow->SetThresholdText(FromCp1251(config.LowBalanceText()));
    usageWindow->Refresh(usage, session.GetClock().Now());
    usageWindow->show();
    usageWindow->raise();
    usageWindow->activateWindow();
}

void Brin2Dlg::OnThresholdAccepted(const QString& text, bool enabled, int32_t threshold) {
    usage.Alarm().SetThreshold(enabled, threshold);
    config.StoreLowBalance(ToCp1251(text));
    config.SaveFileOrWarn();
}

void Brin2Dlg::NotifyLowBalance(int32_t balance, int32_t now) {
    const QString text = tr("На счету %1, меньше %2. %3")
                             .arg(QString::fromStdString(FormatMoney(balance)),
                                  QString::fromStdString(FormatMoney(usage.Alarm().Threshold())),
                                  ForecastText(usage.CurrentForecast(now)));
    ShowDesktopNotice(&tray, tr("Мало денег на счету"), text);
}

void Brin2Dlg::OnShowWindow() {
    // Restored before it is shown: a window mapped while still minimised may be
    // reported minimised again afterwards and would go straight back to the tray.
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void Brin2Dlg::OnExit() {
    exitRequested = 1;
    // Sent, not posted: the logout and the tray icon's removal are done when this returns.
    QCloseEvent close;
    QCoreApplication::sendEvent(this, &close);
}

void Brin2Dlg::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (exitRequested != 0) {
        EndMessageBoxes(true);  // what a box in the middle of this tick would still open
        session.Exit();
        tray.Remove();
        StopTicks();
        // Windows whose modal loops run inside this one (a message box, the settings
        // or message window, the tray menu) end as well: else the program could not end.
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window == this || !window->isVisible()) continue;
            if (auto* dialog = qobject_cast<QDialog*>(window))
                dialog->reject();
            else
                window->close();
        }
        done(QDialog::Rejected);
        return;
    }
    OnClose();
}

void Brin2Dlg::contextMenuEvent(QContextMenuEvent* event) {
    // Without a notification area the tray menu opens over the window instead, so that
    // "Выход" is still in reach.
    if (TrayIcon::Available() || tray.Menu() == nullptr) {
        QDialog::contextMenuEvent(event);
        return;
    }
    tray.Menu()->exec(event->globalPos());
}

void Brin2Dlg::StopTicks() {
    refreshTimer.stop();
    for (auto& timer : nestedTicks) timer->stop();
}

void Brin2Dlg::OnClose() {
    HideToTray();
    hideOnFirstConnect = 0;
}

void Brin2Dlg::HideToTray() {
    showMinimized();
    if (TrayIcon::Available()) hide();
}

void Brin2Dlg::OnTrayAvailability(bool available) {
    if (exitRequested != 0) return;
    // A notification area that came late takes the icon; one that went away (a panel
    // restart, the end of its program) must not leave the window hidden where nobody
    // can reach it: it comes back to the screen and the taskbar.
    if (available)
        tray.Icon()->show();
    else if (!isVisible() || isMinimized())
        OnShowWindow();
}

void Brin2Dlg::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !isMinimized()) return;
    // Hidden once the minimising is complete (showMinimized shows the window at its end),
    // so that only the tray icon remains.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (isMinimized() && isVisible() && TrayIcon::Available()) hide();
        },
        Qt::QueuedConnection);
}

void Brin2Dlg::reject() {
    OnClose();
}

void Brin2Dlg::accept() {}
