// The serial number of the disk volume holding the current directory: the password scrambling key.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The volume serial of the current directory (per platform). Never fails: a
// directory whose volume has no usable serial gets a stable number of its own.
uint32_t VolumeSerialNumber();

// Reads the serial from a filesystem UUID as the disk listings name it:
// "XXXX-XXXX" (FAT, exFAT) is that 32-bit number, 16 hex digits (NTFS) give
// their last 8, a standard 36-character UUID its first 8. False for any other form.
bool SerialFromUuid(const std::string& uuid, uint32_t* serial);

// One entry of the by-UUID disk listing: its name and the device it leads to.
struct UuidLink {
    std::string uuid;
    uint64_t device;
};

// The rule, free of the machine: the first listed UUID of `directoryDevice` that
// gives a serial; without one, the low and high halves of `fsid` folded together.
uint32_t ChooseVolumeSerial(uint64_t directoryDevice, const std::vector<UuidLink>& byUuid,
                            uint64_t fsid);
