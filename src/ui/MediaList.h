#pragma once
// The disks a user can pick on the media page: each with its partitions and its
// size, so that a disk without a recognised table can still be scanned whole.
#include "disk/CPartitionManager.h"

#include <cstdint>
#include <string>
#include <vector>

struct MEDIA_DISK {
    int nDiskNo;
    uint64_t u64Sectors; // 0 when the device could not be sized
    std::vector<_PARTITION_ITEM_> partitions;
};

// Disks in ascending number: those with a partition table, and every other disk
// that opens, with its partitions in table order.
std::vector<MEDIA_DISK> ListMediaDisks();

// The area of a whole device, from sector 0, named "Whole Disk".
_PARTITION_ITEM_ MakeWholeDiskItem(int diskNo, uint64_t sectors);
