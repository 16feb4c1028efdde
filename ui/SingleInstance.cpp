// The directory's lock, and a local socket for the hand-over to the running window.
#include "ui/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QThread>

namespace {

constexpr int kHandOverMs = 3000;  // the running window may still be starting

const char kShowRequest[] = "show\n";

bool AskToShow(const QString& name) {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(500)) return false;
    socket.write(kShowRequest);
    const bool sent = socket.waitForBytesWritten(1000);
    socket.disconnectFromServer();
    return sent;
}

}  // namespace

SingleInstance::SingleInstance() = default;

SingleInstance::~SingleInstance() = default;

QString SingleInstance::ServerName(const QString& directory) {
    const QByteArray key = QDir(directory).canonicalPath().toUtf8();
    const QString hash = QString::fromLatin1(
        QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(16));
    return QStringLiteral("brin2-%1-%2").arg(qEnvironmentVariable("USER"), hash);
}

SingleInstance::Outcome SingleInstance::Start(QString* holder) {
    const QString name = ServerName(QDir::currentPath());
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        std::string detail;
        const DirectoryLock::Result result = lock_.Acquire(&detail);
        if (result == DirectoryLock::Acquired) break;
        *holder = QString::fromStdString(detail);
        // No run without the lock: another client could be writing the same files.
        if (result == DirectoryLock::Failed) return Failed;
        if (AskToShow(name)) return HandedOver;
        if (waited.elapsed() >= kHandOverMs) return Busy;
        QThread::msleep(100);
    }
    // A socket left by a brin2 that was killed would refuse the name; the lock says it is ours.
    QLocalServer::removeServer(name);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (server_.listen(name)) {
        connect(&server_, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket* socket = server_.nextPendingConnection()) {
                auto take = [this, socket] {
                    if (socket->peek(64).contains(kShowRequest)) {
                        socket->readAll();
                        emit ShowRequested();
                    }
                };
                connect(socket, &QLocalSocket::readyRead, this, take);
                connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
                take();  // what came before the connection above
            }
        });
    }
    return Acquired;
}
