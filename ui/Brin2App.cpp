// Start-up: socket layer, the main window run to its end, and the outside requests that end it.
#include "Brin2App.h"

#include <QSessionManager>

#include "Brin2Dlg.h"
#include "ExitSignals.h"
#include "MessageBox.h"
#include "UdpSocket.h"

Brin2App::Brin2App(int& argc, char** argv) : QApplication(argc, argv) {
    // The window hides to the tray and message boxes come and go: closing the
    // last visible window must not end the program; only the Exit path does.
    setQuitOnLastWindowClosed(false);
}

bool Brin2App::InitInstance() {
    if (!StartSocketLayer()) {
        ShowMessageBox(nullptr, QStringLiteral("Windows sockets initialization failed."),
                       ProgramName(), BoxIcon::Warning);
        return false;
    }
    Brin2Dlg dlg;
    // A termination signal or the end of the desktop session takes the Exit path,
    // so the server hears the LOGOUT.
    InstallExitSignals(&dlg, [&dlg] { dlg.OnExit(); });
    connect(this, &QGuiApplication::commitDataRequest, &dlg, [&dlg](QSessionManager&) {
        if (dlg.exitRequested == 0) dlg.OnExit();
    });
    dlg.DoModal();
    return true;
}
