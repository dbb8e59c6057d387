// The quick NTFS engine's walk of the $MFT and of $Bitmap on a volume whose
// boot sector, first MFT records and a data area come from the input: the scan,
// the free-cluster map and its extents, and saving every listed file.
#include "FuzzSupport.h"

#include "ntfs/CFastNtfsRecovery.h"

#include <fcntl.h>

namespace {
bool WriteAt(int fd, const uint8_t* data, size_t size, uint64_t offset) {
    return size == 0 || ::pwrite(fd, data, size, off_t(offset)) == ssize_t(size);
}
} // namespace

// Input: the boot sector (512 bytes), 16 KiB of records placed where the boot
// sector puts the $MFT (inside the 8 MiB image), then bytes at 4 MiB.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 512) return 0;
    constexpr uint64_t kImageBytes = 8u << 20, kDataAt = 4u << 20;
    constexpr size_t kMftBytes = 16384;
    const std::string& dir = FuzzFreshLog();
    const std::string path = dir + "/quickntfs.img";
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
    CFastNtfsRecovery engine;
    std::wstring wide = Utf8ToWide(path.c_str());
    if (!written || engine.Init(&wide[0], L'C') != 0) return 0;
    if (engine.ScanDevice(nullptr) == 0) FuzzWalk(engine, dir + "/quickntfs.out");
    FuzzFreeExtents(engine);
    return 0;
}
