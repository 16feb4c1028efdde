// Message boxes through one replaceable function.
#include "MessageBox.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>

namespace {

void DefaultHandler(QWidget* owner, const QString& text, const QString& caption, BoxIcon icon) {
    QMessageBox box(owner);
    box.setWindowTitle(caption);
    box.setText(text);
    box.setStandardButtons(QMessageBox::Ok);
    switch (icon) {
        case BoxIcon::None: box.setIcon(QMessageBox::NoIcon); break;
        case BoxIcon::Information: box.setIcon(QMessageBox::Information); break;
        case BoxIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    }
    box.exec();
}

MessageBoxHandler g_handler = DefaultHandler;

}  // namespace

void ShowMessageBox(QWidget* owner, const QString& text, const QString& caption, BoxIcon icon) {
    g_handler(owner, text, caption, icon);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    MessageBoxHandler old = g_handler;
    g_handler = handler != nullptr ? handler : DefaultHandler;
    return old;
}

QString ProgramName() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}
