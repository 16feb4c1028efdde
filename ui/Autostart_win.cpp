// Login start on Windows: the user's Run key.
#include <windows.h>

#include <QDir>
#include <QSettings>

#include "ui/Autostart.h"

QString ProgramPath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return QString::fromWCharArray(path);
}

bool SetAutostart(bool on, const QString& program, const QStringList& arguments, QString* message) {
    QSettings run(
        QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"),
        QSettings::NativeFormat);
    if (!on) {
        run.remove(QStringLiteral("brin2"));
        *message = QStringLiteral("autostart off");
        return run.status() == QSettings::NoError;
    }
    QString command = u'"' + QDir::toNativeSeparators(program) + u'"';
    for (const QString& a : arguments) command += QStringLiteral(" \"") + a + u'"';
    run.setValue(QStringLiteral("brin2"), command);
    run.sync();
    *message = QStringLiteral("autostart on");
    return run.status() == QSettings::NoError;
}
