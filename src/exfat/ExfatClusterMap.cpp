#include "exfat/ExfatClusterMap.h"

#include <unordered_set>

namespace {
constexpr uint32_t kEndOfChain = 0xFFFFFFF8u;

uint64_t ClustersFor(const EXFAT_GEOMETRY& g, uint64_t length) {
    const uint64_t cb = g.ClusterBytes();
    return cb ? (length + cb - 1) / cb : 0;
}

void Append(std::vector<EXFAT_RUN>& runs, uint32_t c) {
    if (!runs.empty() && runs.back().nCluster + runs.back().nCount == c) ++runs.back().nCount;
    else runs.push_back({c, 1});
}
} // namespace

int ExfatMapRuns(const EXFAT_GEOMETRY& g, uint32_t first, uint64_t length, EXFAT_LAYOUT layout,
                 const ExfatFatLookup& fat, const EXFAT_BITMAP& bitmap, std::vector<EXFAT_RUN>& runs) {
    runs.clear();
    uint64_t need = ClustersFor(g, length);
    if (need == 0) return 0;
    if (!g.IsDataCluster(first)) return EXFAT_MAP_SHORT;
    if (layout == EXFAT_LAYOUT_FREE_CLUSTERS && bitmap.Known(first) && !bitmap.InUse(first)) {
        for (uint64_t c = first; c < uint64_t(g.nClusterCount) + 2; ++c) {
            if (bitmap.InUse(uint32_t(c))) continue;
            Append(runs, uint32_t(c));
            if (--need == 0) return 0;
        }
        return EXFAT_MAP_SHORT;
    }
    if (layout != EXFAT_LAYOUT_CHAIN || !fat) {
        const uint64_t avail = uint64_t(g.nClusterCount) + 2 - first;
        const uint64_t take = need < avail ? need : avail;
        runs.push_back({first, uint32_t(take)});
        return take == need ? 0 : EXFAT_MAP_SHORT;
    }
    std::unordered_set<uint32_t> seen;
    uint32_t c = first;
    for (;;) {
        if (!seen.insert(c).second) return EXFAT_MAP_SHORT;
        Append(runs, c);
        if (--need == 0) return 0;
        uint32_t next = 0;
        if (!fat(c, next) || next >= kEndOfChain || !g.IsDataCluster(next)) return EXFAT_MAP_SHORT;
        c = next;
    }
}

EXFAT_LAYOUT ExfatDeletedLayout(const EXFAT_GEOMETRY& g, uint32_t first, uint64_t length, bool noFatChain,
                                const ExfatFatLookup& fat, const EXFAT_BITMAP& bitmap) {
    if (noFatChain) return EXFAT_LAYOUT_CONTIGUOUS;
    std::vector<EXFAT_RUN> runs;
    if (fat && ExfatMapRuns(g, first, length, EXFAT_LAYOUT_CHAIN, fat, bitmap, runs) == 0 &&
        !ExfatRunsInUse(runs, bitmap))
        return EXFAT_LAYOUT_CHAIN;
    return bitmap.pBits ? EXFAT_LAYOUT_FREE_CLUSTERS : EXFAT_LAYOUT_CONTIGUOUS;
}

bool ExfatRunsInUse(const std::vector<EXFAT_RUN>& runs, const EXFAT_BITMAP& bitmap) {
    for (const EXFAT_RUN& r : runs)
        for (uint32_t i = 0; i < r.nCount; ++i)
            if (bitmap.InUse(r.nCluster + i)) return true;
    return false;
}
