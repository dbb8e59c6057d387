// Partition tables (MBR with its EBR chain, GPT, APM) read from a small disk
// image whose bytes are the input; volumes inside are probed as well.
#include "FuzzEnvironment.h"

#include "disk/CPartitionManager.h"
#include "platform/DeviceMap.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
constexpr int kFuzzDisk = 4242;
std::string ImagePath() {
    // Inside the target's private folder, which goes when the process exits.
    static const std::string path = FuzzEnvironmentDir() + "/table.img";
    return path;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = ImagePath();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    RegisterDiskPath(kFuzzDisk, path);
    CPartitionManager manager;
    std::vector<_PARTITION_ITEM_> items;
    manager.GetDiskPartitionItems(kFuzzDisk, items);
    CPartitionManager::IsMBR(reinterpret_cast<const char*>(data), static_cast<int>(size));
    CPartitionManager::IsAPM(reinterpret_cast<const char*>(data), static_cast<int>(size));
    CPartitionManager::IsEFI(reinterpret_cast<const char*>(data), static_cast<int>(size));
    return 0;
}
