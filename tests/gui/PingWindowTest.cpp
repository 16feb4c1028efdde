// The connectivity check window: the script's output shown live, its end, a missing script.
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

#include "ui/PingWindow.h"

class PingWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void finishedRun_data();
    void finishedRun();
    void liveOutputUntilClosed();

private:
    static void WriteScript(const QByteArray& text);
    QPlainTextEdit* Output() const {
        return owner_->findChild<QPlainTextEdit*>(QStringLiteral("pingOutput"));
    }

    QTemporaryDir* dir_ = nullptr;
    QString oldDir_;
    QWidget* owner_ = nullptr;
};

void PingWindowTest::init() {
    dir_ = new QTemporaryDir;
    QVERIFY(dir_->isValid());
    oldDir_ = QDir::currentPath();
    QDir::setCurrent(dir_->path());
    owner_ = new QWidget;
}

void PingWindowTest::cleanup() {
    delete owner_;  // ends the window and any script still running
    owner_ = nullptr;
    QDir::setCurrent(oldDir_);
    delete dir_;
    dir_ = nullptr;
}

void PingWindowTest::WriteScript(const QByteArray& text) {
    QFile file(QStringLiteral("ping.sh"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

void PingWindowTest::finishedRun_data() {
    QTest::addColumn<QByteArray>("script");  // empty: no ping.sh at all
    QTest::addColumn<QStringList>("shown");

    QTest::newRow("output and exit code")
        << QByteArray(
               "echo reply from 127.0.0.1\necho to stderr >&2\nprintf 'no newline'\nexit 3\n")
        << QStringList{QString::fromUtf8("reply from 127.0.0.1\n"),
                       QString::fromUtf8("to stderr\n"), QString::fromUtf8("no newline\n"),
                       QString::fromUtf8("Завершено, код выхода 3.")};
    QTest::newRow("runs in the current directory")
        << QByteArray("pwd\n")
        << QStringList{QString::fromUtf8("$DIR"), QString::fromUtf8("код выхода 0.")};
    QTest::newRow("missing script")
        << QByteArray()
        << QStringList{QString::fromUtf8("Файл ping.sh не найден в текущей папке."),
                       QString::fromUtf8("ping.sh")};
}

void PingWindowTest::finishedRun() {
    QFETCH(QByteArray, script);
    QFETCH(QStringList, shown);
    if (!script.isEmpty()) WriteScript(script);

    RunConnectivityCheck(owner_);
    QPlainTextEdit* output = Output();
    QVERIFY(output != nullptr);
    QVERIFY(output->isReadOnly());
    QVERIFY(output->window()->isVisible());
    shown.replaceInStrings(QStringLiteral("$DIR"), QDir::current().canonicalPath());
    const QString last = shown.last();
    QTRY_VERIFY_WITH_TIMEOUT(output->toPlainText().contains(last), 10000);
    for (const QString& part : shown)
        QVERIFY2(output->toPlainText().contains(part), qPrintable(output->toPlainText()));
}

void PingWindowTest::liveOutputUntilClosed() {
    WriteScript("echo first line\nsleep 30\necho never\n");
    RunConnectivityCheck(owner_);
    QPlainTextEdit* output = Output();
    QVERIFY(output != nullptr);
    // Shown while the script still runs, not only at its end.
    QTRY_VERIFY_WITH_TIMEOUT(output->toPlainText().contains(QString::fromUtf8("first line")),
                             10000);
    QVERIFY(!output->toPlainText().contains(QString::fromUtf8("код выхода")));

    // Closing the window ends the script at once; a new run starts afresh in the same window.
    QElapsedTimer timer;
    timer.start();
    output->window()->close();
    QVERIFY(timer.elapsed() < 5000);
    WriteScript("echo second run\n");
    RunConnectivityCheck(owner_);
    QCOMPARE(Output(), output);
    QTRY_VERIFY_WITH_TIMEOUT(output->toPlainText().contains(QString::fromUtf8("код выхода 0.")),
                             10000);
    QVERIFY(output->toPlainText().contains(QString::fromUtf8("second run")));
    QVERIFY(!output->toPlainText().contains(QString::fromUtf8("first line")));
}

QTEST_MAIN(PingWindowTest)
#include "PingWindowTest.moc"
