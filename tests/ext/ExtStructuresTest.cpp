#include "ext/ExtBlockMap.h"
#include "ext/ExtMapLinker.h"
#include "ext/ExtStructures.h"

#include "fixtures/Le.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <map>

namespace {
using Bytes = std::vector<uint8_t>;
void Le16(Bytes& b, size_t o, uint32_t v) { PutLe16(b, o, uint16_t(v)); }
void Le32(Bytes& b, size_t o, uint32_t v) { PutLe32(b, o, v); }
void Be(Bytes& b, size_t o, uint32_t v, int n = 4) { for (int i = 0; i < n; ++i) b[o + i] = uint8_t(v >> (8 * (n - 1 - i))); }

// A sound 1 KiB-block superblock of 8192 blocks in one group.
Bytes Superblock() {
    Bytes b(1024, 0);
    Le32(b, 0x00, 2048);  // inodes
    Le32(b, 0x04, 8192);  // blocks
    Le32(b, 0x14, 1);     // first data block
    Le32(b, 0x20, 8192);  // blocks per group
    Le32(b, 0x28, 2048);  // inodes per group
    Le16(b, 0x38, 0xEF53);
    Le32(b, 0x4C, 1);
    Le16(b, 0x58, 256);
    Le32(b, 0x60, 0x2);   // file type in entries
    return b;
}

void Entry(Bytes& b, size_t o, uint32_t ino, uint32_t recLen, const std::string& name, uint8_t type = 1) {
    Le32(b, o, ino);
    Le16(b, o + 4, recLen);
    b[o + 6] = uint8_t(name.size());
    b[o + 7] = type;
    std::copy(name.begin(), name.end(), b.begin() + long(o + 8));
}

EXT_SUPERBLOCK Parsed(const Bytes& b) {
    EXT_SUPERBLOCK sb;
    EXPECT_TRUE(ParseExtSuperblock(ByteView(b.data(), b.size()), sb));
    return sb;
}
} // namespace

TEST(ExtStructures, SuperblockIsBelievedOnlyWhenItsGeometryHolds) {
    struct Case { const char* name; std::function<void(Bytes&)> change; bool ok; };
    const Case cases[] = {
        {"sound", [](Bytes&) {}, true},
        {"4 KiB blocks start at block 0", [](Bytes& b) { Le32(b, 0x18, 2), Le32(b, 0x14, 0); }, true},
        {"4 KiB blocks cannot start at 1", [](Bytes& b) { Le32(b, 0x18, 2); }, false},
        {"no magic", [](Bytes& b) { Le16(b, 0x38, 0xEF54); }, false},
        {"block size past 64 KiB", [](Bytes& b) { Le32(b, 0x18, 7); }, false},
        {"inode size not a power of two", [](Bytes& b) { Le16(b, 0x58, 200); }, false},
        {"no blocks per group", [](Bytes& b) { Le32(b, 0x20, 0); }, false},
        {"more inodes than groups hold", [](Bytes& b) { Le32(b, 0x00, 4096); }, false},
        {"64-bit descriptors of 48 bytes", [](Bytes& b) { Le32(b, 0x60, 0x82), Le16(b, 0xFE, 48); }, false},
        {"64-bit descriptors of 64 bytes", [](Bytes& b) { Le32(b, 0x60, 0x82), Le16(b, 0xFE, 64); }, true},
        {"cut short", [](Bytes& b) { b.resize(1000); }, false},
    };
    for (const Case& c : cases) {
        Bytes b = Superblock();
        c.change(b);
        EXT_SUPERBLOCK sb;
        EXPECT_EQ(c.ok, ParseExtSuperblock(ByteView(b.data(), b.size()), sb)) << c.name;
    }
}

TEST(ExtStructures, BackupGroupsAndDescriptorPlaces) {
    Bytes big = Superblock();
    Le32(big, 0x04, 8192 * 64 + 1);
    Le32(big, 0x00, 2048 * 64);
    Le32(big, 0x64, 0x1); // sparse_super
    EXT_SUPERBLOCK sb = Parsed(big);
    EXPECT_EQ(64u, sb.nGroupCount);
    std::map<uint32_t, bool> hasSuper = {{0, true}, {1, true}, {2, false}, {3, true}, {9, true}, {25, true},
                                         {27, true}, {49, true}, {50, false}, {63, false}};
    for (auto& g : hasSuper) EXPECT_EQ(g.second, ExtGroupHasSuper(sb, g.first)) << "group " << g.first;
    // 32 descriptors per 1 KiB block: group 40 is in the table's second block,
    // or, with meta_bg from the first meta group, in group 32's first blocks.
    EXPECT_EQ(3u, ExtDescriptorBlock(sb, 40));
    Le32(big, 0x60, 0x2 | 0x10);
    Le32(big, 0x104, 1);
    sb = Parsed(big);
    EXPECT_EQ(1u + 32 * 8192, ExtDescriptorBlock(sb, 40));
    EXPECT_EQ(2u, ExtDescriptorBlock(sb, 5));
}

