// Windows: no crash dialog that would hold the process (and its memory) open; whether Windows
// Error Reporting keeps a dump is the machine's setting, which a program cannot turn off for
// itself.
#include <windows.h>

#include "core/ProcessHardening.h"

void MarkProcessNotDumpable() {
    SetErrorMode(GetErrorMode() | SEM_NOGPFAULTERRORBOX);
}
