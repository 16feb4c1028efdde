// The platform-independent half of the file writers: the injected write failures.
#include "core/TestSeams.h"

namespace {

long injectedReplaceFailure = -1;
long injectedAppendFailure = -1;

void Inject(long* slot, long bytesBeforeFailure) {
    *slot = bytesBeforeFailure < 0 ? -1 : bytesBeforeFailure;
}

long Take(long* slot) {
    const long failure = *slot;
    *slot = -1;
    return failure;
}

}  // namespace

void InjectAtomicWriteFailure(long bytesBeforeFailure) {
    Inject(&injectedReplaceFailure, bytesBeforeFailure);
}

long TakeInjectedAtomicWriteFailure() {
    return Take(&injectedReplaceFailure);
}

void InjectAppendFailure(long bytesBeforeFailure) {
    Inject(&injectedAppendFailure, bytesBeforeFailure);
}

long TakeInjectedAppendFailure() {
    return Take(&injectedAppendFailure);
}
