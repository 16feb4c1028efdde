// The volume serial rule shared by the platforms that find it from filesystem UUIDs.
#include "settings/VolumeSerial.h"

namespace {

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

uint32_t HexValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<uint32_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<uint32_t>(c - 'a' + 10);
    return static_cast<uint32_t>(c - 'A' + 10);
}

// True when `text` matches `pattern`, where 'x' stands for a hex digit and '-' for itself.
bool Matches(const std::string& text, const char* pattern) {
    size_t i = 0;
    for (; pattern[i] != '\0'; ++i) {
        if (i >= text.size()) return false;
        if (pattern[i] == 'x' ? !IsHexDigit(text[i]) : text[i] != pattern[i]) return false;
    }
    return i == text.size();
}

// The hex digits of text[from, to), dashes skipped, as one number (at most 8 digits given).
uint32_t HexNumber(const std::string& text, size_t from, size_t to) {
    uint32_t n = 0;
    for (size_t i = from; i < to; ++i) {
        if (text[i] != '-') n = (n << 4) | HexValue(text[i]);
    }
    return n;
}

}  // namespace

bool SerialFromUuid(const std::string& uuid, uint32_t* serial) {
    if (Matches(uuid, "xxxx-xxxx")) {
        *serial = HexNumber(uuid, 0, 9);
    } else if (Matches(uuid, "xxxxxxxxxxxxxxxx")) {
        *serial = HexNumber(uuid, 8, 16);
    } else if (Matches(uuid, "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx")) {
        *serial = HexNumber(uuid, 0, 8);
    } else {
        return false;
    }
    return true;
}

uint32_t ChooseVolumeSerial(uint64_t directoryDevice, const std::vector<UuidLink>& byUuid,
                            uint64_t fsid) {
    for (const UuidLink& link : byUuid) {
        uint32_t serial;
        if (link.device == directoryDevice && SerialFromUuid(link.uuid, &serial)) return serial;
    }
    return static_cast<uint32_t>(fsid) ^ static_cast<uint32_t>(fsid >> 32);
}
