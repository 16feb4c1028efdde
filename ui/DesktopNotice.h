// A desktop notification: the freedesktop notification service where one runs (Linux), else the
// tray icon's message.
#pragma once

#include <QString>

class TrayIcon;

// Handler: title and text. The default gives them to the notification service, or to
// the tray icon when there is none.
using NoticeHandler = void (*)(TrayIcon* tray, const QString& title, const QString& text);

void ShowDesktopNotice(TrayIcon* tray, const QString& title, const QString& text);
NoticeHandler SetNoticeHandler(NoticeHandler handler);  // nullptr restores the default

// The platform's notification service: true when it took the notice.
bool ShowServiceNotice(const QString& title, const QString& text);
