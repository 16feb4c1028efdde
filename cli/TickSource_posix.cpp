// brin-cli's signal dispositions on POSIX.
#include <signal.h>

#include "cli/TickSource.h"

void IgnoreBrokenPipe() {
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}
