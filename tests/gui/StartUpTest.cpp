// What happens before the window: brin2's command line, the autostart entry, and one client
// per directory between two window starts and between the window and brin-cli.
#include <sys/mount.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include "core/DirectoryLock.h"
#include "tests/gui/GuiTestSupport.h"
#include "ui/Autostart.h"
#include "ui/SingleInstance.h"
#include "ui/StartOptions.h"

class StartUpTest : public QObject {
    Q_OBJECT
private slots:
    void init() { work = std::make_unique<TempDir>(); }
    void cleanup() { work.reset(); }

    // A second start on the directory hands over to the running one, which is asked to show
    // its window; once the first is gone the directory is free again.
    void secondStartHandsOver() {
        auto first = std::make_unique<SingleInstance>();
        QString holder;
        QCOMPARE(first->Start(&holder), SingleInstance::Acquired);
        QSignalSpy shown(first.get(), &SingleInstance::ShowRequested);
        SingleInstance second;
        QCOMPARE(second.Start(&holder), SingleInstance::HandedOver);
        QTRY_COMPARE(shown.count(), 1);
        first.reset();
        SingleInstance third;
        QCOMPARE(third.Start(&holder), SingleInstance::Acquired);
    }

    // The window's lock and brin-cli's are one lock: each refuses the other.
    void windowAndCliShareTheLock() {
        {
            DirectoryLock cli;
            std::string cliHolder;
            QCOMPARE(cli.Acquire(&cliHolder), DirectoryLock::Acquired);
            SingleInstance window;
            QString holder;
            QCOMPARE(window.Start(&holder), SingleInstance::Busy);
            QVERIFY2(holder.contains(
                         QStringLiteral("process %1").arg(QCoreApplication::applicationPid())),
                     qPrintable(holder));
        }
        SingleInstance window;
        QString holder;
        QCOMPARE(window.Start(&holder), SingleInstance::Acquired);
        DirectoryLock cli;
        std::string cliHolder;
        QCOMPARE(cli.Acquire(&cliHolder), DirectoryLock::Busy);
        QVERIFY2(QString::fromStdString(cliHolder).contains(QStringLiteral(", process ")),
                 cliHolder.c_str());
    }

    // A lock file left by a window that was killed outright is taken over.
    void staleLockIsTakenOver() {
        QFile stale(QStringLiteral("brin.lock"));
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write("999999999\nbrin2\n" + QSysInfo::machineHostName().toUtf8() + "\n\n\n");
        stale.close();
        SingleInstance window;
        QString holder;
        QCOMPARE(window.Start(&holder), SingleInstance::Acquired);
    }