TEST(ExtStructures, FolderBlocksGiveLiveNamesAndTheDeletedOnesInSlack) {
    const EXT_SUPERBLOCK sb = Parsed(Superblock());
    // Names as parsed, a deleted one marked with its inode.
    auto names = [&](const Bytes& block, bool withDeleted) {
        std::vector<EXT_DIR_ENTRY> out;
        ParseExtDirBlock(ByteView(block.data(), block.size()), sb, withDeleted, out);
        std::vector<std::string> n;
        for (const EXT_DIR_ENTRY& e : out) n.push_back(e.strName + (e.bDeleted ? " deleted " + std::to_string(e.nInode) : ""));
        return n;
    };
    using Names = std::vector<std::string>;
    Bytes b(1024, 0);
    Entry(b, 0, 12, 12, ".", 2);
    Entry(b, 12, 2, 12, "..", 2);
    Entry(b, 24, 13, 40, "a.txt");   // its slack holds the removed entry below
    Entry(b, 40, 14, 24, "gone.jpg");
    Entry(b, 64, 15, 960, "b.txt");
    EXPECT_EQ(names(b, true), (Names{"a.txt", "gone.jpg deleted 14", "b.txt"}));
    EXPECT_EQ(names(b, false), (Names{"a.txt", "b.txt"}));
    uint32_t self = 0, parent = 0;
    EXPECT_TRUE(ExtDirBlockHeads(ByteView(b.data(), b.size()), self, parent));
    EXPECT_EQ(12u, self);
    EXPECT_EQ(2u, parent);

    // Slack that only looks like an entry is passed over.
    struct Case { const char* name; uint32_t ino; const char* entryName; };
    for (Case c : {Case{"inode past the volume", 999999, "x.jpg"}, Case{"reserved inode", 5, "x.jpg"},
                   Case{"slash in the name", 14, "a/b"}}) {
        Bytes s = b;
        std::fill(s.begin() + 40, s.begin() + 64, 0);
        Entry(s, 40, c.ino, 24, c.entryName);
        EXPECT_EQ(names(s, true), (Names{"a.txt", "b.txt"})) << c.name;
    }
    // A record running past the block ends the walk; an index block holds no names.
    Bytes cut = b;
    Le16(cut, 64 + 4, 1000);
    EXPECT_EQ(names(cut, true), (Names{"a.txt", "gone.jpg deleted 14"}));
    Bytes index(1024, 0);
    Le16(index, 4, 1024);
    Entry(index, 8, 14, 24, "ghost.jpg");
    EXPECT_TRUE(names(index, true).empty());
}

TEST(ExtStructures, ExtentNodesAndPointerBlocksAreRecognisedStrictly) {
    auto leaf = [](std::vector<std::array<uint32_t, 3>> extents) {
        Bytes b(1024, 0);
        Le16(b, 0, 0xF30A);
        Le16(b, 2, uint32_t(extents.size()));
        Le16(b, 4, 84);
        for (size_t i = 0; i < extents.size(); ++i) {
            Le32(b, 12 + 12 * i, extents[i][0]);
            Le16(b, 16 + 12 * i, extents[i][1]);
            Le32(b, 20 + 12 * i, extents[i][2]);
        }
        return b;
    };
    struct Case { const char* name; Bytes block; bool ok; };
    Bytes tooMany = leaf({{0, 4, 100}});
    Le16(tooMany, 2, 85);
    const Case extentCases[] = {
        {"two extents", leaf({{0, 8, 100}, {8, 4, 300}}), true},
        {"uninitialised extent", leaf({{0, 32768 + 8, 100}}), true},
        {"past the volume", leaf({{0, 8, 8190}}), false},
        {"logical order broken", leaf({{8, 4, 100}, {0, 4, 300}}), false},
        {"empty extent", leaf({{0, 0, 100}}), false},
        {"more entries than room", tooMany, false},
    };
    for (const Case& c : extentCases) {
        EXT_EXTENT_NODE node;
        EXPECT_EQ(c.ok, ParseExtExtentNode(ByteView(c.block.data(), c.block.size()), 8192, node)) << c.name;
    }

    auto pointers = [](std::vector<uint32_t> values) {
        Bytes b(1024, 0);
        for (size_t i = 0; i < values.size(); ++i) Le32(b, 4 * i, values[i]);
        return b;
    };
    struct PCase { const char* name; Bytes block; uint64_t self; uint32_t used; };
    Bytes trailing = pointers({500, 501, 502});
    Le32(trailing, 1020, 7);
    const PCase pointerCases[] = {
        {"ascending run", pointers({500, 501, 502, 600, 601}), 9, 5},
        {"one pointer to the next block", pointers({41}), 40, 1},
        {"one pointer elsewhere", pointers({500}), 40, 0},
        {"descending", pointers({600, 500, 400, 300}), 9, 0},
        {"one jump back to room elsewhere", pointers({600, 601, 602, 603, 300}), 9, 5},
        {"past the volume", pointers({500, 9000}), 9, 0},
        {"numbers after the zeros", trailing, 9, 0},
        {"all zero", pointers({}), 9, 0},
    };
    for (const PCase& c : pointerCases)
        EXPECT_EQ(c.used, RecogniseExtIndirectBlock(ByteView(c.block.data(), c.block.size()), 8192, 1, c.self)) << c.name;
}

