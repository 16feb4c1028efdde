// The layout and the encryption of each packet of the session protocol.
#include "core/PacketCodec.h"

#include <cstring>

namespace wire {

namespace {

void SealBlocks(uint8_t* data, int blocks, const SessionKeys& keys) {
    TripleDesEcbBlocks(data, blocks, keys.password, keys.session, 1);
}

void OpenBlocks(uint8_t* data, int blocks, const SessionKeys& keys) {
    TripleDesEcbBlocks(data, blocks, keys.password, keys.session, 0);
}

}  // namespace

void WriteHeader(uint8_t* packet, uint8_t type) {
    PutLe(packet, type, static_cast<int>(kHeaderSize));
}

void SealHello(uint8_t* packet, const DhKeyPair& pair, const uint8_t passwordKey[8]) {
    std::memset(packet, 0, kHelloSize);
    WriteHeader(packet, kHello);
    pair.WritePublic(packet + kHelloPublicOffset);
    DesEcbBlocks(packet + kHelloPublicOffset, kPublicFieldBlocks, passwordKey, 1);
}

void OpenHello(const uint8_t* packet, const uint8_t passwordKey[8], uint8_t publicValue[kDhSize]) {
    std::memcpy(publicValue, packet + kHelloPublicOffset, kPublicFieldSize);
    DesEcbBlocks(publicValue, kPublicFieldBlocks, passwordKey, 0);
}

void SealKeyReply(uint8_t* packet, const DhKeyPair& pair, const uint8_t* loginField,
                  const SessionKeys& keys) {
    std::memset(packet, 0, kKeyReplySize);
    WriteHeader(packet, kKeyReply);
    pair.WritePublic(packet + kKeyReplyPublicOffset);
    DesEcbBlocks(packet + kKeyReplyPublicOffset, kPublicFieldBlocks, keys.password, 1);
    std::memcpy(packet + kKeyReplyEchoOffset, loginField, kLoginFieldSize);
    SealBlocks(packet + kKeyReplyEchoOffset, kLoginFieldBlocks, keys);
}

void SealUnmatchableKeyReply(uint8_t* packet, const DhKeyPair& pair) {
    std::memset(packet, 0, kKeyReplySize);
    WriteHeader(packet, kKeyReply);
    pair.WritePublic(packet + kKeyReplyPublicOffset);
    std::memcpy(packet + kKeyReplyEchoOffset, packet + kKeyReplyPublicOffset, kLoginFieldSize);
    packet[kKeyReplyEchoOffset] ^= 0xFF;
}

void OpenKeyReplyPublic(uint8_t* packet, const uint8_t passwordKey[8]) {
    DesEcbBlocks(packet + kKeyReplyPublicOffset, kPublicFieldBlocks, passwordKey, 0);
}

void OpenKeyReplyEcho(uint8_t* packet, const SessionKeys& keys) {
    OpenBlocks(packet + kKeyReplyEchoOffset, kLoginFieldBlocks, keys);
}

void SealLoginPacket(uint8_t* packet, uint8_t type, const uint8_t* loginField,
                     const SessionKeys& keys) {
    WriteHeader(packet, type);
    std::memcpy(packet + kLoginOffset, loginField, kLoginFieldSize);
    SealBlocks(packet + kLoginOffset, kLoginFieldBlocks, keys);
}

void SealRefusal(uint8_t* packet) {
    std::memset(packet, 0, kLogoutSize);
    WriteHeader(packet, kLogout);
}

void SealPoll(uint8_t* packet, const uint8_t* loginField, uint64_t counter,
              const SessionKeys& keys) {
    WriteHeader(packet, kPoll);
    std::memcpy(packet + kLoginOffset, loginField, kLoginFieldSize);
    PutLe(packet + kPollCounterOffset, counter, 8);
    SealBlocks(packet + kLoginOffset, kPollSealedBlocks, keys);
}

void OpenBody(const uint8_t* sealed, int blocks, const SessionKeys& keys, uint8_t* plain) {
    if (blocks <= 0) return;
    std::memcpy(plain, sealed, static_cast<size_t>(blocks) * kCipherBlockSize);
    OpenBlocks(plain, blocks, keys);
}

size_t SealPollReply(uint8_t* packet, const uint8_t* payload, size_t size,
                     const SessionKeys& keys) {
    std::memset(packet, 0, kPollReplyHeaderSize);
    packet[0] = kPollReply;
    if (size > 0) std::memcpy(packet + kPollReplyHeaderSize, payload, size);
    SealBlocks(packet + kPollReplyHeaderSize, static_cast<int>(size / kCipherBlockSize), keys);
    return kPollReplyHeaderSize + size;
}

void OpenPollReplyPayload(uint8_t* payload, size_t size, const SessionKeys& keys) {
    OpenBlocks(payload, static_cast<int>(size / kCipherBlockSize), keys);
}

}  // namespace wire
