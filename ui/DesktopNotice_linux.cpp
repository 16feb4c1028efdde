// The freedesktop notification service on the session bus, when one runs.
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QVariantMap>

#include "ui/DesktopNotice.h"

bool ShowServiceNotice(const QString& title, const QString& text) {
    const QString service = QStringLiteral("org.freedesktop.Notifications");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || bus.interface() == nullptr ||
        !bus.interface()->isServiceRegistered(service).value())
        return false;
    QDBusMessage notify =
        QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/Notifications"),
                                       service, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(1));
    notify << QStringLiteral("brin2") << 0u << QStringLiteral("brin2") << title << text
           << QStringList() << hints << -1;
    // Not waited for: the tick goes on whatever the service does.
    return bus.send(notify);
}
