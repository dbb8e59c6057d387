#include "ui/MediaList.h"

#include <cstdio>
#include <cstring>
#include <map>

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

std::vector<MEDIA_DISK> ListMediaDisks() {
    std::map<int, std::vector<_PARTITION_ITEM_>> tables;
    CPartitionManager manager;
    manager.GetPartitionItems(tables);
    std::map<int, uint64_t> sizes;
    CPartitionManager::GetDiskList(sizes);

    std::map<int, MEDIA_DISK> disks;
    for (const auto& [n, sectors] : sizes) disks[n] = MEDIA_DISK{n, sectors, {}};
    for (const auto& [n, items] : tables) {
        auto it = disks.try_emplace(n, MEDIA_DISK{n, 0, {}}).first;
        it->second.partitions = items;
    }
    std::vector<MEDIA_DISK> list;
    for (auto& entry : disks) list.push_back(std::move(entry.second));
    return list;
}
