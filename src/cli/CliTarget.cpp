#include "cli/CliTarget.h"

#include "cli/CliOptions.h"
#include "disk/CPartitionManager.h"
#include "platform/DeviceMap.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr uint64_t kMinimumBytes = 16384; // a boot area must fit

bool IsNumber(const std::string& s) {
    if (s.empty() || s.size() > 6) return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

std::string SystemError(int e) { return std::strerror(e); }
} // namespace

bool ResolveCliTarget(const CliOptions& options, CliTarget& t, std::string& error) {
    if (IsNumber(options.target)) {
        t.diskNo = std::atoi(options.target.c_str());
        t.devicePath = GetDiskDevicePath(t.diskNo);
    } else {
        t.diskNo = RegisterImageDisk(options.target);
        if (t.diskNo < 0) {
            error = SystemError(errno);
            return false;
        }
        t.devicePath = GetDiskDevicePath(t.diskNo);
    }
    uint64_t bytes = 0;
    if (int rc = GetDeviceSize(t.devicePath, bytes)) {
        error = rc == EISDIR ? "is a directory, not a disk or an image file" : SystemError(rc);
        return false;
    }
    int fd = ::open(t.devicePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = SystemError(errno);
        return false;
    }
    unsigned char probe[512];
    ssize_t got = ::pread(fd, probe, sizeof probe, 0);
    int readErrno = errno;
    ::close(fd);
    if (bytes == 0) {
        error = "is empty";
        return false;
    }
    if (got < 0) {
        error = "cannot be read: " + SystemError(readErrno);
        return false;
    }
    if (bytes < kMinimumBytes) {
        error = "is too small to hold a volume (" + std::to_string(bytes) + " bytes, 16384 at least)";
        return false;
    }
    t.deviceSectors = bytes / 512;

    if (options.partition > 0) {
        std::vector<_PARTITION_ITEM_> items;
        CPartitionManager manager;
        manager.GetDiskPartitionItems(t.diskNo, items);
        if (items.empty()) {
            error = "has no partition table";
            return false;
        }
        if (static_cast<size_t>(options.partition) > items.size()) {
            error = "has no partition " + std::to_string(options.partition) + " (it has " + std::to_string(items.size()) + ")";
            return false;
        }
        const _PARTITION_ITEM_& p = items[options.partition - 1];
        t.firstSector = static_cast<long long>(p.u64StartSector);
        t.sectorCount = static_cast<long long>(p.u64EndSector + 1 - p.u64StartSector);
    } else if (options.hasRange) {
        t.firstSector = options.start;
        t.sectorCount = options.count;
    } else {
        t.firstSector = 0;
        t.sectorCount = static_cast<long long>(t.deviceSectors);
    }
    if (static_cast<uint64_t>(t.firstSector) >= t.deviceSectors) {
        error = "ends before sector " + std::to_string(t.firstSector);
        return false;
    }
    // Sectors past the end do not exist: scanning them would only count them
    // missing, for hours when a damaged table claims terabytes.
    const uint64_t available = t.deviceSectors - static_cast<uint64_t>(t.firstSector);
    if (static_cast<uint64_t>(t.sectorCount) > available) {
        t.warning = "the area claims " + std::to_string(t.sectorCount) + " sectors from sector " +
                    std::to_string(t.firstSector) + " but the device ends after " + std::to_string(available) +
                    "; scanning those " + std::to_string(available) + " only";
        t.sectorCount = static_cast<long long>(available);
    }
    return true;
}