TEST(ExtStructures, JournalWalkListsEveryCopyWhateverTheTagLayout) {
    struct Case { const char* name; uint32_t incompat; uint32_t tagBytes; };
    for (Case c : {Case{"32-bit", 0, 8}, Case{"64-bit", 0x2, 12}, Case{"checksum v2", 0x8, 10},
                   Case{"checksum v3", 0x10, 16}, Case{"checksum v3, 64-bit", 0x12, 16}}) {
        SCOPED_TRACE(c.name);
        const uint32_t bs = 1024;
        Bytes j(bs * 16, 0);
        Be(j, 0, kJbd2Magic), Be(j, 4, 4), Be(j, 12, bs), Be(j, 16, 16), Be(j, 20, 1);
        Be(j, 0x28, c.incompat);
        JBD2_SUPERBLOCK jsb;
        ASSERT_TRUE(ParseJbd2Superblock(ByteView(j.data(), j.size()), jsb));
        EXPECT_EQ(c.tagBytes, jsb.TagBytes());
        // Block 3: a descriptor of two tags (the first carries a UUID), then their data.
        const size_t d = 3 * bs;
        Be(j, d, kJbd2Magic), Be(j, d + 4, 1), Be(j, d + 8, 77);
        size_t off = d + 12;
        const uint32_t flags[] = {0x1, 0x2 | 0x8};  // escaped; same UUID and last
        const uint32_t targets[] = {500, 700};
        for (int t = 0; t < 2; ++t) {
            Be(j, off, targets[t]);
            if (c.incompat & 0x10) Be(j, off + 4, flags[t]);
            else Be(j, off + 6, flags[t], 2);
            off += c.tagBytes + ((flags[t] & 0x2) ? 0 : 16);
        }
        std::vector<JBD2_COPY> copies;
        WalkJbd2Journal(ByteView(j.data(), j.size()), jsb, 8192, copies);
        ASSERT_EQ(2u, copies.size());
        EXPECT_EQ(500u, copies[0].u64FsBlock);
        EXPECT_EQ(4u, copies[0].nJournalBlock);
        EXPECT_TRUE(copies[0].bEscaped);
        EXPECT_EQ(700u, copies[1].u64FsBlock);
        EXPECT_EQ(5u, copies[1].nJournalBlock);
        EXPECT_EQ(77u, copies[1].nSequence);
    }
}

TEST(ExtStructures, BlockMapsFollowPointersAndExtentsAndStopOnLoops) {
    const EXT_SUPERBLOCK sb = Parsed(Superblock());
    std::map<uint64_t, Bytes> disk;
    ExtBlockFetch fetch = [&](uint64_t b, std::vector<uint8_t>& out) {
        auto it = disk.find(b);
        if (it == disk.end()) return false;
        out = it->second;
        return true;
    };
    // Direct blocks 100..111, the single block at 50 going on at 200, a hole, then 300.
    Bytes single(1024, 0);
    Le32(single, 0, 200), Le32(single, 4, 201), Le32(single, 12, 300);
    disk[50] = single;
    std::vector<uint64_t> direct;
    for (uint64_t b = 100; b < 112; ++b) direct.push_back(b);
    EXT_INODE inode;
    ExtPointerMap(direct, 50, 0, inode.Block);
    std::vector<EXT_RUN> runs;
    EXPECT_EQ(16u, BuildExtBlockRuns(inode, sb, 16, fetch, runs));
    std::vector<std::pair<uint64_t, uint64_t>> got;
    for (const EXT_RUN& r : runs) got.push_back({r.u64Physical, r.u64Length});
    EXPECT_EQ(got, (std::vector<std::pair<uint64_t, uint64_t>>{{100, 12}, {200, 2}, {0, 1}, {300, 1}}));
    // A missing pointer block ends the map early.
    disk.erase(50);
    EXPECT_EQ(12u, BuildExtBlockRuns(inode, sb, 16, fetch, runs));

    // An index whose child is itself stops instead of descending for ever.
    Bytes loop(1024, 0);
    Le16(loop, 0, 0xF30A), Le16(loop, 2, 1), Le16(loop, 4, 84), Le16(loop, 6, 1);
    Le32(loop, 16, 60);
    disk[60] = loop;
    EXT_INODE tree;
    tree.nFlags = 0x80000;
    Bytes root(60, 0);
    Le16(root, 0, 0xF30A), Le16(root, 2, 1), Le16(root, 4, 4), Le16(root, 6, 2);
    Le32(root, 16, 60);
    std::copy(root.begin(), root.end(), tree.Block);
    EXPECT_EQ(0u, BuildExtBlockRuns(tree, sb, 8, fetch, runs));
}
