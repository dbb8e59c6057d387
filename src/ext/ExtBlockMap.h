#pragma once
// Logical-to-physical block mapping of one inode: direct, indirect, double and
// triple indirect blocks, or an extent tree. The quick and the deep engine both
// read files through it; map blocks come from a fetcher, so the walk itself
// never touches a device.
#include "ext/ExtStructures.h"

#include <cstdint>
#include <functional>
#include <vector>

struct EXT_RUN {
    uint64_t u64Logical = 0;
    uint64_t u64Physical = 0;  // 0: a hole, read as zeros
    uint64_t u64Length = 0;
};

// Fills out with the bytes of one map block; false when it cannot be had.
using ExtBlockFetch = std::function<bool(uint64_t block, std::vector<uint8_t>& out)>;

// Runs covering logical blocks [0, neededBlocks). Returns the count of logical
// blocks the map describes (holes inside included); less than neededBlocks
// when the map ends early or a map block is missing.
uint64_t BuildExtBlockRuns(const EXT_INODE& inode, const EXT_SUPERBLOCK& sb, uint64_t neededBlocks,
                           const ExtBlockFetch& fetch, std::vector<EXT_RUN>& runs);

// True when the inode still holds a map worth following (a non-empty extent
// root or a non-zero block pointer).
bool ExtInodeHasMap(const EXT_INODE& inode, const EXT_SUPERBLOCK& sb);
