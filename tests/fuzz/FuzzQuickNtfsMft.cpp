// The quick NTFS engine's walk of the $MFT and of $Bitmap on a volume whose
// boot sector, first MFT records and a data area come from the input: the scan,
// the free-cluster map and its extents, and saving every listed file.
#include "FuzzEnvironment.h"

#include "engine/CLogFileManager.h"
#include "ntfs/CFastNtfsRecovery.h"
#include "platform/TextCodec.h"

#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <vector>

namespace {
constexpr uint64_t kImageBytes = 8u << 20;
constexpr size_t kMftBytes = 16384;
constexpr uint64_t kDataAt = 4u << 20;

bool WriteAt(int fd, const uint8_t* data, size_t size, uint64_t offset) {
    return size == 0 || ::pwrite(fd, data, size, off_t(offset)) == ssize_t(size);
}

void Walk(CFastNtfsRecovery& engine, _FILE_NODE_* parent, unsigned level, const std::string& out, int& saves) {
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

// Input: the boot sector (512 bytes), 16 KiB of records placed where the boot
// sector puts the $MFT (inside the 8 MiB image), then bytes at 4 MiB.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 512) return 0;
    const std::string& dir = FuzzEnvironmentDir();
    CLogFileManager::GetInstance()->Reload();
    const std::string path = dir + "/quickntfs.img", out = dir + "/quickntfs.out";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return 0;
    uint64_t mftCluster = 0;
    std::memcpy(&mftCluster, data + 0x30, 8);
    const uint64_t clusterBytes = uint64_t(data[0x0B] | data[0x0C] << 8) * data[0x0D];
    const uint64_t mftAt = clusterBytes ? (mftCluster * clusterBytes) % (kImageBytes - kMftBytes) : 16384;
    const size_t mft = std::min(size - 512, kMftBytes);
    const size_t rest = std::min<size_t>(size - 512 - mft, kImageBytes - kDataAt);
    const bool written = ::ftruncate(fd, off_t(kImageBytes)) == 0 && WriteAt(fd, data, 512, 0) &&
                         WriteAt(fd, data + 512, mft, mftAt) && WriteAt(fd, data + 512 + mft, rest, kDataAt);
    ::close(fd);
    if (!written) return 0;
    CFastNtfsRecovery engine;
    std::wstring wide = Utf8ToWide(path.c_str());
    if (engine.Init(&wide[0], L'C') != 0) return 0;
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
