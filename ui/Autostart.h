// Starting the window at login: an entry the desktop session reads, written or removed on request.
#pragma once

#include <QString>
#include <QStringList>

// The running program's own file, as the login entry names it.
QString ProgramPath();

// Writes (on) or removes (off) the login entry that starts `program` with `arguments`.
// Returns false with `message` saying why; on success `message` says what was done.
bool SetAutostart(bool on, const QString& program, const QStringList& arguments, QString* message);
