// One window client per directory: the directory's lock (core's, the one brin-cli takes), and the
// channel through which a second start asks the running one to show its window.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

#include "core/DirectoryLock.h"

class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum Outcome {
        Acquired,    // this process now owns the directory
        HandedOver,  // another brin2 owns it and was asked to show its window
        Busy,        // another client (brin-cli, or a brin2 that does not answer) owns it
        Failed,      // the lock cannot be made (a full disk that takes no new file)
    };

    // For the current directory; the lock file is shared with brin-cli's.
    SingleInstance();
    ~SingleInstance() override;

    // `holder` says who holds the directory when the outcome is Busy, and why the
    // lock cannot be made when it is Failed.
    Outcome Start(QString* holder);

    // The local socket's name: one per user and directory.
    static QString ServerName(const QString& directory);

signals:
    void ShowRequested();  // a later start on the same directory

private:
    DirectoryLock lock_;
    QLocalServer server_;
};
