// Windows has no notification service apart from the tray icon's balloon.
#include "ui/DesktopNotice.h"

bool ShowServiceNotice(const QString& title, const QString& text) {
    (void)title;
    (void)text;
    return false;
}
