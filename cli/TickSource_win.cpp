// brin-cli's signal dispositions on Windows: no SIGPIPE to ignore.
#include "TickSource.h"

void IgnoreBrokenPipe() {}
