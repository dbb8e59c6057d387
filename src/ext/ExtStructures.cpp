#include "ext/ExtStructures.h"

#include <cstring>

namespace {
bool IsPowerOf(uint32_t g, uint32_t base) {
    if (g == 0) return false;
    while (g % base == 0) g /= base;
    return g == 1;
}

uint32_t Round4(uint32_t n) { return (n + 3) & ~3u; }

bool NameIsSound(const ByteView& v, size_t off, uint32_t len) {
    const uint8_t* p = v.ptr(off, len);
    if (!p) return false;
    for (uint32_t i = 0; i < len; ++i)
        if (p[i] == 0 || p[i] == '/') return false;
    if (len == 1 && p[0] == '.') return false;
    if (len == 2 && p[0] == '.' && p[1] == '.') return false;
    return true;
}
} // namespace

bool ParseExtSuperblock(const ByteView& v, EXT_SUPERBLOCK& sb) {
    if (!v.has(0, 1024) || v.le16(0x38) != kExtMagic) return false;
    EXT_SUPERBLOCK s;
    const uint32_t logBlock = v.le32(0x18);
    if (logBlock > 6) return false; // 1 KiB to 64 KiB
    s.nBlockSize = 1024u << logBlock;
    s.nInodeCount = v.le32(0x00);
    s.nFirstDataBlock = v.le32(0x14);
    s.nBlocksPerGroup = v.le32(0x20);
    s.nInodesPerGroup = v.le32(0x28);
    s.nFeatureCompat = v.le32(0x5C);
    s.nFeatureIncompat = v.le32(0x60);
    s.nFeatureRoCompat = v.le32(0x64);
    s.nBlockGroupNr = v.le16(0x5A);
    if (v.le32(0x4C) >= 1) {
        s.nInodeSize = v.le16(0x58);
        s.nJournalInode = v.le32(0xE0);
        s.nFirstMetaBg = v.le32(0x104);
    }
    s.u64BlockCount = v.le32(0x04);
    if (s.Is64Bit()) {
        s.u64BlockCount |= uint64_t(v.le32(0x150)) << 32;
        s.nDescSize = v.le16(0xFE);
        if (s.nDescSize < 32 || s.nDescSize > 1024 || (s.nDescSize & (s.nDescSize - 1))) return false;
    }
    if (s.nInodeSize < 128 || s.nInodeSize > s.nBlockSize || (s.nInodeSize & (s.nInodeSize - 1))) return false;
    if (s.nBlocksPerGroup == 0 || s.nBlocksPerGroup > 8 * s.nBlockSize) return false;
    if (s.nInodesPerGroup == 0 || s.nInodesPerGroup > 8 * s.nBlockSize) return false;
    if (s.nFirstDataBlock != (s.nBlockSize == 1024 ? 1u : 0u)) return false;
    if (s.u64BlockCount <= s.nFirstDataBlock) return false;
    const uint64_t groups = (s.u64BlockCount - s.nFirstDataBlock + s.nBlocksPerGroup - 1) / s.nBlocksPerGroup;
    if (groups == 0 || groups > 0xFFFFFFFFull) return false;
    s.nGroupCount = uint32_t(groups);
    if (uint64_t(s.nInodesPerGroup) * s.nGroupCount < s.nInodeCount) return false;
    v.copy(0x78, s.szLabel, 16);
    s.szLabel[16] = 0;
    sb = s;
    return !v.bad();
}

const char* ExtVersionName(const EXT_SUPERBLOCK& sb) {
    // extents, 64-bit, flex_bg or huge files mark the fourth version.
    if ((sb.nFeatureIncompat & (0x40 | 0x80 | 0x200)) || (sb.nFeatureRoCompat & 0x8)) return "ext4";
    if (sb.HasJournal()) return "ext3";
    return "ext2";
}

bool ExtGroupHasSuper(const EXT_SUPERBLOCK& sb, uint32_t g) {
    if (g <= 1 || !sb.HasSparseSuper()) return true;
    return IsPowerOf(g, 3) || IsPowerOf(g, 5) || IsPowerOf(g, 7);
}

