// Message boxes of the three windows, replaceable so tests never block on one.
#pragma once

#include <QString>

class QWidget;

enum class BoxIcon { None, Information, Warning };

// Handler: owner (may be null), text, caption, icon. The default runs a modal
// QMessageBox with an OK button (its loop keeps the window's timer ticking).
using MessageBoxHandler = void (*)(QWidget* owner, const QString& text, const QString& caption,
                                   BoxIcon icon);

void ShowMessageBox(QWidget* owner, const QString& text, const QString& caption, BoxIcon icon);

// The program is ending (the Exit path ran): from then on ShowMessageBox opens nothing,
// since a box opened now would hold the program after its LOGOUT with no window to
// close it. A new main window (a new run) opens them again.
void EndMessageBoxes(bool ended);
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);  // nullptr restores the default

// The program's name: the executable's file name without its extension.
QString ProgramName();
