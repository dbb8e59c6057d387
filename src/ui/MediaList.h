#pragma once
// The disks a user can pick on the media page: each with its name, size and
// partitions (numbered per disk, with file-system type and label), so that a
// disk without a recognised table can still be scanned whole, and a disk that
// cannot be read is shown with the reason instead of being left out.
#include "disk/CPartitionManager.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct MEDIA_AREA {
    _PARTITION_ITEM_ item;
    int nNumber;        // 1 for a disk's first partition; 0 for the whole disk
    std::string fsType; // "FAT32", "NTFS", "ext4"...; empty when not recognised
    std::string label;  // the volume's own label (UTF-8), else empty
};

struct MEDIA_DISK {
    int nDiskNo;
    uint64_t u64Sectors;  // 0 when the device could not be sized
    std::string path;     // device or image file
    std::string name;     // model, or the image file's name
    std::string error;    // why it cannot be scanned; empty when it can
    std::vector<MEDIA_AREA> areas; // partitions in table order, then the whole disk
};

// Disks in ascending number (every device or ORVALE_DISK_DIR entry that exists,
// readable or not), then the image disks the user opened, in the order given.
std::vector<MEDIA_DISK> ListMediaDisks(const std::vector<int>& imageDisks = {});
MEDIA_DISK DescribeMediaDisk(int diskNo);

// The area of a whole device, from sector 0, named "Whole Disk".
_PARTITION_ITEM_ MakeWholeDiskItem(int diskNo, uint64_t sectors);


// Changes whenever a disk comes or goes or changes size: the names and sizes of
// /sys/block (or of ORVALE_DISK_DIR). Cheap enough to poll.
std::string MediaDevicesSignature();
