// The platform-independent half of the atomic file replacement: the injected write failure.
#include "AtomicFile.h"

namespace {
long injectedFailure = -1;
}

void InjectAtomicWriteFailure(long bytesBeforeFailure) {
    injectedFailure = bytesBeforeFailure < 0 ? -1 : bytesBeforeFailure;
}

long TakeInjectedAtomicWriteFailure() {
    long failure = injectedFailure;
    injectedFailure = -1;
    return failure;
}
