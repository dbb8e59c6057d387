#pragma once
// On-disk structures of ext2/ext3/ext4 and their journal, read as pure
// functions over bounded byte views: a malformed unit is reported, never read
// past. Nothing here does I/O.
#include "platform/ByteView.h"

#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t kExtSuperblockOffset = 1024;
constexpr uint16_t kExtMagic = 0xEF53;
constexpr uint16_t kExtExtentMagic = 0xF30A;
constexpr uint32_t kJbd2Magic = 0xC03B3998;
constexpr uint32_t kExtRootInode = 2;

struct EXT_SUPERBLOCK {
    uint64_t u64BlockCount = 0;
    uint32_t nInodeCount = 0;
    uint32_t nFirstDataBlock = 0;
    uint32_t nBlockSize = 0;
    uint32_t nBlocksPerGroup = 0;
    uint32_t nInodesPerGroup = 0;
    uint32_t nInodeSize = 128;
    uint32_t nDescSize = 32;
    uint32_t nGroupCount = 0;
    uint32_t nFirstMetaBg = 0;
    uint32_t nJournalInode = 0;
    uint32_t nBlockGroupNr = 0;     // which group's copy this is
    uint32_t nFeatureCompat = 0;
    uint32_t nFeatureIncompat = 0;
    uint32_t nFeatureRoCompat = 0;
    char szLabel[17] = {0};

    bool HasJournal() const { return nFeatureCompat & 0x4; }
    bool HasFileType() const { return nFeatureIncompat & 0x2; }
    bool HasMetaBg() const { return nFeatureIncompat & 0x10; }
    bool HasExtents() const { return nFeatureIncompat & 0x40; }
    bool Is64Bit() const { return nFeatureIncompat & 0x80; }
    bool HasFlexBg() const { return nFeatureIncompat & 0x200; }
    bool HasSparseSuper() const { return nFeatureRoCompat & 0x1; }
};

// The 1024 superblock bytes; false when they describe no usable volume.
bool ParseExtSuperblock(const ByteView& v, EXT_SUPERBLOCK& sb);
// "ext2", "ext3" or "ext4" by the features the superblock declares.
const char* ExtVersionName(const EXT_SUPERBLOCK& sb);
// Whether group g holds a superblock copy (and group descriptors after it).
bool ExtGroupHasSuper(const EXT_SUPERBLOCK& sb, uint32_t g);
// Block holding the descriptor of group g in the primary table (meta_bg aware).
uint64_t ExtDescriptorBlock(const EXT_SUPERBLOCK& sb, uint32_t g);
// Byte offsets at which backup superblocks of the usual geometries stand.
std::vector<uint64_t> ExtBackupSuperblockOffsets(uint64_t volumeBytes);

struct EXT_GROUP_DESC {
    uint64_t u64BlockBitmap = 0;
    uint64_t u64InodeBitmap = 0;
    uint64_t u64InodeTable = 0;
    uint16_t nFlags = 0;
    bool BlockUninit() const { return nFlags & 0x2; }
    bool InodeUninit() const { return nFlags & 0x1; }
};

// One descriptor of the table; false when its blocks lie outside the volume.
bool ParseExtGroupDesc(const ByteView& v, const EXT_SUPERBLOCK& sb, EXT_GROUP_DESC& gd);

struct EXT_INODE {
    uint16_t nMode = 0;
    uint16_t nLinks = 0;
    uint32_t nFlags = 0;
    uint64_t u64Size = 0;
    uint32_t nAtime = 0, nCtime = 0, nMtime = 0, nDtime = 0;
    uint8_t Block[60] = {0};  // block map or extent-tree root

    bool IsDir() const { return (nMode & 0xF000) == 0x4000; }
    bool IsRegular() const { return (nMode & 0xF000) == 0x8000; }
    bool UsesExtents() const { return nFlags & 0x80000; }
    bool HasInlineData() const { return nFlags & 0x10000000; }
    bool IsHashedDir() const { return nFlags & 0x1000; }
};

bool ParseExtInode(const ByteView& v, EXT_INODE& inode);

struct EXT_DIR_ENTRY {
    uint32_t nInode = 0;
    uint8_t nFileType = 0;  // 1 file, 2 folder; 0 without the file-type feature
    bool bDeleted = false;  // found in the slack of a live entry
    std::string strName;
};

// Live entries and, with wantDeleted, entries still standing in the slack of
// their predecessors. Index blocks of hashed folders yield nothing.
void ParseExtDirBlock(const ByteView& v, const EXT_SUPERBLOCK& sb, bool wantDeleted, std::vector<EXT_DIR_ENTRY>& out);
// True when the block opens with the "." and ".." entries of a folder; dirInode gets ".".
bool ExtDirBlockHeads(const ByteView& v, uint32_t& dirInode, uint32_t& parentInode);

struct EXT_EXTENT {
    uint32_t nLogical = 0;
    uint32_t nLength = 0;  // blocks
    uint64_t u64Physical = 0;
    bool bUninit = false;
};

struct EXT_EXTENT_NODE {
    uint16_t nDepth = 0;
    std::vector<EXT_EXTENT> Leaves;     // depth 0
    std::vector<uint64_t> Children;     // depth > 0: blocks of the next level
    std::vector<uint32_t> ChildLogical; // first logical block under each child
};

// An extent-tree node (in the inode's 60 bytes or a whole block); false when
// the header or an entry is not sound for a volume of blockCount blocks.
bool ParseExtExtentNode(const ByteView& v, uint64_t blockCount, EXT_EXTENT_NODE& node);

// A block of 32-bit block numbers as an indirect block of a deleted file leaves
// it: numbers inside the volume, a non-empty prefix followed only by zeros,
// mostly ascending. Returns the count of used entries, 0 when it is not one.
// A single pointer is believed only when it names the very next block (selfBlock + 1),
// as a double-indirect block's first child does.
uint32_t RecogniseExtIndirectBlock(const ByteView& v, uint64_t blockCount, uint32_t firstDataBlock, uint64_t selfBlock);
// The same shape in any order: a double- or triple-indirect block names pointer
// blocks the allocator laid out of order. Entries used, 0 when not that shape.
uint32_t ExtPointerEntryCount(const ByteView& v, uint64_t blockCount, uint32_t firstDataBlock);

// ---- JBD2 (big-endian) ----
struct JBD2_SUPERBLOCK {
    uint32_t nBlockSize = 0;
    uint32_t nMaxLen = 0;
    uint32_t nFirst = 0;
    uint32_t nSequence = 0;
    uint32_t nStart = 0;
    uint32_t nIncompat = 0;
    bool Is64Bit() const { return nIncompat & 0x2; }
    bool CsumV2() const { return nIncompat & 0x8; }
    bool CsumV3() const { return nIncompat & 0x10; }
    uint32_t TagBytes() const;
};

bool ParseJbd2Superblock(const ByteView& v, JBD2_SUPERBLOCK& jsb);

// One file-system block copied into the journal.
struct JBD2_COPY {
    uint64_t u64FsBlock = 0;
    uint32_t nJournalBlock = 0;  // index of the copy inside the journal
    uint32_t nSequence = 0;      // transaction it belongs to
    bool bEscaped = false;       // its first four bytes held the journal magic
};

// Walks every descriptor block still in the journal (v holds the journal's
// blocks in order) and lists the copies their tags describe, old transactions
// included. Revoked blocks are still listed: an old copy is a valid memory.
void WalkJbd2Journal(const ByteView& v, const JBD2_SUPERBLOCK& jsb, uint64_t fsBlockCount, std::vector<JBD2_COPY>& out);
