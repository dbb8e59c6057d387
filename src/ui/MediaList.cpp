#include "ui/MediaList.h"

#include "disk/VolumeRecognizers.h"
#include "ntfs/NtfsRecordAccess.h"
#include "platform/ByteView.h"
#include "platform/DeviceMap.h"
#include "platform/Portability.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int kMaxDiskNo = 127;
constexpr size_t kVolumeHeadBytes = 0x11000; // reaches the btrfs superblock at 64 KiB

std::string SmallFile(const std::string& path) {
    std::string text;
    if (FILE* f = std::fopen(path.c_str(), "r")) {
        char buf[512];
        text.assign(buf, std::fread(buf, 1, sizeof buf, f));
        std::fclose(f);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What errno says about a disk that cannot be opened, in a user's words.
std::string OpenErrorText(int err) {
    switch (err) {
    case EACCES:
    case EPERM: return "permission denied (reading disks needs administrator rights)";
    case ENOENT: return "missing (the device or file is gone)";
    case ENOMEDIUM: return "no medium in the drive";
    default: return std::strerror(err);
    }
}

// A model for block devices (/sys/block/<dev>/device/model, a card's name, a
// loop device's file), the file's own name for images.
std::string DisplayName(const std::string& path) {
    char real[PATH_MAX];
    std::string resolved = ::realpath(path.c_str(), real) ? std::string(real) : path;
    // A link to an image that is gone still names the image.
    ssize_t n = resolved == path ? ::readlink(path.c_str(), real, sizeof real - 1) : -1;
    if (n > 0) resolved.assign(real, size_t(n));
    struct stat st;
    if (::stat(resolved.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return BaseName(resolved);
    const std::string dev = BaseName(resolved);
    const std::string sys = "/sys/block/" + dev;
    std::string model = SmallFile(sys + "/device/model");
    if (model.empty()) model = SmallFile(sys + "/device/name");
    if (model.empty()) model = BaseName(SmallFile(sys + "/loop/backing_file"));
    return model.empty() ? dev : model + " (" + dev + ")";
}

MEDIA_AREA DescribeArea(int fd, const _PARTITION_ITEM_& item, int number) {
    MEDIA_AREA area{item, number, std::string(), std::string()};
    std::vector<unsigned char> head(kVolumeHeadBytes);
    long got = ReadAt(fd, item.u64StartSector * 512, head.data(), head.size());
    if (got <= 0) return area;
    area.fsType = DescribeVolume(head.data(), size_t(got), area.label);
    if (area.fsType == "exFAT") {
        ReadExfatLabel(fd, item.u64StartSector, head.data(), size_t(got), area.label);
    } else if (area.fsType == "NTFS") {
        ByteView boot(head.data(), size_t(got));
        const uint64_t clusterBytes = uint64_t(boot.le16(11)) * boot.u8(13);
        const int8_t perRecord = static_cast<int8_t>(boot.u8(0x40));
        const uint64_t recordBytes = perRecord < 0 ? (perRecord > -31 ? uint64_t(1) << -perRecord : 0)
                                                   : uint64_t(perRecord) * clusterBytes;
        if (!boot.bad() && clusterBytes && recordBytes && recordBytes <= 65536) {
            // $Volume is record 3, in the $MFT's first run on every volume formatted.
            std::vector<unsigned char> record(recordBytes);
            uint64_t at = item.u64StartSector * 512 + boot.le64(0x30) * clusterBytes + 3 * recordBytes;
            long n = ReadAt(fd, at, record.data(), record.size());
            if (n > 0) area.label = NtfsVolumeLabel(record.data(), size_t(n));
        }
    }
    return area;
}
} // namespace

_PARTITION_ITEM_ MakeWholeDiskItem(int diskNo, uint64_t sectors) {
    _PARTITION_ITEM_ item;
    std::memset(&item, 0, sizeof item);
    item.u64StartSector = 0;
    item.u64EndSector = sectors ? sectors - 1 : 0;
    item.nDiskNo = diskNo;
    const char* name = "Whole Disk";
    for (size_t i = 0; name[i] && 2 * i + 1 < sizeof item.szPartitionName; ++i)
        item.szPartitionName[2 * i] = static_cast<unsigned char>(name[i]);
    std::snprintf(item.szDiskName, sizeof item.szDiskName, "/dev/disk%d", diskNo);
    return item;
}

MEDIA_DISK DescribeMediaDisk(int diskNo) {
    MEDIA_DISK disk{diskNo, 0, GetDiskDevicePath(diskNo), std::string(), std::string(), {}};
    disk.name = DisplayName(disk.path);
    int fd = ::open(disk.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        disk.error = OpenErrorText(errno);
        return disk;
    }
    uint64_t bytes = 0;
    unsigned char first[512];
    if (int rc = GetDeviceSize(disk.path, bytes)) disk.error = OpenErrorText(rc);
    else if (bytes == 0) disk.error = "empty (no medium, or a file of no bytes)";
    else if (bytes < 512) disk.error = "smaller than one sector";
    else if (long got = ReadAt(fd, 0, first, sizeof first); got != long(sizeof first))
        disk.error = std::string("cannot be read: ") + (got < 0 ? std::strerror(errno) : "it ends before its first sector");
    if (!disk.error.empty()) {
        ::close(fd);
        return disk;
    }
    disk.u64Sectors = bytes / 512;
    std::vector<_PARTITION_ITEM_> items;
    CPartitionManager().GetDiskPartitionItems(diskNo, items);
    for (size_t i = 0; i < items.size(); ++i) disk.areas.push_back(DescribeArea(fd, items[i], int(i) + 1));
    // The whole device from sector 0: lost partitions, and cards formatted without a table.
    disk.areas.push_back(DescribeArea(fd, MakeWholeDiskItem(diskNo, disk.u64Sectors), 0));
    ::close(fd);
    return disk;
}

std::vector<MEDIA_DISK> ListMediaDisks(const std::vector<int>& imageDisks) {
    std::vector<MEDIA_DISK> list;
    for (int n = 0; n <= kMaxDiskNo; ++n) {
        // lstat: an image link whose file is gone is a disk to show as missing.
        struct stat st;
        if (::lstat(GetDiskDevicePath(n).c_str(), &st) != 0 && errno == ENOENT) continue;
        list.push_back(DescribeMediaDisk(n));
    }
    for (int n : imageDisks) list.push_back(DescribeMediaDisk(n));
    return list;
}

std::string MediaDevicesSignature() {
    const char* dirEnv = std::getenv("ORVALE_DISK_DIR");
    const bool images = dirEnv && *dirEnv;
    const std::string dir = images ? dirEnv : "/sys/block";
    std::vector<std::string> entries;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            struct stat st;
            std::string size;
            if (images) size = ::stat((dir + "/" + name).c_str(), &st) == 0 ? std::to_string(st.st_size) : "-";
            else size = SmallFile(dir + "/" + name + "/size");
            entries.push_back(name + ":" + size);
        }
        ::closedir(d);
    }
    std::sort(entries.begin(), entries.end());
    std::string signature;
    for (const std::string& e : entries) signature += e + "\n";
    return signature;
}
