// Wiping secrets the compiler must not optimise away.
#include "core/ProcessHardening.h"

#include <openssl/crypto.h>

void WipeBytes(void* bytes, size_t size) {
    if (bytes != nullptr && size > 0) OPENSSL_cleanse(bytes, size);
}

void WipeString(std::string& text) {
    // The whole capacity: a shorter text may have been written over a longer one.
    if (text.capacity() > 0) WipeBytes(&text[0], text.capacity());
    text.clear();
}
