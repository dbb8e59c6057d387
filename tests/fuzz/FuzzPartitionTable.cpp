// Partition tables (MBR with its EBR chain, GPT, APM) read from a small disk
// image whose bytes are the input; volumes inside are probed as well.
#include "FuzzSupport.h"

#include "disk/CPartitionManager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = FuzzEnvironmentDir() + "/table.img";
    if (!FuzzWriteFile(path, data, size)) return 0;
    constexpr int kDisk = 4242;
    RegisterDiskPath(kDisk, path);
    CPartitionManager manager;
    std::vector<_PARTITION_ITEM_> items;
    manager.GetDiskPartitionItems(kDisk, items);
    const char* bytes = reinterpret_cast<const char*>(data);
    CPartitionManager::IsMBR(bytes, int(size)), CPartitionManager::IsAPM(bytes, int(size)), CPartitionManager::IsEFI(bytes, int(size));
    return 0;
}