    // On a full filesystem the lock file still opens and its lock is the lock: a second
    // window start is no second holder.
    void fullDiskStillLocks() {
        const QByteArray fs = QDir::current().absoluteFilePath(QStringLiteral("full")).toUtf8();
        QVERIFY(QDir().mkdir(QStringLiteral("full")));
        if (mount("tmpfs", fs.constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("no tmpfs can be mounted here");
        QVERIFY(QDir::setCurrent(QString::fromUtf8(fs)));
        {
            QFile fill(QStringLiteral("fill"));
            QVERIFY(fill.open(QIODevice::WriteOnly));
            const QByteArray block(4096, 'x');
            while (fill.write(block) == block.size() && fill.flush()) {
            }
        }
        SingleInstance::Outcome first, second;
        {
            SingleInstance one, two;
            QString holder;
            first = one.Start(&holder);
            second = two.Start(&holder);
        }
        QDir::setCurrent(QStringLiteral(".."));
        umount2(fs.constData(), MNT_DETACH);
        QCOMPARE(first, SingleInstance::Acquired);
        QVERIFY2(second != SingleInstance::Acquired, "two windows hold one directory");
    }

    // A directory where nothing can be written (a read-only file system here) needs no lock,
    // and the window still starts there.
    void readOnlyDirectoryStartsWithoutLock() {
        const QByteArray fs = QDir::current().absoluteFilePath(QStringLiteral("ro")).toUtf8();
        QVERIFY(QDir().mkdir(QStringLiteral("ro")));
        if (mount("tmpfs", fs.constData(), "tmpfs", MS_RDONLY, "size=16k") != 0)
            QSKIP("no tmpfs can be mounted here");
        QVERIFY(QDir::setCurrent(QString::fromUtf8(fs)));
        SingleInstance::Outcome outcome;
        {
            SingleInstance window;
            QString holder;
            outcome = window.Start(&holder);
        }
        QDir::setCurrent(QStringLiteral(".."));
        umount2(fs.constData(), MNT_DETACH);
        QCOMPARE(outcome, SingleInstance::Acquired);
    }

    void commandLine_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("dir");
        QTest::addColumn<bool>("hidden");
        QTest::newRow("none") << QStringList() << -1 << QString() << false;
        QTest::newRow("dir and hidden, Qt's own left alone")
            << QStringList{QStringLiteral("-platform"), QStringLiteral("offscreen"),
                           QStringLiteral("--dir=/tmp/x"), QStringLiteral("--hidden")}
            << -1 << QStringLiteral("/tmp/x") << true;
        QTest::newRow("help") << QStringList{QStringLiteral("--help")} << 0 << QString() << false;
        QTest::newRow("unknown") << QStringList{QStringLiteral("--bogus")} << 64 << QString()
                                 << false;
        QTest::newRow("dir and user-dir")
            << QStringList{QStringLiteral("--user-dir"), QStringLiteral("--dir"),
                           QStringLiteral("/tmp/x")}
            << 64 << QStringLiteral("/tmp/x") << false;
        QTest::newRow("dir twice: the last one")
            << QStringList{QStringLiteral("--dir"), QStringLiteral("/tmp/x"),
                           QStringLiteral("--dir=/tmp/y")}
            << -1 << QStringLiteral("/tmp/y") << false;
        QTest::newRow("autostart maybe")
            << QStringList{QStringLiteral("--autostart"), QStringLiteral("maybe")} << 64
            << QString() << false;
    }
    void commandLine() {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, dir);
        QFETCH(bool, hidden);
        std::vector<QByteArray> bytes{QByteArray("brin2")};
        for (const QString& a : args) bytes.push_back(a.toUtf8());
        std::vector<char*> argv;
        for (QByteArray& b : bytes) argv.push_back(b.data());
        StartOptions options;
        QCOMPARE(ReadStartOptions(static_cast<int>(argv.size()), argv.data(), &options), code);
        QCOMPARE(QString::fromStdString(options.dir), dir);
        QCOMPARE(options.hidden, hidden);
    }

    // --autostart on writes a login entry that starts the window hidden in its directory;
    // off removes it.
    void autostartEntry() {
        qputenv("XDG_CONFIG_HOME", QDir::currentPath().toUtf8());
        // The directory as given, and as the Exec line must carry it: quoted when it holds
        // more than plain characters, a '%' doubled (the format's field codes start with one).
        const QStringList dirs[] = {
            {QStringLiteral("/home/u/.config/brin2"), QStringLiteral("/home/u/.config/brin2")},
            {QStringLiteral("/home/u/100% \\sure"), QStringLiteral("\"/home/u/100%% \\\\\\\\sure\"")},
            {QStringLiteral("/srv/%u"), QStringLiteral("\"/srv/%%u\"")},
        };
        for (const QStringList& dir : dirs) {
            QString message;
            QVERIFY(SetAutostart(true, QStringLiteral("/opt/my apps/brin2"),
                                 {QStringLiteral("--dir"), dir[0], QStringLiteral("--hidden")},
                                 &message));
            QFile entry(QStringLiteral("autostart/brin2.desktop"));
            QVERIFY(entry.open(QIODevice::ReadOnly));
            const QString text = QString::fromUtf8(entry.readAll());
            entry.close();
            QVERIFY2(text.contains(QStringLiteral("\nExec=\"/opt/my apps/brin2\" --dir %1 --hidden\n")
                                       .arg(dir[1])),
                     qPrintable(text));
            QVERIFY(text.startsWith(QStringLiteral("[Desktop Entry]\nType=Application\n")));
            QVERIFY(SetAutostart(false, QString(), {}, &message));
            QVERIFY(!entry.exists());
        }
        qunsetenv("XDG_CONFIG_HOME");
    }

private:
    std::unique_ptr<TempDir> work;
};

QTEST_MAIN(StartUpTest)
#include "StartUpTest.moc"
