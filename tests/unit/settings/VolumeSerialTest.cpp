// The volume serial rule over an injected by-UUID listing, free of the machine's disks.
#include <gtest/gtest.h>

#include "settings/VolumeSerial.h"

namespace {

struct UuidCase {
    const char* uuid;
    bool known;
    uint32_t serial;
};

const UuidCase kUuidCases[] = {
    {"1A2B-3C4D", true, 0x1A2B3C4D},                               // FAT, exFAT
    {"1a2b-3c4d", true, 0x1A2B3C4D},
    {"0123456789ABCDEF", true, 0x89ABCDEF},                        // NTFS: the last 8 digits
    {"f81d4fae-7dec-11d0-a765-00a0c91e6bf6", true, 0xF81D4FAE},    // standard: the first 8
    {"1A2B3C4D", false, 0},
    {"1A2B-3C4", false, 0},
    {"1A2B-3C4DE", false, 0},
    {"0123456789ABCDEG", false, 0},
    {"f81d4fae-7dec-11d0-a765-00a0c91e6bf", false, 0},
    {"2020-01-01-12-00-00-00", false, 0},                          // disc image date
    {"", false, 0},
};

TEST(VolumeSerialTest, SerialFromEachUuidForm) {
    for (const UuidCase& c : kUuidCases) {
        SCOPED_TRACE(c.uuid);
        uint32_t serial = 0;
        EXPECT_EQ(SerialFromUuid(c.uuid, &serial), c.known);
        if (c.known) {
            EXPECT_EQ(serial, c.serial);
        }
    }
}

TEST(VolumeSerialTest, ChoosesTheDirectorysDeviceElseFoldsFsid) {
    const std::vector<UuidLink> disks = {{"f81d4fae-7dec-11d0-a765-00a0c91e6bf6", 0x801},
                                         {"nonsense", 0x802},
                                         {"1A2B-3C4D", 0x811},
                                         {"0123456789ABCDEF", 0x812}};
    const uint64_t fsid = 0x1122334455667788ULL;
    const uint32_t folded = 0x11223344u ^ 0x55667788u;
    EXPECT_EQ(ChooseVolumeSerial(0x801, disks, fsid), 0xF81D4FAEu);
    EXPECT_EQ(ChooseVolumeSerial(0x811, disks, fsid), 0x1A2B3C4Du);
    EXPECT_EQ(ChooseVolumeSerial(0x812, disks, fsid), 0x89ABCDEFu);
    EXPECT_EQ(ChooseVolumeSerial(0x802, disks, fsid), folded);  // a UUID of no known form
    EXPECT_EQ(ChooseVolumeSerial(0x2a, disks, fsid), folded);   // tmpfs, overlay, network
    EXPECT_EQ(ChooseVolumeSerial(0x2a, {}, fsid), folded);
}

}  // namespace
