// The volume serial on Linux: the by-UUID disk listing of the directory's device, else its fsid.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include "settings/VolumeSerial.h"

namespace {

const char kByUuid[] = "/dev/disk/by-uuid";

// Every entry of the listing that leads to a block device, with that device.
std::vector<UuidLink> ListByUuid() {
    std::vector<UuidLink> links;
    DIR* dir = opendir(kByUuid);
    if (dir == nullptr) return links;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat st;
        std::string path = std::string(kByUuid) + "/" + name;
        if (stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
            links.push_back({name, static_cast<uint64_t>(st.st_rdev)});
        }
    }
    closedir(dir);
    return links;
}

}  // namespace

uint32_t VolumeSerialNumber() {
    struct stat here;
    if (stat(".", &here) != 0) return 0;
    struct statvfs vfs;
    uint64_t fsid = statvfs(".", &vfs) == 0 ? static_cast<uint64_t>(vfs.f_fsid) : 0;
    return ChooseVolumeSerial(static_cast<uint64_t>(here.st_dev), ListByUuid(), fsid);
}
