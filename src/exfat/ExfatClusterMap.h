#pragma once
// Where an exFAT file's bytes lie: one contiguous run (NoFatChain, or the
// assumption made for deleted files), or the runs of its FAT chain. Shared by
// the quick and the deep engine; FAT entries come through a look-up, so no I/O here.
#include "exfat/ExfatStructures.h"

#include <cstdint>
#include <functional>
#include <vector>

struct EXFAT_RUN {
    uint32_t nCluster;
    uint32_t nCount;
};

// The raw FAT entry of a cluster; false when it cannot be read.
using ExfatFatLookup = std::function<bool(uint32_t cluster, uint32_t& next)>;

// The allocation bitmap: bit i stands for cluster i + 2, 1 = allocated.
struct EXFAT_BITMAP {
    const uint8_t* pBits = nullptr;
    size_t nBytes = 0;
    bool Known(uint32_t c) const { return pBits && c >= 2 && (c - 2) / 8 < nBytes; }
    bool InUse(uint32_t c) const { return Known(c) && ((pBits[(c - 2) / 8] >> ((c - 2) % 8)) & 1); }
};

// Returned when the chain or the volume ends before the file's length is covered.
constexpr int EXFAT_MAP_SHORT = 30;

enum EXFAT_LAYOUT : uint32_t {
    EXFAT_LAYOUT_CONTIGUOUS = 0,
    EXFAT_LAYOUT_CHAIN = 1,
    // A deleted fragmented file whose chain was cleared: its data is taken to be
    // the free clusters from its first one on, stepping over the clusters of the
    // files still there (which is how it came to be fragmented).
    EXFAT_LAYOUT_FREE_CLUSTERS = 2,
};

// Runs holding length bytes from cluster first in a layout. Loops, free or
// reserved entries and clusters past the volume end the mapping: 0 when length
// is covered, EXFAT_MAP_SHORT when not. A free-cluster layout whose first cluster
// is allocated is read contiguously (and judged overwritten).
int ExfatMapRuns(const EXFAT_GEOMETRY& g, uint32_t first, uint64_t length, EXFAT_LAYOUT layout,
                 const ExfatFatLookup& fat, const EXFAT_BITMAP& bitmap, std::vector<EXFAT_RUN>& runs);

// How a deleted file is read: contiguous when it had no FAT chain; along its
// chain when that still covers the file with free clusters only (many
// implementations leave it); else over the free clusters when the bitmap is
// known; else contiguous, as other tools assume.
EXFAT_LAYOUT ExfatDeletedLayout(const EXFAT_GEOMETRY& g, uint32_t first, uint64_t length, bool noFatChain,
                                const ExfatFatLookup& fat, const EXFAT_BITMAP& bitmap);

// True when any cluster of the runs is allocated now (the data was overwritten).
bool ExfatRunsInUse(const std::vector<EXFAT_RUN>& runs, const EXFAT_BITMAP& bitmap);
