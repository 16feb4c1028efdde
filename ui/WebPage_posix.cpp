// Web pages elsewhere: the desktop's URL handler.
#include "ui/WebPage.h"

#include <QDesktopServices>
#include <QUrl>

bool OpenWebPage(const QString& url) {
    return QDesktopServices::openUrl(QUrl(url));
}
