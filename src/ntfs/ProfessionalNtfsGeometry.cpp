#include "ntfs/ProfessionalNtfsGeometry.h"

#include "ntfs/ProfessionalNtfsRecord.h"

namespace pro_ntfs {
namespace {
uint64_t Sectors(int64_t clusters, unsigned spc) { return static_cast<uint64_t>(clusters) * spc; }
}  // namespace

bool LocateRecordInMft(const std::vector<__RUNLIST__>& runs, unsigned spc, uint64_t recordIndex, uint64_t& relSector) {
    // The one-run list of a contiguous $MFT guessed by ContiguousMftRun.
    if (runs.size() == 1 && runs.front().u64RunLength == 0) {
        relSector = Sectors(runs.front().n64RunOffset, spc) + kSectorsPerRecord * recordIndex;
        return true;
    }
    return MapMftRecordSector(runs, recordIndex, int(kSectorsPerRecord), int(spc), 0, relSector);
}

bool MftHoldsRecordAt(uint64_t mftKey, const std::vector<__RUNLIST__>& runs, unsigned spc, uint64_t recordIndex,
                      uint64_t recordSector) {
    uint64_t first = 0;
    uint64_t wanted = 0;
    if (!MapMftRecordSector(runs, 0, int(kSectorsPerRecord), int(spc), 0, first) ||
        !MapMftRecordSector(runs, recordIndex, int(kSectorsPerRecord), int(spc), 0, wanted))
        return false;
    return mftKey - first + wanted == recordSector;
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
