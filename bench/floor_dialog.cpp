// The floor of brin2's idle cost: a minimal Qt dialog with a label, a 1-second timer whose
// handler does nothing, and a tray icon; a second after it is shown it hides to the tray, as
// brin2 does at its first connection.
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("floor-dialog"));
    QLabel label(QStringLiteral("0.0"), &dialog);
    dialog.resize(433, 283);

    QPixmap picture(16, 16);
    picture.fill(Qt::green);
    QSystemTrayIcon tray{QIcon(picture)};
    tray.setToolTip(QStringLiteral("floor"));
    tray.show();

    int ticks = 0;
    QTimer timer;
    timer.setInterval(1000);
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start();

    dialog.show();
    QTimer::singleShot(1000, &dialog, [&dialog] { dialog.hide(); });
    return app.exec();
}
