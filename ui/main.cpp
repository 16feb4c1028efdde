// brin2: the desktop client.
#include "Brin2App.h"
#include "ProcessHardening.h"
#include "StartOptions.h"

int main(int argc, char** argv) {
    MarkProcessNotDumpable();
    StartOptions options;
    const int code = ReadStartOptions(argc, argv, &options);
    if (code >= 0) return code;
    Brin2App app(argc, argv);
    return app.InitInstance(options);
}
