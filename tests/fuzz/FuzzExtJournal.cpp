// The journal walk over a whole journal (its first block the journal superblock)
// and the folder-block parser over every copy it lists.
#include "FuzzSupport.h"
#include "ext/ExtStructures.h"

ORVALE_FUZZ_TARGET {
    ByteView v(data, size);
    JBD2_SUPERBLOCK jsb;
    if (!ParseJbd2Superblock(v, jsb) || jsb.nBlockSize > 4096) return;
    std::vector<JBD2_COPY> copies;
    WalkJbd2Journal(v, jsb, 1u << 20, copies);
    EXT_SUPERBLOCK sb;
    sb.nBlockSize = jsb.nBlockSize, sb.nInodeCount = 4096, sb.nFeatureIncompat = 0x2;
    std::vector<EXT_DIR_ENTRY> entries;
    for (const JBD2_COPY& c : copies) {
        ByteView block = v.sub(size_t(c.nJournalBlock) * jsb.nBlockSize, jsb.nBlockSize);
        ParseExtDirBlock(block, sb, true, entries);
        uint32_t self = 0, parent = 0;
        EXT_INODE inode;
        ExtDirBlockHeads(block, self, parent), ParseExtInode(block, inode);
    }
}
