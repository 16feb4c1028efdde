// Packet kinds, sizes and offsets of the session protocol: the one place they are written down.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wire {

// Type codes, byte 0 of the 8-byte little-endian header.
constexpr uint8_t kHello = 0x10;
constexpr uint8_t kConfirm = 0x20;
constexpr uint8_t kKeyReply = 0x30;
constexpr uint8_t kPoll = 0x40;
constexpr uint8_t kPollReply = 0x50;
constexpr uint8_t kLogout = 0x60;

constexpr size_t kHeaderSize = 8;
constexpr size_t kLoginFieldSize = 16;
constexpr size_t kPublicFieldSize = 56;
constexpr size_t kMaxDatagram = 2048;

// HELLO: header, client public value (DES, password key).
constexpr size_t kHelloSize = 64;
constexpr size_t kHelloPublicOffset = 8;

// KEY_REPLY: header, server public value (DES), login echo (3DES).
constexpr size_t kKeyReplySize = 80;
constexpr size_t kKeyReplyPublicOffset = 8;
constexpr size_t kKeyReplyEchoOffset = 64;

// CONFIRM and LOGOUT: header, login field (3DES; LOGOUT's rejection form: zeros, clear).
constexpr size_t kConfirmSize = 24;
constexpr size_t kLogoutSize = 24;
constexpr size_t kLoginOffset = 8;

// POLL: header, login field and 64-bit counter, 3DES over bytes 8..31.
constexpr size_t kPollSize = 32;
constexpr size_t kPollCounterOffset = 24;

// POLL_REPLY: 32-byte header (only byte 0 examined), payload up to 2016 bytes.
constexpr size_t kPollReplyHeaderSize = 32;
constexpr size_t kMaxPayload = kMaxDatagram - kPollReplyHeaderSize;

// Payload records: type, length, value.
constexpr uint8_t kRecEnd = 0;
constexpr uint8_t kRecBalance = 1;       // int32 balance (thousandths)
constexpr uint8_t kRecCounterValue = 2;  // uint64 id, int64 byte count
constexpr uint8_t kRecCounterName = 3;   // uint64 id, 16-byte name
constexpr uint8_t kRecMessage = 4;       // int32 time, 248-byte text
constexpr size_t kRecordHeaderSize = 2;
constexpr size_t kBalanceValueSize = 4;
constexpr size_t kCounterValueSize = 16;
constexpr size_t kCounterNameSize = 24;
constexpr size_t kCounterNameTextSize = 16;
constexpr size_t kMessageValueSize = 252;
constexpr size_t kMessageTextSize = 248;

inline void PutLe(uint8_t* p, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint64_t GetLe(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

// The login field: the login's characters, zero bytes after; 16 characters fill it.
void WriteLoginField(uint8_t* field, const char* login);

// Login echo rule: equal up to and including the first zero byte of `own`.
bool LoginEchoMatches(const uint8_t* echo, const uint8_t* own);

// Builds a record list for a POLL_REPLY payload (the server side).
// A record is accepted only while it and the closing zero byte fit in kMaxPayload
// (2016) bytes, so that the reply fits the 2048 bytes a client reads: a longer
// list would make a datagram the client refuses whole. Size() is the list with its
// zero byte, rounded up to a multiple of 8 (never more than kMaxPayload).
// AddRecord refuses type 0 and values over 255 bytes.
class PayloadBuilder {
public:
    bool AddRecord(uint8_t type, const uint8_t* value, size_t length);
    bool AddBalance(int32_t balance);
    bool AddCounterValue(uint64_t id, int64_t bytes);
    bool AddCounterName(uint64_t id, const char* name);  // up to 16 bytes
    // The text is cut at 248 bytes; a shorter one travels with its zero byte.
    bool AddMessage(int32_t time, const char* text);
    size_t Size() const;
    const uint8_t* Data() const { return data_; }
    size_t Used() const { return used_; }

private:
    uint8_t data_[kMaxDatagram] = {};
    size_t used_ = 0;  // bytes of records, without the closing zero
};

}  // namespace wire
