// The application object: starts the socket layer, then runs the main window for the program's
// whole life.
#pragma once

#include <QApplication>

class Brin2App : public QApplication {
    Q_OBJECT
public:
    Brin2App(int& argc, char** argv);

    // Runs the whole program. False when the socket layer could not be started.
    bool InitInstance();
};
