// The quick FAT engine's chain walks (folder chains, loops, lost high words), the
// free-cluster map and saving every listed file, on a 1 MiB volume of one-sector
// clusters: one byte picks FAT16 (1 reserved sector, two FATs of 8, 512 root entries)
// or FAT32 (32 reserved, two FATs of 16, root in cluster 2); then the first FAT,
// then the root folder and data clusters from the start of the data area.
#include "FuzzSupport.h"
#include "fat/CFastFatRecovery.h"
#include "../fixtures/Le.h"

ORVALE_FUZZ_TARGET {
    if (size < 1) return;
    const std::string& dir = FuzzFreshLog();
    const bool fat32 = data[0] & 1;
    ++data, --size;
    std::vector<uint8_t> image(2048 * 512, 0);
    std::memcpy(&image[0], "\xEB\x3C\x90MSWIN4.1", 11);
    PutLe16(image, 0x0B, 512), image[0x0D] = 1, PutLe16(image, 0x0E, fat32 ? 32 : 1), image[0x10] = 2;
    PutLe16(image, 0x11, fat32 ? 0 : 512), PutLe16(image, 0x13, 2048), image[0x15] = 0xF8;
    if (fat32) PutLe32(image, 0x24, 16), PutLe32(image, 0x2C, 2), std::memcpy(&image[0x52], "FAT32   ", 8);
    else PutLe16(image, 0x16, 8), std::memcpy(&image[0x36], "FAT16   ", 8);
    image[510] = 0x55, image[511] = 0xAA;
    const size_t fatStart = (fat32 ? 32 : 1) * 512, fatBytes = (fat32 ? 16 : 8) * 512;
    const size_t dataStart = fat32 ? (32 + 32) * 512 : (1 + 16) * 512, fatPart = std::min(size, fatBytes);
    std::memcpy(&image[fatStart], data, fatPart);
    std::memcpy(&image[dataStart], data + fatPart, std::min(size - fatPart, image.size() - dataStart));
    CFastFatRecovery engine;
    if (FuzzDisk("quickfat.img", 4244, image.data(), image.size()).empty() || engine.Init(4244, 0, 2048, L'C') != 0) return;
    if (engine.ScanDevice(nullptr) == 0) FuzzWalk(engine, dir + "/quickfat.out");
    FuzzFreeExtents(engine);
}
