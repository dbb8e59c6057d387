#pragma once
// Links the map blocks a deep pass found anywhere (pointer blocks of ext2/ext3,
// extent-tree nodes of ext4) into whole-file maps. A deleted ext2 file loses
// its inode's pointers, but its indirect blocks stay: the first names the
// file's 13th block, and the 12 before it were laid down just ahead of it, so
// going back over the blocks no live file holds finds them again.
#include "ext/ExtStructures.h"

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

struct EXT_LINKED_FILE {
    uint8_t Block[60] = {0};  // an inode's map, as the file had it
    bool bExtents = false;
    uint64_t u64MapBlock = 0; // the found block the map stands on
    uint64_t u64Blocks = 0;   // logical blocks the map covers
};

using ExtBlockFree = std::function<bool(uint64_t block)>;

// pointerBlocks: block -> its used entries. Single, double-indirect blocks are
// told apart by whether every entry names another found pointer block.
// isFileStart (may be empty) tells whether a block starts a file of a known kind.
void LinkExtPointerBlocks(const std::map<uint64_t, std::vector<uint32_t>>& pointerBlocks, const EXT_SUPERBLOCK& sb,
                          const ExtBlockFree& isFree, std::vector<EXT_LINKED_FILE>& out,
                          const ExtBlockFree& isFileStart = nullptr);

// nodes: block -> a parsed extent node. Every tree top that starts at logical
// block 0 and that no found index block points at is one file.
void LinkExtExtentNodes(const std::map<uint64_t, EXT_EXTENT_NODE>& nodes, std::vector<EXT_LINKED_FILE>& out);

// Writes the map of a file whose direct blocks, single and double indirect
// blocks are given into an inode's 60 bytes.
void ExtPointerMap(const std::vector<uint64_t>& direct, uint64_t single, uint64_t dbl, uint8_t (&block)[60],
                   uint64_t triple = 0);

// A rebuilt file's record carries its map after the name: the name field is
// 256 bytes and a rebuilt file's name is short.
constexpr size_t kExtMapInNameOffset = 192;
struct _FILE_NODE_;
void StoreExtMapInNode(_FILE_NODE_& node, const EXT_LINKED_FILE& f);
bool LoadExtMapFromNode(const _FILE_NODE_& node, EXT_INODE& inode);
