// Fuzz target: the Pass value's hex decoder. It writes no byte past its pairs, and reads back
// what the encoder wrote, in either case.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "settings/SettingsStore.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string hex(reinterpret_cast<const char*>(data), size);  // up to the first zero
    // The pairs, then a guard: a write past the pairs hits the guard first (the
    // writes go in order), which a run without a sanitizer sees as well.
    const size_t pairs = (static_cast<uint16_t>(std::strlen(hex.c_str())) + 1) / 2;
    constexpr size_t kGuard = 64;
    std::vector<uint8_t> out(pairs + kGuard, 0xEE);
    SettingsStore::HexToBytes(hex.c_str(), out.data());
    for (size_t i = pairs; i < out.size(); ++i) Check(out[i] == 0xEE);

    if (size >= 8) {
        char digits[17];
        SettingsStore::BytesToHex(data, digits);
        for (char& c : digits) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        uint8_t back[8];
        SettingsStore::HexToBytes(digits, back);
        Check(std::memcmp(back, data, 8) == 0);
    }
    return 0;
}
