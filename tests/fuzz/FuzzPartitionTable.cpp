// Partition tables (MBR with its EBR chain, GPT, APM) of a disk made of the input, and the volumes inside.
#include "FuzzSupport.h"
#include "disk/CPartitionManager.h"

ORVALE_FUZZ_TARGET {
    if (FuzzDisk("table.img", 4242, data, size).empty()) return;
    CPartitionManager manager;
    std::vector<_PARTITION_ITEM_> items;
    manager.GetDiskPartitionItems(4242, items);
    const char* bytes = reinterpret_cast<const char*>(data);
    CPartitionManager::IsMBR(bytes, int(size)), CPartitionManager::IsAPM(bytes, int(size)), CPartitionManager::IsEFI(bytes, int(size));
}
