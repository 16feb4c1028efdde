// Login start on desktops that follow the freedesktop autostart rules:
// $XDG_CONFIG_HOME/autostart/brin2.desktop.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "ui/Autostart.h"

namespace {

QString AutostartFile() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!config.startsWith(u'/')) config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/autostart/brin2.desktop");
}

// One argument of an Exec line: quoted when it holds anything but plain characters.
QString ExecArgument(const QString& word) {
    static const QString plain =
        QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_./=+,:@");
    bool quote = word.isEmpty();
    for (QChar c : word)
        if (!plain.contains(c)) quote = true;
    if (!quote) return word;
    QString out = QStringLiteral("\"");
    for (QChar c : word) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') out += u'\\';
        out += c;
    }
    // The desktop entry format reads a backslash in a value as an escape of its own, and
    // a '%' as the start of a field code: a literal one is "%%".
    return out.replace(QStringLiteral("\\"), QStringLiteral("\\\\"))
               .replace(QStringLiteral("%"), QStringLiteral("%%")) +
           u'"';
}

}  // namespace

QString ProgramPath() {
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

bool SetAutostart(bool on, const QString& program, const QStringList& arguments, QString* message) {
    const QString path = AutostartFile();
    if (!on) {
        if (QFile::exists(path) && !QFile::remove(path)) {
            *message = QStringLiteral("cannot remove %1").arg(path);
            return false;
        }
        *message = QStringLiteral("autostart off: %1 removed").arg(path);
        return true;
    }
    QString exec = ExecArgument(program);
    for (const QString& a : arguments) exec += u' ' + ExecArgument(a);
    const QString entry = QStringLiteral(
                              "[Desktop Entry]\n"
                              "Type=Application\n"
                              "Name=Сорвель-А\n"
                              "Comment=Internet access client, started at login\n"
                              "Exec=%1\n"
                              "Icon=net.sorvel.Brin2\n"
                              "Terminal=false\n"
                              "X-GNOME-Autostart-enabled=true\n")
                              .arg(exec);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(entry.toUtf8()) < 0 || !file.commit()) {
        *message = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    *message = QStringLiteral("autostart on: %1").arg(path);
    return true;
}
