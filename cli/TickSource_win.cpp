// brin-cli's signal dispositions on Windows: no SIGPIPE to ignore.
#include "cli/TickSource.h"

void IgnoreBrokenPipe() {}
