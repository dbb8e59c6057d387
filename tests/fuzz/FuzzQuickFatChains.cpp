// The quick FAT engine's chain walks over a small volume whose FAT, root and
// data come from the input: the scan (folder chains, loops, lost high words),
// the free-cluster map and its runs, and saving every listed file.
#include "FuzzEnvironment.h"

#include "engine/CLogFileManager.h"
#include "fat/CFastFatRecovery.h"
#include "platform/TextCodec.h"

#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <vector>

namespace {
constexpr int kDisk = 4244;
constexpr uint32_t kSectors = 2048; // 1 MiB, one sector per cluster

void Put(std::vector<uint8_t>& b, size_t off, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b[off + size_t(i)] = uint8_t(v >> (8 * i));
}

// FAT16: 1 reserved sector, two FATs of 8 sectors, 512 root entries (32 sectors).
// FAT32: 32 reserved sectors, two FATs of 16 sectors, the root in cluster 2.
std::vector<uint8_t> BootSector(bool fat32) {
    std::vector<uint8_t> b(512, 0);
    b[0] = 0xEB;
    b[1] = 0x3C;
    b[2] = 0x90;
    std::memcpy(&b[3], "MSWIN4.1", 8);
    Put(b, 0x0B, 512, 2);
    b[0x0D] = 1;
    Put(b, 0x0E, fat32 ? 32 : 1, 2);
    b[0x10] = 2;
    Put(b, 0x11, fat32 ? 0 : 512, 2);
    Put(b, 0x13, kSectors, 2);
    b[0x15] = 0xF8;
    if (fat32) {
        Put(b, 0x24, 16, 4);
        Put(b, 0x2C, 2, 4);
        std::memcpy(&b[0x52], "FAT32   ", 8);
    } else {
        Put(b, 0x16, 8, 2);
        std::memcpy(&b[0x36], "FAT16   ", 8);
    }
    b[510] = 0x55;
    b[511] = 0xAA;
    return b;
}

void Walk(CFastFatRecovery& engine, _FILE_NODE_* parent, unsigned level, const std::string& out, int& saves) {
    if (level > 8) return;
    std::vector<_FILE_NODE_> kids;
    if (engine.GetChildrenFileNode(parent, level, kids) != 0) return;
    for (_FILE_NODE_& k : kids) {
        if (k.bIsDir) {
            Walk(engine, &k, level + 1, out, saves);
        } else if (saves++ < 16) {
            std::wstring target = Utf8ToWide(out.c_str());
            engine.SaveFileData(&k, &target[0], 0);
        }
    }
}
} // namespace

// Input: one byte choosing FAT16 or FAT32, then the first FAT, then the root
// folder and the data clusters from the start of the data area.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const std::string& dir = FuzzEnvironmentDir();
    CLogFileManager::GetInstance()->Reload();
    const bool fat32 = data[0] & 1;
    ++data;
    --size;
    std::vector<uint8_t> image(size_t(kSectors) * 512, 0);
    std::vector<uint8_t> boot = BootSector(fat32);
    std::memcpy(image.data(), boot.data(), boot.size());
    const size_t fatStart = (fat32 ? 32 : 1) * 512, fatBytes = (fat32 ? 16 : 8) * 512;
    const size_t dataStart = fat32 ? (32 + 32) * 512 : (1 + 16) * 512;
    const size_t fatPart = std::min(size, fatBytes);
    std::memcpy(&image[fatStart], data, fatPart);
    const size_t rest = std::min(size - fatPart, image.size() - dataStart);
    std::memcpy(&image[dataStart], data + fatPart, rest);
    const std::string path = dir + "/quickfat.img", out = dir + "/quickfat.out";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::write(fd, image.data(), image.size()) != ssize_t(image.size())) {
        if (fd >= 0) ::close(fd);
        return 0;
    }
    ::close(fd);
    RegisterDiskPath(kDisk, path);
    CFastFatRecovery engine;
    if (engine.Init(kDisk, 0, kSectors, L'C') != 0) return 0;
    if (engine.ScanDevice(nullptr) == 0) {
        int saves = 0;
        Walk(engine, nullptr, 0, out, saves);
    }
    if (engine.BuildBitMapInfo() == 0) {
        uint64_t sector = 0, count = 1;
        for (int i = 0; i < 100000 && count != 0; ++i, sector += count) engine.GetUnUsedSectorCount(sector, count);
    }
    return 0;
}
