// The main window: login and password, account values, counters, status line and lamp, commands,
// tray.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/ClientSession.h"
#include "core/UsageLog.h"
#include "ui/BrinConfig.h"
#include "ui/Pager.h"
#include "ui/TrayIcon.h"
#include "ui/UsageWindow.h"

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

// Control identifiers of the main window.
enum MainControlId {
    kIdLogin = 1000,
    kIdPassword = 1001,
    kIdConnect = 1003,
    kIdDisconnect = 1004,
    kIdLamp = 1006,
    kIdBalance = 1007,
    kIdSettings = 1011,
    kIdCounters = 1015,
    kIdRemaining = 1016,
    kIdMessages = 1017,
    kIdStatus = 1020,
    kIdStatistics = 1024,
    kIdCheck = 1025,
};

class Brin2Dlg : public QDialog {
    Q_OBJECT
public:
    explicit Brin2Dlg(Clock* clock = nullptr);
    Brin2Dlg(Clock* clock, uint32_t volumeSerial);  // the store's key from a given serial (tests)
    ~Brin2Dlg() override;

    // Initialisation, showing, and the run until the Exit path ends the window.
    int DoModal();

    bool DoDataExchange(bool take);  // take: controls into strings; false when a limit was exceeded
    bool OnInitDialog();
    // What the hand-over copies now: the strings last taken from the fields, the
    // settings' server address and port, and KeepConn.
    SessionSettings CurrentSettings() const;

    void OnTimer();  // the refresh tick

    // Commands: a push button and a tray item with the same caption share one.
    void OnCommand(int id);
    void OnConnect();
    void OnDisconnect();
    void OnSettings();
    void OnMessages();
    void OnStatistics();
    void OnConnectivityCheck();
    void OnShowWindow();
    void OnExit();
    void OnUsageHistory();  // the tray item «История баланса»

    QPushButton* Button(int id) const;

    // Members in the order of construction.
    TrayIcon tray;  // the tray icon as registered, the icon now shown and the current tray menu
    QTreeWidget* counterList = nullptr;
    QFrame* statusLamp = nullptr;
    QLineEdit* passwordEdit = nullptr;
    QLineEdit* loginEdit = nullptr;
    std::string loginText;  // Windows-1251, as every text below
    std::string passwordText;
    std::string balanceText;
    std::string remainingText;
    std::string statusText;
    QIcon windowIcon;
    ClientSession session;  // the engine and the per-tick policy, on the window's clock
    BrinConfig config;
    std::unique_ptr<Pager> pager;
    UsageWatch usage;  // usage.csv and the LowBalance warning
    UsageWindow* usageWindow = nullptr;  // made when first opened
    int32_t lastConnectedShown = 0;
    int32_t hideOnFirstConnect = 1;
    int32_t exitRequested = 0;
    int32_t lastBalanceShown = 0;
    bool startHidden = false;  // start in the tray (when there is one) instead of on the screen

    QTimer refreshTimer;  // timer 100
    // Qt fires no timer again while its own handler runs, so a tick that waits in a
    // message box would stop the session until the box is closed: while a tick runs,
    // the timer of the next depth ticks inside any loop it opens.
    std::vector<std::unique_ptr<QTimer>> nestedTicks;
    size_t tickDepth = 0;
    QLabel* balanceLabel = nullptr;
    QLabel* remainingLabel = nullptr;
    QLabel* statusLabel = nullptr;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void reject() override;  // Escape
    void accept() override;  // never ends the window

private:
    void Construct();
    void BuildControls();
    void OnClose();
    void HideToTray();
    void OnTrayAvailability(bool available);
    void StopTicks();
    void ReportDroppedLines();
    void NotifyLowBalance(int32_t balance, int32_t now);
    void OnThresholdAccepted(const QString& text, bool enabled, int32_t threshold);
};
