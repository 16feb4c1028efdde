// The volume serial on Windows, as the system reports it for the current directory's volume.
#include <windows.h>

#include "settings/VolumeSerial.h"

uint32_t VolumeSerialNumber() {
    DWORD serial = 0;  // stays 0, a fixed key, when the volume cannot be queried
    GetVolumeInformationA(nullptr, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0);
    return static_cast<uint32_t>(serial);
}
