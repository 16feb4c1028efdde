// The tray icon and its two menus; the menu being shown survives a swap until it closes.
#include "ui/TrayIcon.h"

#include <QMenu>

#include "ui/Resources.h"

namespace {

bool QtProbe() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}
TrayIcon::AvailabilityProbe g_probe = QtProbe;

struct MenuItem {
    int id;
    const char* caption;  // UTF-8
};

const MenuItem kDisconnectedMenu[] = {
    {kCmdExitDisconnectedMenu, QT_TRANSLATE_NOOP("TrayIcon", "Выход")},
    {kCmdShowDisconnectedMenu, QT_TRANSLATE_NOOP("TrayIcon", "Окно программы")},
    {kCmdConnect, QT_TRANSLATE_NOOP("TrayIcon", "Подключить")},
    {kCmdHistoryDisconnectedMenu, QT_TRANSLATE_NOOP("TrayIcon", "История баланса")}};
const MenuItem kConnectedMenu[] = {
    {kCmdExitConnectedMenu, QT_TRANSLATE_NOOP("TrayIcon", "Выход")},
    {kCmdShowConnectedMenu, QT_TRANSLATE_NOOP("TrayIcon", "Окно программы")},
    {kCmdDisconnect, QT_TRANSLATE_NOOP("TrayIcon", "Отключить")},
    {kCmdHistoryConnectedMenu, QT_TRANSLATE_NOOP("TrayIcon", "История баланса")}};

}  // namespace

TrayIcon::TrayIcon(QObject* parent) : QObject(parent) {
    connect(&icon_, &QSystemTrayIcon::activated, this, &TrayIcon::OnActivated);
    watch_.setInterval(2000);
    connect(&watch_, &QTimer::timeout, this, &TrayIcon::CheckAvailability);
}

TrayIcon::~TrayIcon() {
    icon_.setContextMenu(nullptr);
    delete menu_;
}

bool TrayIcon::Available() {
    return g_probe();
}

TrayIcon::AvailabilityProbe TrayIcon::SetAvailabilityProbe(AvailabilityProbe probe) {
    AvailabilityProbe old = g_probe;
    g_probe = probe != nullptr ? probe : QtProbe;
    return old;
}

void TrayIcon::Add(int iconId) {
    SetIcon(iconId);
    icon_.setToolTip(QStringLiteral("Internet access"));
    icon_.show();
    available_ = Available();
    watch_.start();
}

void TrayIcon::SetIcon(int iconId) {
    iconId_ = iconId;
    icon_.setIcon(BrinIcon(iconId));
}

void TrayIcon::Remove() {
    watch_.stop();
    icon_.hide();
}

void TrayIcon::CheckAvailability() {
    const bool now = Available();
    if (now == available_) return;
    available_ = now;
    emit AvailabilityChanged(now);
}

void TrayIcon::SetMenu(int menuId) {
    QMenu* old = menu_;
    auto* menu = new QMenu;
    menu->setTitle(menuId == kMenuConnected ? QStringLiteral("M2") : QStringLiteral("M1"));
    for (const MenuItem& item : menuId == kMenuConnected ? kConnectedMenu : kDisconnectedMenu) {
        const int id = item.id;
        connect(menu->addAction(tr(item.caption)), &QAction::triggered, this,
                [this, id] { emit Command(id); });
    }
    menu_ = menu;
    menuId_ = menuId;
    icon_.setContextMenu(menu);
    if (old == nullptr) return;
    // A tick may swap the menus while the old one is open; its chosen item must
    // still arrive, so it goes only once it has closed.
    if (old->isVisible())
        connect(old, &QMenu::aboutToHide, old, &QObject::deleteLater);
    else
        old->deleteLater();
}

void TrayIcon::OnActivated(QSystemTrayIcon::ActivationReason reason) {
    // A right click opens the context menu through the platform; a single left
    // click does nothing.
    if (reason == QSystemTrayIcon::DoubleClick) emit ShowRequested();
}
