#include "ntfs/ProfessionalNtfsGeometry.h"

#include "ntfs/ProfessionalNtfsRecord.h"

namespace pro_ntfs {
namespace {
uint64_t Sectors(int64_t clusters, unsigned spc) { return static_cast<uint64_t>(clusters) * spc; }
}  // namespace

bool LocateRecordInMft(const std::vector<__RUNLIST__>& runs, unsigned spc, uint64_t recordIndex, uint64_t& relSector) {
    const uint64_t target = kSectorsPerRecord * recordIndex;
    uint64_t start = 0;   // first sector of the run inside the $MFT data
    uint64_t volume = 0;  // first sector of the run on the volume
    for (const __RUNLIST__& run : runs) {
        volume += Sectors(run.n64RunOffset, spc);
        if (run.u64RunLength == 0) {
            relSector = volume + target;
            return true;
        }
        const uint64_t length = run.u64RunLength * spc;
        if (start <= target && target - start < length) {
            relSector = target - start + volume;
            return true;
        }
        start += length;
    }
    return false;
}

bool MftHoldsRecordAt(uint64_t mftKey, const std::vector<__RUNLIST__>& runs, unsigned spc, uint64_t recordIndex,
                      uint64_t recordSector) {
    if (runs.empty()) return false;
    const uint64_t target = kSectorsPerRecord * recordIndex;
    const uint64_t first = Sectors(runs.front().n64RunOffset, spc);
    uint64_t start = 0;
    uint64_t volume = 0;
    for (const __RUNLIST__& run : runs) {
        volume += Sectors(run.n64RunOffset, spc);
        const uint64_t length = run.u64RunLength * spc;
        if (length != 0 && start <= target && target - start < length)
            return mftKey + (volume - first) + (target - start) == recordSector;
        start += length;
    }
    return false;
}

uint64_t VolumeStartFromMft(uint64_t mftKey, const std::vector<__RUNLIST__>& runs, unsigned spc, uint64_t fallback) {
    if (runs.empty()) return fallback;
    const uint64_t first = Sectors(runs.front().n64RunOffset, spc);
    if (first == 0 || first > mftKey) return fallback;
    return mftKey - first;
}

bool ContiguousMftRun(uint64_t recordSector, uint64_t volumeStart, uint64_t recordIndex, unsigned spc,
                      __RUNLIST__& run) {
    const uint64_t before = kSectorsPerRecord * recordIndex;
    if (spc == 0 || recordSector < volumeStart || recordSector - volumeStart < before) return false;
    run.u64RunLength = 0;
    run.n64RunOffset = static_cast<int64_t>((recordSector - volumeStart - before) / spc);
    return true;
}

}  // namespace pro_ntfs
