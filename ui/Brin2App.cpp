// Start-up: the command line, the directory and its lock, the socket layer, the main window run
// to its end, and the outside requests that end it.
#include "ui/Brin2App.h"

#include <QDir>
#include <QFile>
#include <QSessionManager>

#include "core/UdpSocket.h"
#include "core/WorkDir.h"
#include "ui/Brin2Dlg.h"
#include "ui/ExitSignals.h"
#include "ui/MessageBox.h"
#include "ui/PingWindow.h"
#include "ui/SingleInstance.h"
#include "ui/Translation.h"

namespace {

// The example connectivity check installed beside the program, for a directory without one.
void ProvideExampleScript() {
    const QString script = ConnectivityScriptName();
    if (QFile::exists(script)) return;
    if (QFile::copy(ExampleConnectivityScript(), script))
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

}  // namespace

Brin2App::Brin2App(int& argc, char** argv) : QApplication(argc, argv) {
    // The window hides to the tray and message boxes come and go: closing the
    // last visible window must not end the program; only the Exit path does.
    setQuitOnLastWindowClosed(false);
    InstallTranslation(*this);
}

int Brin2App::InitInstance(const StartOptions& options) {
    if (!options.dir.empty()) {
        std::string error;
        if (!EnterDirectory(options.dir, options.userDir, &error)) {
            ShowMessageBox(nullptr, QString::fromStdString(error), ProgramName(), BoxIcon::Warning);
            return 1;
        }
    }
    // Before anything is read or written there: a directory others may write, or a file
    // or link of another user's, is refused, and nothing in it is touched.
    std::string problem;
    if (!CheckWorkDirectory(options.dir.empty() ? CurrentDirectoryName() : options.dir,
                            &problem)) {
        ShowMessageBox(nullptr, QString::fromStdString(problem), ProgramName(), BoxIcon::Warning);
        return 1;
    }
    if (!options.dir.empty()) ProvideExampleScript();

    SingleInstance instance;
    QString holder;
    switch (instance.Start(&holder)) {
        case SingleInstance::HandedOver:
            return 0;  // the running window shows itself
        case SingleInstance::Busy:
            ShowMessageBox(nullptr,
                           tr("Этой папкой уже пользуется другой клиент (%1):\n%2")
                               .arg(holder, QDir::currentPath()),
                           ProgramName(), BoxIcon::Warning);
            return 1;
        case SingleInstance::Failed:
            ShowMessageBox(nullptr,
                           tr("Не удалось занять папку (%1):\n%2").arg(holder, QDir::currentPath()),
                           ProgramName(), BoxIcon::Warning);
            return 1;
        case SingleInstance::Acquired:
            break;
    }

    if (!StartSocketLayer()) {
        ShowMessageBox(nullptr, QStringLiteral("Windows sockets initialization failed."),
                       ProgramName(), BoxIcon::Warning);
        return 1;
    }
    Brin2Dlg dlg;
    dlg.startHidden = options.hidden;
    connect(&instance, &SingleInstance::ShowRequested, &dlg, &Brin2Dlg::OnShowWindow);
    // A termination signal or the end of the desktop session takes the Exit path,
    // so the server hears the LOGOUT.
    InstallExitSignals(&dlg, [&dlg] { dlg.OnExit(); });
    connect(this, &QGuiApplication::commitDataRequest, &dlg, [&dlg](QSessionManager&) {
        if (dlg.exitRequested == 0) dlg.OnExit();
    });
    dlg.DoModal();
    return 0;
}
