// Desktop notifications through one replaceable function: the service first, the tray icon else.
#include "ui/DesktopNotice.h"

#include "ui/TrayIcon.h"

namespace {

void DefaultHandler(TrayIcon* tray, const QString& title, const QString& text) {
    if (ShowServiceNotice(title, text)) return;
    if (tray != nullptr && TrayIcon::Available())
        tray->Icon()->showMessage(title, text, QSystemTrayIcon::Warning);
}

NoticeHandler g_handler = DefaultHandler;

}  // namespace

void ShowDesktopNotice(TrayIcon* tray, const QString& title, const QString& text) {
    g_handler(tray, title, text);
}

NoticeHandler SetNoticeHandler(NoticeHandler handler) {
    NoticeHandler old = g_handler;
    g_handler = handler != nullptr ? handler : DefaultHandler;
    return old;
}
