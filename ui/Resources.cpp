// Icons and the logo from the compiled-in resource file res/brin.qrc.
#include "Resources.h"

#include <QGuiApplication>
#include <QString>

static void InitBrinResources() {
    // The resource file lives in a static library: its registration must be pulled in by name.
    static const bool done = [] {
        Q_INIT_RESOURCE(brin);
        return true;
    }();
    (void)done;
}

QIcon BrinIcon(int id) {
    if (id != 129 && id != 130 && id != 133) return QIcon();
    InitBrinResources();
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/brin/png/icon%1_%2.png").arg(id).arg(size), QSize(size, size));
    return icon;
}

QPixmap BrinLogo() {
    InitBrinResources();
    const qreal ratio = qApp != nullptr ? qApp->devicePixelRatio() : 1.0;
    if (ratio > 1.0) {
        QPixmap sharp(QStringLiteral(":/brin/png/logo139@2x.png"));
        sharp.setDevicePixelRatio(2.0);
        return sharp;
    }
    return QPixmap(QStringLiteral(":/brin/png/logo139.png"));
}
