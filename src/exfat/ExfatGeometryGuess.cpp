#include "exfat/ExfatGeometryGuess.h"

#include <algorithm>

namespace {
constexpr size_t kMaxDirClues = 256;
constexpr size_t kMaxStartClues = 4096;
constexpr size_t kMaxFileProbes = 48;
constexpr unsigned kMaxSpcShift = 8; // 128 KiB clusters

// The cluster-2 sector most folder pairs agree on for one cluster size, with its count.
std::pair<uint64_t, unsigned> VoteBase(const EXFAT_GUESS_INPUT& in, uint64_t spc, uint64_t lowest) {
    std::vector<uint64_t> bases;
    const size_t dirs = std::min(in.dirFirstClusters.size(), kMaxDirClues);
    const size_t starts = std::min(in.dirStartSectors.size(), kMaxStartClues);
    for (size_t d = 0; d < dirs; ++d) {
        const uint64_t offset = uint64_t(in.dirFirstClusters[d] - 2) * spc;
        for (size_t s = 0; s < starts; ++s)
            if (in.dirStartSectors[s] >= offset + lowest) bases.push_back(in.dirStartSectors[s] - offset);
    }
    // The root follows its up-case table on volumes as formatted.
    if (in.rootSector && in.upcaseCluster >= 2) {
        const uint64_t root = in.upcaseCluster + (in.upcaseLength + spc * 512 - 1) / (spc * 512);
        if (in.rootSector >= (root - 2) * spc + lowest) bases.push_back(in.rootSector - (root - 2) * spc);
    }
    std::sort(bases.begin(), bases.end());
    std::pair<uint64_t, unsigned> best{0, 0};
    for (size_t i = 0; i < bases.size();) {
        size_t j = i;
        while (j < bases.size() && bases[j] == bases[i]) ++j;
        if (j - i > best.second) best = {bases[i], unsigned(j - i)};
        i = j;
    }
    return best;
}
} // namespace

EXFAT_GUESS GuessExfatGeometry(const EXFAT_GUESS_INPUT& in, uint64_t lowestSector, const ExfatSignatureProbe& probe) {
    EXFAT_GUESS best;
    for (unsigned shift = 0; shift <= kMaxSpcShift; ++shift) {
        const uint64_t spc = 1ull << shift;
        std::pair<uint64_t, unsigned> vote = VoteBase(in, spc, lowestSector);
        std::vector<uint64_t> bases;
        if (vote.second) bases.push_back(vote.first);
        for (uint64_t base : bases) {
            unsigned score = vote.second;
            for (size_t f = 0; probe && f < std::min(in.fileFirstClusters.size(), kMaxFileProbes); ++f)
                if (in.fileFirstClusters[f] >= 2 && probe(f, base + uint64_t(in.fileFirstClusters[f] - 2) * spc)) ++score;
            if (score > best.nScore) best = {uint32_t(spc), base, score};
        }
    }
    if (best.nScore < 2) best.nSectorsPerCluster = 0;
    return best;
}
