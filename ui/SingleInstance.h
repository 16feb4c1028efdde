// One window client per directory: the directory's lock, and the channel through which a second
// start asks the running one to show its window.
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum Outcome {
        Acquired,    // this process now owns the directory
        HandedOver,  // another brin2 owns it and was asked to show its window
        Busy,        // another client (brin-cli, or a brin2 that does not answer) owns it
    };

    // For the current directory; the lock file is shared with brin-cli's.
    SingleInstance();
    ~SingleInstance() override;

    // `holder` says who holds the directory when the outcome is Busy.
    Outcome Start(QString* holder);

    // The local socket's name: one per user and directory.
    static QString ServerName(const QString& directory);

signals:
    void ShowRequested();  // a later start on the same directory

private:
    QLockFile lock_;
    QLocalServer server_;
};