uint64_t ExtDescriptorBlock(const EXT_SUPERBLOCK& sb, uint32_t g) {
    const uint32_t perBlock = sb.nBlockSize / sb.nDescSize;
    const uint32_t index = g / perBlock;
    if (!sb.HasMetaBg() || index < sb.nFirstMetaBg) return uint64_t(sb.nFirstDataBlock) + 1 + index;
    const uint32_t first = index * perBlock;
    return uint64_t(sb.nFirstDataBlock) + uint64_t(first) * sb.nBlocksPerGroup + (ExtGroupHasSuper(sb, first) ? 1 : 0);
}

std::vector<uint64_t> ExtBackupSuperblockOffsets(uint64_t volumeBytes) {
    std::vector<uint64_t> out;
    static const uint32_t kGroups[] = {1, 3, 5, 7, 9, 25, 27, 49};
    for (uint32_t bs = 1024; bs <= 65536; bs *= 2) {
        const uint64_t perGroup = 8ull * bs;
        const uint64_t first = bs == 1024 ? 1 : 0;
        for (uint32_t g : kGroups) {
            const uint64_t off = (first + g * perGroup) * bs;
            if (off + 1024 <= volumeBytes) out.push_back(off);
        }
    }
    return out;
}

bool ParseExtGroupDesc(const ByteView& v, const EXT_SUPERBLOCK& sb, EXT_GROUP_DESC& gd) {
    if (!v.has(0, 32)) return false;
    EXT_GROUP_DESC d;
    d.u64BlockBitmap = v.le32(0x00);
    d.u64InodeBitmap = v.le32(0x04);
    d.u64InodeTable = v.le32(0x08);
    d.nFlags = v.le16(0x12);
    if (sb.Is64Bit() && sb.nDescSize >= 64 && v.has(0, 64)) {
        d.u64BlockBitmap |= uint64_t(v.le32(0x20)) << 32;
        d.u64InodeBitmap |= uint64_t(v.le32(0x24)) << 32;
        d.u64InodeTable |= uint64_t(v.le32(0x28)) << 32;
    }
    const uint64_t tableBlocks = (uint64_t(sb.nInodesPerGroup) * sb.nInodeSize + sb.nBlockSize - 1) / sb.nBlockSize;
    if (d.u64InodeTable <= sb.nFirstDataBlock || d.u64InodeTable + tableBlocks > sb.u64BlockCount) return false;
    if (!d.BlockUninit() && (d.u64BlockBitmap <= sb.nFirstDataBlock || d.u64BlockBitmap >= sb.u64BlockCount)) return false;
    gd = d;
    return true;
}

bool ParseExtInode(const ByteView& v, EXT_INODE& inode) {
    if (!v.has(0, 128)) return false;
    EXT_INODE n;
    n.nMode = v.le16(0x00);
    n.u64Size = v.le32(0x04) | (uint64_t(v.le32(0x6C)) << 32);
    n.nAtime = v.le32(0x08);
    n.nCtime = v.le32(0x0C);
    n.nMtime = v.le32(0x10);
    n.nDtime = v.le32(0x14);
    n.nLinks = v.le16(0x1A);
    n.nFlags = v.le32(0x20);
    v.copy(0x28, n.Block, sizeof n.Block);
    inode = n;
    return true;
}

