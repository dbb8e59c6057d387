// Pointer-block and extent-node recognisers, the linker joining them into file maps,
// and the block mapping of a map, over a volume of 1 KiB blocks any of which may be a map block.
#include "FuzzSupport.h"
#include "ext/ExtBlockMap.h"
#include "ext/ExtMapLinker.h"
#include "ext/ExtStructures.h"

ORVALE_FUZZ_TARGET {
    const size_t bs = 1024, blocks = size / bs;
    if (blocks < 2) return;
    EXT_SUPERBLOCK sb;
    sb.nBlockSize = bs, sb.u64BlockCount = blocks, sb.nFirstDataBlock = 1;
    std::map<uint64_t, std::vector<uint32_t>> pointers;
    std::map<uint64_t, EXT_EXTENT_NODE> nodes;
    for (uint64_t b = 1; b < blocks; ++b) {
        ByteView v(data + b * bs, bs);
        EXT_EXTENT_NODE node;
        if (ParseExtExtentNode(v, blocks, node)) nodes[b] = node;
        if (uint32_t n = RecogniseExtIndirectBlock(v, blocks, 1, b))
            for (uint32_t i = 0; i < n; ++i) pointers[b].push_back(v.le32(i * 4));
    }
    std::vector<EXT_LINKED_FILE> files;
    LinkExtPointerBlocks(pointers, sb, [&](uint64_t b) { return data[(b % blocks) * bs] & 1; }, files);
    LinkExtExtentNodes(nodes, files);
    ExtBlockFetch fetch = [&](uint64_t b, std::vector<uint8_t>& out) {
        return b < blocks && (out.assign(data + b * bs, data + (b + 1) * bs), true);
    };
    EXT_INODE inode;
    std::memcpy(inode.Block, data, sizeof inode.Block);
    inode.nFlags = data[60] & 1 ? 0x80000 : 0;
    std::vector<EXT_RUN> runs;
    BuildExtBlockRuns(inode, sb, blocks * 4, fetch, runs);
    for (const EXT_LINKED_FILE& f : files) {
        std::memcpy(inode.Block, f.Block, sizeof f.Block);
        inode.nFlags = f.bExtents ? 0x80000 : 0;
        BuildExtBlockRuns(inode, sb, f.u64Blocks, fetch, runs);
    }
}
