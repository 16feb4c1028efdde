// Fuzz target: the Pass value's hex decoder. It writes no byte past its pairs, and reads back
// what the encoder wrote, in either case.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "SettingsStore.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string hex(reinterpret_cast<const char*>(data), size);  // up to the first zero
    std::vector<uint8_t> out(32768 + 64, 0xEE);
    SettingsStore::HexToBytes(hex.c_str(), out.data());
    size_t pairs = (static_cast<uint16_t>(std::strlen(hex.c_str())) + 1) / 2;
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
