// The directory's lock through QLockFile (the same file and form brin-cli's lock takes), and a
// local socket for the hand-over to the running window.
#include "SingleInstance.h"

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

SingleInstance::SingleInstance() : lock_(QStringLiteral("brin.lock")) {
    // Held for the whole run: age says nothing, only a holder that is gone makes it stale.
    lock_.setStaleLockTime(0);
}

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
        if (lock_.tryLock(0)) break;
        // A directory where the lock cannot be made at all (read-only, a full disk) is
        // one where nothing can be overwritten either: the window goes on without it.
        if (lock_.error() != QLockFile::LockFailedError) break;
        if (AskToShow(name)) return HandedOver;
        if (waited.elapsed() >= kHandOverMs) {
            qint64 pid = 0;
            QString host, application;
            if (lock_.getLockInfo(&pid, &host, &application))
                *holder = QStringLiteral("%1, process %2").arg(application).arg(pid);
            else
                *holder = QStringLiteral("another client");
            return Busy;
        }
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
