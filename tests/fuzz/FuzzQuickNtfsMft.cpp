// The quick NTFS engine's walk of $MFT and $Bitmap, the free-cluster extents and
// saving every listed file, on a sparse 8 MiB volume: the input's boot sector
// (512 bytes), 16 KiB of records placed where it puts the $MFT, then bytes at 4 MiB.
#include "FuzzSupport.h"
#include "ntfs/CFastNtfsRecovery.h"

#include <fcntl.h>

ORVALE_FUZZ_TARGET {
    if (size < 512) return;
    constexpr uint64_t kImageBytes = 8u << 20, kDataAt = 4u << 20, kMftBytes = 16384;
    const std::string& dir = FuzzFreshLog();
    const std::string path = dir + "/quickntfs.img";
    uint64_t mftCluster = 0;
    std::memcpy(&mftCluster, data + 0x30, 8);
    const uint64_t clusterBytes = uint64_t(data[0x0B] | data[0x0C] << 8) * data[0x0D];
    const uint64_t mftAt = clusterBytes ? (mftCluster * clusterBytes) % (kImageBytes - kMftBytes) : 16384;
    const size_t mft = std::min<size_t>(size - 512, kMftBytes), rest = std::min<size_t>(size - 512 - mft, kImageBytes - kDataAt);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    const bool written = fd >= 0 && ::ftruncate(fd, off_t(kImageBytes)) == 0 && ::pwrite(fd, data, 512, 0) == 512 &&
                         ::pwrite(fd, data + 512, mft, off_t(mftAt)) == ssize_t(mft) &&
                         ::pwrite(fd, data + 512 + mft, rest, off_t(kDataAt)) == ssize_t(rest);
    if (fd >= 0) ::close(fd);
    CFastNtfsRecovery engine;
    if (!written || engine.Init(Utf8ToWide(path.c_str()).data(), L'C') != 0) return;
    if (engine.ScanDevice(nullptr) == 0) FuzzWalk(engine, dir + "/quickntfs.out");
    FuzzFreeExtents(engine);
}
