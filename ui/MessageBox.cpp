// Message boxes through one replaceable function.
#include "ui/MessageBox.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QMessageBox>

namespace {

void DefaultHandler(QWidget* owner, const QString& text, const QString& caption, BoxIcon icon) {
    QMessageBox box(owner);
    box.setWindowTitle(caption);
    box.setText(text);
    box.setStandardButtons(QMessageBox::Ok);
    switch (icon) {
        case BoxIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case BoxIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case BoxIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
    }
    if (owner != nullptr) {
        box.setWindowModality(Qt::WindowModal);  // blocks its owner, not the tray icon
        box.exec();
        return;
    }
    // A box without an owner blocks no other window: the main window and the tray
    // menu stay usable while, say, a provider's message waits to be read. The call
    // still returns only when the box is closed.
    box.setWindowModality(Qt::NonModal);
    QEventLoop loop;
    QObject::connect(&box, &QDialog::finished, &loop, &QEventLoop::quit);
    box.show();
    loop.exec();
}

MessageBoxHandler g_handler = DefaultHandler;

}  // namespace

namespace {
bool g_ended = false;
}

void ShowMessageBox(QWidget* owner, const QString& text, const QString& caption, BoxIcon icon) {
    if (g_ended) return;
    g_handler(owner, text, caption, icon);
}

void EndMessageBoxes(bool ended) {
    g_ended = ended;
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    MessageBoxHandler old = g_handler;
    g_handler = handler != nullptr ? handler : DefaultHandler;
    return old;
}

QString ProgramName() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}
