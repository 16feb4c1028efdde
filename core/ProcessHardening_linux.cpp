// Linux: a process that is not dumpable writes no core file, and ptrace and /proc/PID/mem
// are refused to other processes that are not privileged.
#include <sys/prctl.h>

#include "core/ProcessHardening.h"

void MarkProcessNotDumpable() {
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}