void ParseExtDirBlock(const ByteView& v, const EXT_SUPERBLOCK& sb, bool wantDeleted, std::vector<EXT_DIR_ENTRY>& out) {
    const size_t size = v.size();
    size_t pos = 0;
    while (pos + 8 <= size) {
        const uint32_t ino = v.le32(pos);
        const uint32_t recLen = v.le16(pos + 4);
        const uint32_t nameLen = v.u8(pos + 6);
        const uint8_t type = sb.HasFileType() ? v.u8(pos + 7) : 0;
        if (recLen < 8 || recLen % 4 || pos + recLen > size) return; // the rest of the block is not trusted
        // An index block of a hashed folder poses as one empty entry.
        if (pos == 0 && ino == 0 && nameLen == 0 && recLen == size) return;
        size_t slack = pos + (ino != 0 ? Round4(8 + nameLen) : 8);
        if (ino != 0 && nameLen > 0 && 8 + nameLen <= recLen && ino <= sb.nInodeCount) {
            const uint8_t* p = v.ptr(pos + 8, nameLen);
            const bool dots = (nameLen == 1 && p[0] == '.') || (nameLen == 2 && p[0] == '.' && p[1] == '.');
            if (!dots && NameIsSound(v, pos + 8, nameLen)) {
                EXT_DIR_ENTRY e;
                e.nInode = ino;
                e.nFileType = type;
                e.strName.assign(reinterpret_cast<const char*>(p), nameLen);
                out.push_back(e);
            }
            // The root of a hashed folder's index follows "..": it holds no names.
            if (pos == 12 && dots && nameLen == 2 && v.le32(24) == 0 && v.u8(29) == 8) return;
        }
        const size_t end = pos + recLen;
        while (wantDeleted && slack + 12 <= end) {
            const uint32_t dIno = v.le32(slack);
            const uint32_t dRec = v.le16(slack + 4);
            const uint32_t dLen = v.u8(slack + 6);
            const uint8_t dType = sb.HasFileType() ? v.u8(slack + 7) : 0;
            const bool sound = dIno >= 11 && dIno <= sb.nInodeCount && dLen > 0 && dRec >= Round4(8 + dLen) &&
                               dRec % 4 == 0 && slack + 8 + dLen <= end && dType <= 7 &&
                               NameIsSound(v, slack + 8, dLen);
            if (!sound) {
                slack += 4;
                continue;
            }
            EXT_DIR_ENTRY e;
            e.nInode = dIno;
            e.nFileType = dType;
            e.bDeleted = true;
            e.strName.assign(reinterpret_cast<const char*>(v.ptr(slack + 8, dLen)), dLen);
            out.push_back(e);
            slack += Round4(8 + dLen);
        }
        pos = end;
    }
}

bool ExtDirBlockHeads(const ByteView& v, uint32_t& dirInode, uint32_t& parentInode) {
    if (!v.has(0, 24)) return false;
    if (v.le32(0) == 0 || v.le16(4) != 12 || v.u8(6) != 1 || v.u8(8) != '.') return false;
    const uint32_t rec2 = v.le16(16);
    if (v.le32(12) == 0 || rec2 < 12 || rec2 % 4 || 12 + rec2 > v.size() || v.u8(18) != 2 || v.u8(20) != '.' ||
        v.u8(21) != '.')
        return false;
    dirInode = v.le32(0);
    parentInode = v.le32(12);
    return true;
}

bool ParseExtExtentNode(const ByteView& v, uint64_t blockCount, EXT_EXTENT_NODE& node) {
    if (!v.has(0, 12) || v.le16(0) != kExtExtentMagic) return false;
    const uint32_t entries = v.le16(2);
    const uint32_t max = v.le16(4);
    const uint32_t depth = v.le16(6);
    if (entries > max || depth > 5 || !v.has(0, 12 + size_t(max) * 12)) return false;
    EXT_EXTENT_NODE n;
    n.nDepth = uint16_t(depth);
    uint64_t lastLogical = 0;
    for (uint32_t i = 0; i < entries; ++i) {
        const size_t off = 12 + size_t(i) * 12;
        const uint32_t logical = v.le32(off);
        if (i > 0 && logical < lastLogical) return false;
        if (depth == 0) {
            EXT_EXTENT e;
            e.nLogical = logical;
            uint32_t len = v.le16(off + 4);
            if (len > 32768) {
                e.bUninit = true;
                len -= 32768;
            }
            if (len == 0) return false;
            e.nLength = len;
            e.u64Physical = (uint64_t(v.le16(off + 6)) << 32) | v.le32(off + 8);
            if (e.u64Physical == 0 || e.u64Physical + len > blockCount) return false;
            lastLogical = uint64_t(logical) + len;
            n.Leaves.push_back(e);
        } else {
            const uint64_t child = v.le32(off + 4) | (uint64_t(v.le16(off + 8)) << 32);
            if (child == 0 || child >= blockCount) return false;
            lastLogical = logical;
            n.Children.push_back(child);
            n.ChildLogical.push_back(logical);
        }
    }
    node = std::move(n);
    return true;
}

uint32_t ExtPointerEntryCount(const ByteView& v, uint64_t blockCount, uint32_t firstDataBlock) {
    const size_t n = v.size() / 4;
    if (n < 256) return 0;
    size_t used = 0;
    while (used < n && v.le32(used * 4) != 0) ++used;
    if (used == 0) return 0;
    for (size_t i = used; i < n; ++i)
        if (v.le32(i * 4) != 0) return 0;
    for (size_t i = 0; i < used; ++i) {
        const uint32_t b = v.le32(i * 4);
        if (b <= firstDataBlock || b >= blockCount) return 0;
    }
    return uint32_t(used);
}

