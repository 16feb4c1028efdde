// The notification-area icon: its picture, its tip and the menu a right click opens.
#pragma once

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

// Menu and command identifiers of the two tray menus.
enum TrayMenuId { kMenuDisconnected = 131, kMenuConnected = 132 };
enum TrayCommand {
    kCmdExitDisconnectedMenu = 32771,
    kCmdShowDisconnectedMenu = 32772,
    kCmdConnect = 32773,
    kCmdExitConnectedMenu = 32774,
    kCmdShowConnectedMenu = 32775,
    kCmdDisconnect = 32776,
    kCmdHistoryDisconnectedMenu = 32777,  // «История баланса», the last item of either menu
    kCmdHistoryConnectedMenu = 32778,
};
enum TrayIconId { kIconConnected = 129, kIconDisconnected = 130 };

class TrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;

    // Whether the desktop has a notification area (tests may replace the probe).
    static bool Available();
    using AvailabilityProbe = bool (*)();
    static AvailabilityProbe SetAvailabilityProbe(AvailabilityProbe probe);  // nullptr: Qt's

    void Add(int iconId);  // shows the icon with the tip "Internet access"
    void SetIcon(int iconId);
    void Remove();

    // Builds menu 131 or 132 and makes it the one a right click opens. A menu
    // that is on the screen at that moment stays alive until it closes.
    void SetMenu(int menuId);

    int IconId() const { return iconId_; }
    int MenuId() const { return menuId_; }
    QMenu* Menu() const { return menu_; }
    QSystemTrayIcon* Icon() { return &icon_; }

    // What the platform reports about the mouse over the icon.
    void OnActivated(QSystemTrayIcon::ActivationReason reason);

    // Compares the notification area's presence with the last look (every 2 s while
    // the icon is added) and reports a change.
    void CheckAvailability();

signals:
    void Command(int id);  // a tray menu item was chosen
    void ShowRequested();  // left double click
    // The desktop's notification area came (a panel started after the program) or went.
    void AvailabilityChanged(bool available);

private:
    QSystemTrayIcon icon_;
    QPointer<QMenu> menu_;
    int iconId_ = 0;
    int menuId_ = 0;
    QTimer watch_;
    bool available_ = false;
};
