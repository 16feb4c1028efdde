// What the Windows window shows for an account: brin2.exe's main window, made as the
// program makes it, on the working folder's brin.ini (AutoConnect on), run until the
// provider's first message has come with a poll reply and one more tick has passed;
// then the texts of its value fields, its counter rows and the message box, one per
// line in UTF-8, for window.sh to hold against the server's account.
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTreeWidget>
#include <cstdio>

#include "core/UdpSocket.h"
#include "tests/support/BoxRecorder.h"
#include "ui/Brin2Dlg.h"

namespace {

void Print(const QString& line) {
    const QByteArray bytes = (line + u'\n').toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (!StartSocketLayer()) return 2;
    InstallBoxRecorder();
    Brin2Dlg dlg;
    dlg.OnInitDialog();
    dlg.show();
    QElapsedTimer waited;
    waited.start();
    while (RecordedBoxes().empty() && waited.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    if (RecordedBoxes().empty()) {
        std::fputs("no message came within 30 s\n", stderr);
        return 1;
    }
    const qint64 seen = waited.elapsed();
    while (waited.elapsed() < seen + 1500)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);

    Print(QStringLiteral("balance ") + dlg.balanceLabel->text());
    Print(QStringLiteral("remaining ") + dlg.remainingLabel->text());
    Print(QStringLiteral("status ") + dlg.statusLabel->text());
    for (int i = 0; i < dlg.counterList->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = dlg.counterList->topLevelItem(i);
        Print(QStringLiteral("counter ") + row->text(0) + u'|' + row->text(1));
    }
    for (const RecordedBox& box : RecordedBoxes())
        Print(QStringLiteral("box ") + box.caption + QStringLiteral(": ") + box.text);
    std::fflush(stdout);
    dlg.OnExit();
    return 0;
}
