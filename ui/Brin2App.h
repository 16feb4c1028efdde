// The application object: starts the socket layer, then runs the main window for the program's
// whole life.
#pragma once

#include <QApplication>

#include "ui/StartOptions.h"

class Brin2App : public QApplication {
    Q_OBJECT
public:
    Brin2App(int& argc, char** argv);

    // Runs the whole program: its command line, then the main window until the Exit
    // path. Returns the exit code: 0, 1 when it could not start, 64 for bad usage.
    int InitInstance(const StartOptions& options = StartOptions());
};