uint32_t RecogniseExtIndirectBlock(const ByteView& v, uint64_t blockCount, uint32_t firstDataBlock, uint64_t selfBlock) {
    const size_t used = ExtPointerEntryCount(v, blockCount, firstDataBlock);
    if (used == 0) return 0;
    size_t ascending = 0, steps = 0;
    uint32_t prev = 0;
    for (size_t i = 0; i < used; ++i) {
        const uint32_t b = v.le32(i * 4);
        if (i > 0) {
            ++steps;
            if (b > prev) ++ascending;
        }
        prev = b;
    }
    // A lone number could be anything; a real map runs forward almost always.
    if (used == 1) return v.le32(0) == selfBlock + 1 ? 1 : 0;
    // A file that ran out of room near its goal goes on elsewhere, lower down: a few such jumps are allowed.
    if (steps - ascending > 1 + steps / 8) return 0;
    return uint32_t(used);
}

uint32_t JBD2_SUPERBLOCK::TagBytes() const {
    if (CsumV3()) return 16;
    uint32_t n = 12;
    if (CsumV2()) n += 2;
    return Is64Bit() ? n : n - 4;
}

bool ParseJbd2Superblock(const ByteView& v, JBD2_SUPERBLOCK& jsb) {
    if (!v.has(0, 0x54) || v.be32(0) != kJbd2Magic) return false;
    const uint32_t type = v.be32(4);
    if (type != 3 && type != 4) return false;
    JBD2_SUPERBLOCK j;
    j.nBlockSize = v.be32(12);
    j.nMaxLen = v.be32(16);
    j.nFirst = v.be32(20);
    j.nSequence = v.be32(24);
    j.nStart = v.be32(28);
    if (type == 4) j.nIncompat = v.be32(0x28);
    if (j.nBlockSize < 1024 || j.nBlockSize > 65536 || (j.nBlockSize & (j.nBlockSize - 1))) return false;
    if (j.nFirst == 0 || j.nFirst >= j.nMaxLen) return false;
    jsb = j;
    return true;
}

void WalkJbd2Journal(const ByteView& v, const JBD2_SUPERBLOCK& jsb, uint64_t fsBlockCount, std::vector<JBD2_COPY>& out) {
    const uint32_t bs = jsb.nBlockSize;
    uint64_t blocks = v.size() / bs;
    if (blocks > jsb.nMaxLen) blocks = jsb.nMaxLen;
    const uint32_t tagBytes = jsb.TagBytes();
    const uint32_t tail = (jsb.CsumV2() || jsb.CsumV3()) ? 4 : 0;
    uint64_t i = jsb.nFirst;
    while (i < blocks) {
        const size_t base = size_t(i) * bs;
        if (v.be32(base) != kJbd2Magic || v.be32(base + 4) != 1) {
            ++i;
            continue;
        }
        const uint32_t sequence = v.be32(base + 8);
        size_t off = base + 12;
        const size_t end = base + bs - tail;
        uint64_t k = 0;
        while (off + tagBytes <= end) {
            uint64_t fsBlock = v.be32(off);
            uint32_t flags;
            if (jsb.CsumV3()) {
                flags = v.be32(off + 4);
                if (jsb.Is64Bit()) fsBlock |= uint64_t(v.be32(off + 8)) << 32;
            } else {
                flags = v.be16(off + 6);
                if (jsb.Is64Bit()) fsBlock |= uint64_t(v.be32(off + 8)) << 32;
            }
            off += tagBytes;
            if (!(flags & 0x2)) off += 16; // a tag without SAME_UUID carries the UUID
            uint64_t at = i + 1 + k;
            if (at >= jsb.nMaxLen) at = jsb.nFirst + (at - jsb.nMaxLen);
            if (at < blocks && fsBlock < fsBlockCount && !(flags & 0x4)) {
                JBD2_COPY c;
                c.u64FsBlock = fsBlock;
                c.nJournalBlock = uint32_t(at);
                c.nSequence = sequence;
                c.bEscaped = flags & 0x1;
                out.push_back(c);
            }
            ++k;
            if (flags & 0x8) break;
        }
        i += 1 + k;
    }
}
