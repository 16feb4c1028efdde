// The connectivity check on Windows: the shell opens ping.bat from the current directory.
#include "ui/PingWindow.h"

#include <windows.h>
#include <shellapi.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include "core/WorkDir.h"
#include "ui/MessageBox.h"

QString ConnectivityScriptName() {
    return QStringLiteral(BRIN_CHECK_SCRIPT);
}

// Installed or unpacked, the example lies beside the program.
QString ExampleConnectivityScript() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/ping.bat");
}

void RunConnectivityCheck(QWidget* owner) {
    const QString script = QDir::current().absoluteFilePath(ConnectivityScriptName());
    if (!QFileInfo(script).isFile()) {
        ShowMessageBox(owner,
                       QCoreApplication::translate("PingWindow", "Файл ping.bat не найден в текущей папке.\n%1")
                           .arg(QDir::toNativeSeparators(script)),
                       ProgramName(), BoxIcon::Warning);
        return;
    }
    // The shell's "open" of a .bat runs it in a console window of its own.
    ShellExecuteW(nullptr, L"open", reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(script).utf16()),
                  nullptr, reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(QDir::currentPath()).utf16()),
                  SW_SHOWNORMAL);
}
