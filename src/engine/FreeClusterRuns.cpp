#include "engine/FreeClusterRuns.h"

namespace {
bool Bit(const CLUSTER_BITMAP_VIEW& b, uint64_t i) { return (b.pBits[i / 8] >> (i % 8)) & 1; }
} // namespace

int NextFreeClusterRun(const CLUSTER_BITMAP_VIEW& b, uint64_t& sector, uint64_t& count) {
    count = 0;
    if (sector > b.u64SectorCount) {
        sector = b.u64SectorCount;
        return 1;
    }
    if (!b.pBits || b.nSectorsPerCluster == 0) return 1;
    const uint64_t spc = b.nSectorsPerCluster;
    const uint64_t bits = b.nClusterCount < uint64_t(b.nBytes) * 8 ? b.nClusterCount : uint64_t(b.nBytes) * 8;
    // Relative to the data area; a sector inside the system area means its start.
    uint64_t rel = sector > b.nDataStartSector ? sector - b.nDataStartSector : 0;
    uint64_t c = rel / spc;
    if (c < bits) {
        // Skip used clusters (whole bytes at a time where possible).
        uint64_t i = c;
        while (i < bits && Bit(b, i)) {
            if (i % 8 == 0 && i + 8 <= bits && b.pBits[i / 8] == 0xFF) i += 8;
            else ++i;
        }
        if (i < bits) {
            rel += (i - c) * spc;
            uint64_t j = i;
            while (j < bits && !Bit(b, j)) {
                if (j % 8 == 0 && j + 8 <= bits && b.pBits[j / 8] == 0) j += 8;
                else ++j;
            }
            // The run starts at rel, which may sit inside cluster i; it ends with cluster j - 1.
            count = j * spc - rel;
        }
    }
    uint64_t absolute = rel + b.nDataStartSector;
    if (absolute >= b.u64SectorCount) count = 0;
    else if (absolute + count > b.u64SectorCount) count = b.u64SectorCount - absolute;
    sector = absolute;
    return 1;
}
