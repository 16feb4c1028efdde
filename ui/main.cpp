// brin2: the desktop client.
#include "core/ProcessHardening.h"
#include "ui/Brin2App.h"
#include "ui/Console.h"
#include "ui/StartOptions.h"

#include <memory>

int main(int argc, char** argv) {
    MarkProcessNotDumpable();
    AttachStartingConsole();
    StartOptions options;
    const int code = ReadStartOptions(argc, argv, &options);
    if (code >= 0) return code;
    ReleaseStartingConsole();
    std::unique_ptr<WindowSystemGuard> guard(new WindowSystemGuard);
    Brin2App app(argc, argv);
    guard.reset();
    return app.InitInstance(options);
}
