// The login field, the login echo rule and the server-side payload builder.
#include "core/Wire.h"

#include <cstring>

namespace wire {

void WriteLoginField(uint8_t* field, const char* login) {
    std::memset(field, 0, kLoginFieldSize);
    for (size_t i = 0; i < kLoginFieldSize && login[i] != '\0'; ++i)
        field[i] = static_cast<uint8_t>(login[i]);
}

bool LoginEchoMatches(const uint8_t* echo, const uint8_t* own) {
    for (size_t i = 0; i < kLoginFieldSize; ++i) {
        if (echo[i] != own[i]) return false;
        if (own[i] == 0) return true;
    }
    return true;
}

bool PayloadBuilder::AddRecord(uint8_t type, const uint8_t* value, size_t length) {
    if (type == kRecEnd || length > 255) return false;
    // The record and the closing zero byte must fit in what one POLL_REPLY can
    // carry: a longer list would make a datagram the client refuses whole.
    if (used_ + kRecordHeaderSize + length + 1 > kMaxPayload) return false;
    data_[used_] = type;
    data_[used_ + 1] = static_cast<uint8_t>(length);
    if (length > 0) std::memcpy(data_ + used_ + kRecordHeaderSize, value, length);
    used_ += kRecordHeaderSize + length;
    return true;
}

bool PayloadBuilder::AddBalance(int32_t balance) {
    uint8_t value[kBalanceValueSize];
    PutLe(value, static_cast<uint32_t>(balance), 4);
    return AddRecord(kRecBalance, value, sizeof value);
}

bool PayloadBuilder::AddCounterValue(uint64_t id, int64_t bytes) {
    uint8_t value[kCounterValueSize];
    PutLe(value, id, 8);
    PutLe(value + 8, static_cast<uint64_t>(bytes), 8);
    return AddRecord(kRecCounterValue, value, sizeof value);
}

bool PayloadBuilder::AddCounterName(uint64_t id, const char* name) {
    uint8_t value[kCounterNameSize] = {};
    PutLe(value, id, 8);
    for (size_t i = 0; i < kCounterNameTextSize && name[i] != '\0'; ++i)
        value[8 + i] = static_cast<uint8_t>(name[i]);
    return AddRecord(kRecCounterName, value, sizeof value);
}

bool PayloadBuilder::AddMessage(int32_t time, const char* text) {
    uint8_t value[kMessageValueSize] = {};
    PutLe(value, static_cast<uint32_t>(time), 4);
    size_t n = 0;
    while (n < kMessageTextSize && text[n] != '\0') ++n;
    std::memcpy(value + 4, text, n);
    // The text's zero byte travels inside the record; a 248-byte text fills the field.
    size_t length = 4 + n + (n < kMessageTextSize ? 1 : 0);
    return AddRecord(kRecMessage, value, length);
}

size_t PayloadBuilder::Size() const {
    size_t size = (used_ + 1 + 7) / 8 * 8;
    return size < kMaxPayload ? size : kMaxPayload;
}

}  // namespace wire
