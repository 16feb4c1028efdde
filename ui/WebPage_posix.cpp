// Web pages elsewhere: the desktop's URL handler.
#include "WebPage.h"

#include <QDesktopServices>
#include <QUrl>

bool OpenWebPage(const QString& url) {
    return QDesktopServices::openUrl(QUrl(url));
}
