// Fatal socket failures end the process through here.
#include "core/ProcessExit.h"

#include <cstdlib>

namespace {
void DefaultExit(int code) { std::exit(code); }
ExitHandler g_handler = DefaultExit;
}  // namespace

void ExitOnSocketFailure(int code) {
    g_handler(code);
}

ExitHandler SetExitHandler(ExitHandler handler) {
    ExitHandler old = g_handler;
    g_handler = handler != nullptr ? handler : DefaultExit;
    return old;
}
