// The connectivity check elsewhere: "sh ping.sh" with its output shown live in a small window.
#include "ui/PingWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QScrollBar>
#include <QStringDecoder>
#include <QVBoxLayout>
#include <QWidget>

#include "core/WorkDir.h"

namespace {

class PingWindow : public QWidget {
    Q_OBJECT

public:
    explicit PingWindow(QWidget* owner) : QWidget(owner, Qt::Window) {
        setObjectName(QStringLiteral("pingWindow"));
        setWindowTitle(tr("Проверка связи с сервером"));
        output_ = new QPlainTextEdit(this);
        output_->setObjectName(QStringLiteral("pingOutput"));
        output_->setReadOnly(true);
        output_->setLineWrapMode(QPlainTextEdit::NoWrap);
        output_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(4, 4, 4, 4);
        layout->addWidget(output_);
        resize(560, 320);

        process_ = new QProcess(this);
        process_->setProcessChannelMode(QProcess::MergedChannels);
        connect(process_, &QProcess::readyReadStandardOutput, this, [this] {
            Append(decoder_.decode(process_->readAllStandardOutput()));
        });
        connect(process_, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
            Append(decoder_.decode(process_->readAllStandardOutput()));
            EndLine();
            if (status == QProcess::CrashExit)
                Append(tr("Сценарий прерван.\n"));
            else
                Append(tr("Завершено, код выхода %1.\n").arg(code));
        });
        connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
            if (error != QProcess::FailedToStart) return;
            EndLine();
            Append(tr("Не удалось запустить sh: %1\n").arg(process_->errorString()));
        });
    }

    ~PingWindow() override {
        disconnect(process_, nullptr, this, nullptr);
        Stop();
    }

    bool Running() const { return process_->state() != QProcess::NotRunning; }

    void Run() {
        output_->clear();
        const QString script = QDir::current().absoluteFilePath(QStringLiteral("ping.sh"));
        if (!QFileInfo(script).isFile()) {
            Append(tr("Файл ping.sh не найден в текущей папке.\n%1\n")
                       .arg(QDir::toNativeSeparators(script)));
            return;
        }
        Append(QStringLiteral("$ sh ping.sh   (%1)\n")
                   .arg(QDir::toNativeSeparators(QDir::currentPath())));
        decoder_ = QStringDecoder(QStringDecoder::System);
        process_->setWorkingDirectory(QDir::currentPath());
        process_->start(QStringLiteral("sh"), {QStringLiteral("ping.sh")});
    }

protected:
    // Closing the window ends a script still running; nothing is left behind.
    void closeEvent(QCloseEvent* event) override {
        Stop();
        QWidget::closeEvent(event);
    }

private:
    void Stop() {
        if (process_->state() == QProcess::NotRunning) return;
        process_->kill();
        process_->waitForFinished(2000);
    }

    void Append(const QString& text) {
        if (text.isEmpty()) return;
        QTextCursor cursor = output_->textCursor();
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(text);
        output_->verticalScrollBar()->setValue(output_->verticalScrollBar()->maximum());
    }

    // The closing lines start on a line of their own, even after output without a final newline.
    void EndLine() {
        const QString all = output_->toPlainText();
        if (!all.isEmpty() && !all.endsWith(QLatin1Char('\n'))) Append(QStringLiteral("\n"));
    }

    QPlainTextEdit* output_;
    QProcess* process_;
    QStringDecoder decoder_{QStringDecoder::System};
};

QPointer<PingWindow> g_window;  // deleted with its owner

}  // namespace

QString ConnectivityScriptName() {
    return QStringLiteral(BRIN_CHECK_SCRIPT);
}

// Installed as share/brin2/ping.sh beside the program's bin/.
QString ExampleConnectivityScript() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../share/brin2/ping.sh");
}

void RunConnectivityCheck(QWidget* owner) {
    // One window per owner, kept (hidden when closed) and reused by the next run.
    if (g_window == nullptr || g_window->parentWidget() != owner) g_window = new PingWindow(owner);
    // A run still going on is left to finish; the window is only brought forward.
    if (!g_window->Running()) g_window->Run();
    g_window->show();
    g_window->raise();
    g_window->activateWindow();
}

#include "PingWindow_posix.moc"
