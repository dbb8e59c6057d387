// The quick FAT engine's chain walks over a small volume whose FAT, root and
// data come from the input: the scan (folder chains, loops, lost high words),
// the free-cluster map and its runs, and saving every listed file.
#include "FuzzSupport.h"

#include "fat/CFastFatRecovery.h"

// Input: one byte choosing FAT16 or FAT32, then the first FAT, then the root
// folder and the data clusters from the start of the data area. The volume is
// 1 MiB of one-sector clusters. FAT16: 1 reserved sector, two FATs of 8 sectors,
// 512 root entries; FAT32: 32 reserved sectors, two FATs of 16, the root in cluster 2.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const std::string& dir = FuzzFreshLog();
    constexpr uint32_t kSectors = 2048;
    const bool fat32 = data[0] & 1;
    ++data, --size;
    std::vector<uint8_t> image(size_t(kSectors) * 512, 0);
    std::memcpy(&image[0], "\xEB\x3C\x90MSWIN4.1", 11);
    FuzzPutLe(image, 0x0B, 512, 2);
    image[0x0D] = 1;
    FuzzPutLe(image, 0x0E, fat32 ? 32 : 1, 2);
    image[0x10] = 2;
    FuzzPutLe(image, 0x11, fat32 ? 0 : 512, 2);
    FuzzPutLe(image, 0x13, kSectors, 2);
    image[0x15] = 0xF8;
    if (fat32) FuzzPutLe(image, 0x24, 16, 4), FuzzPutLe(image, 0x2C, 2, 4), std::memcpy(&image[0x52], "FAT32   ", 8);
    else FuzzPutLe(image, 0x16, 8, 2), std::memcpy(&image[0x36], "FAT16   ", 8);
    image[510] = 0x55, image[511] = 0xAA;
    const size_t fatStart = (fat32 ? 32 : 1) * 512, fatBytes = (fat32 ? 16 : 8) * 512;
    const size_t dataStart = fat32 ? (32 + 32) * 512 : (1 + 16) * 512;
    const size_t fatPart = std::min(size, fatBytes);
    std::memcpy(&image[fatStart], data, fatPart);
    std::memcpy(&image[dataStart], data + fatPart, std::min(size - fatPart, image.size() - dataStart));
    const std::string path = dir + "/quickfat.img";
    if (!FuzzWriteFile(path, image.data(), image.size())) return 0;
    constexpr int kDisk = 4244;
    RegisterDiskPath(kDisk, path);
    CFastFatRecovery engine;
    if (engine.Init(kDisk, 0, kSectors, L'C') != 0) return 0;
    if (engine.ScanDevice(nullptr) == 0) FuzzWalk(engine, dir + "/quickfat.out");
    FuzzFreeExtents(engine);
    return 0;
}
