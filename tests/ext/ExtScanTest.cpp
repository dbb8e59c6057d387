// The ext engines on volumes written through the kernel's own driver, damaged copies, and the deep scan through the composite.
#include "ext/CFastExtRecovery.h"

#include "fixtures/EngineTree.h"
#include "fixtures/MountedImage.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "platform/TextCodec.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

namespace {
EngineTree QuickScan(CFastExtRecovery& e, const std::string& image) {
    std::wstring path = Utf8ToWide(image.c_str());
    EXPECT_EQ(0, e.Init(&path[0], L'C'));
    EXPECT_EQ(0, e.ScanDevice(nullptr));
    return WalkEngineTree(e);
}

// debugfs's answer to request, as the whitespace-separated numbers it holds.
std::vector<uint64_t> Debugfs(const std::string& image, const std::string& request, const std::string& dir) {
    RunCommand("debugfs -R '" + request + "' '" + image + "' 2>/dev/null | tr -c '0-9\\n' ' ' > '" + dir + "/debugfs.out'");
    std::ifstream in(dir + "/debugfs.out");
    std::vector<uint64_t> out;
    for (uint64_t n; in >> n;) out.push_back(n);
    return out;
}

// A file made by a command line in which OUT stands for its path (pictures by ImageMagick, sound by sox).
std::vector<uint8_t> Made(const std::string& path, std::string command) {
    command.replace(command.find("OUT"), 3, ShellQuote(path));
    RunCommand(command);
    return ReadFileBytes(path);
}
} // namespace

// The journal still holds the inode-table and folder blocks from before the
// deletion: names, folders, sizes and maps (indirect blocks or extents) of a
// fragmented file and of a whole deleted folder tree come back from it.
TEST(ExtQuickScan, JournalledVolumesGiveDeletedFilesBackByteExactWithFolders) {
    ORVALE_REQUIRE_MOUNTED("ext4");
    struct Case { const char* kind; unsigned block; };
    for (Case c : {Case{"ext3", 1024}, Case{"ext3", 4096}, Case{"ext4", 1024}, Case{"ext4", 4096}}) {
        SCOPED_TRACE(std::string(c.kind) + " " + std::to_string(c.block));
        StoreTestEnv env;
        TempDir dir("ext-quick");
        MountedImage img(dir.file("ext.img"), c.kind, c.block);
        ASSERT_TRUE(img.Mount());
        const std::map<std::string, std::vector<uint8_t>> deleted = {
            {"docs/a.bin", RandomBytes(5000, 1)},
            {"docs/sub/deeper/b.bin", RandomBytes(70000, 2)},
            {"big.dat", RandomBytes(300000, 3)},
        };
        img.Checkerboard("fill", 120, 3 * c.block);
        for (auto& f : deleted) img.Write(f.first, f.second);
        img.Write("keep.bin", RandomBytes(9000, 4));
        for (const char* gone : {"docs/a.bin", "docs/sub", "big.dat"}) ASSERT_TRUE(img.Remove(gone));
        ASSERT_TRUE(img.Unmount());

        CFastExtRecovery engine;
        const EngineTree found = QuickScan(engine, img.path());
        EXPECT_EQ(nullptr, FindNode(found, "keep.bin")) << "a live file is not a deleted one";
        for (auto& f : deleted) {
            SCOPED_TRACE(f.first);
            const _FILE_NODE_* n = FindNode(found, f.first, 0);
            ASSERT_NE(nullptr, n);
            EXPECT_EQ(1u, n->bIsHealth);
            EXPECT_EQ(Sha256Hex(f.second), RecoveredSha(engine, n, dir.file("saved.bin")));
        }
    }
}

// Older drivers and other systems leave a removed entry in the slack of the
// one before it, with its inode; the inode's own map may still stand.
TEST(ExtQuickScan, NameFromFolderSlackWithTheMapItsInodeKept) {
    ORVALE_REQUIRE_MOUNTED("ext4");
    StoreTestEnv env;
    TempDir dir("ext-slack");
    MountedImage img(dir.file("ext.img"), "ext2", 1024);
    ASSERT_TRUE(img.Mount());
    const auto gone = RandomBytes(40000, 7);
    img.Write("photos/x.jpg", RandomBytes(3000, 5));
    img.Write("photos/y.jpg", gone);
    img.Write("photos/z.jpg", RandomBytes(3000, 6));
    ASSERT_TRUE(img.Unmount());
    ASSERT_TRUE(img.RemoveWithDebugfs("photos/y.jpg"));

    CFastExtRecovery engine;
    const EngineTree found = QuickScan(engine, img.path());
    EXPECT_EQ(Sha256Hex(gone), RecoveredSha(engine, FindNode(found, "photos/y.jpg", 0), dir.file("saved.bin")));
    EXPECT_EQ(nullptr, FindNode(found, "photos/x.jpg"));
}

// Damaged metadata costs what it held, never the scan: a backup superblock or
// descriptor table stands in, a broken journal or a cut image still lets the
// scan finish with what it found.
TEST(ExtQuickScan, DamagedMetadataAndCutImagesAreSurvived) {
    ORVALE_REQUIRE_MOUNTED("ext4");
    struct Case { const char* name; bool stillFound; };
    for (Case c : {Case{"superblock", true}, Case{"descriptors", true}, Case{"journal", false}, Case{"truncated", false}}) {
        SCOPED_TRACE(c.name);
        StoreTestEnv env;
        TempDir dir("ext-damage");
        MountedImage img(dir.file("ext.img"), "ext3", 1024);
        ASSERT_TRUE(img.Mount());
        const auto data = RandomBytes(30000, 11);
        img.Write("d/lost.bin", data);
        ASSERT_TRUE(img.Remove("d/lost.bin"));
        ASSERT_TRUE(img.Unmount());
        const std::string name = c.name;
        uint64_t zeroAt = name == "superblock" ? 1024 : name == "descriptors" ? 2048 : 0;
        if (name == "journal") {
            const std::vector<uint64_t> block = Debugfs(img.path(), "bmap <8> 0", dir.path());
            ASSERT_EQ(1u, block.size());
            zeroAt = block[0] * 1024;
        }
        if (zeroAt)
            RunCommand("dd if=/dev/zero of='" + img.path() + "' bs=1024 seek=" + std::to_string(zeroAt / 1024) +
                       " count=1 conv=notrunc status=none");
        else RunCommand("truncate -s 9M '" + img.path() + "'");
        CFastExtRecovery engine;
        const EngineTree found = QuickScan(engine, img.path());
        if (c.stillFound) {
            EXPECT_EQ(Sha256Hex(data), RecoveredSha(engine, FindNode(found, "d/lost.bin", 0), dir.file("saved.bin")));
        }
        // Every listed file can be asked for without harm.
        for (auto& [path, node] : found) {
            if (!node.bIsDir) RecoveredSha(engine, &node, dir.file("saved.bin"));
        }
    }
}

// On ext2 the driver clears a deleted file's pointers and its size, but not its
// indirect blocks: a fragmented file is rebuilt byte-exact from them, its 12
// direct blocks found again among the free blocks before them, its double- and
// triple-indirect blocks (which the allocator lays out of order) followed too.
// Nothing is carved out of a live file's blocks: the pass reads free space only.
TEST(ExtDeepScan, FragmentedFilesAreRebuiltFromPointerBlocksAndLiveBlocksLeftAlone) {
    ORVALE_REQUIRE_MOUNTED("ext4");
    ORVALE_REQUIRE_TOOL("/usr/bin/convert");
    ORVALE_REQUIRE_TOOL("sox");
    struct Case { const char* ext; unsigned block, imageMiB; const char* command; };
    for (Case c : {Case{"jpg", 1024, 32, "/usr/bin/convert -size 900x700 plasma: -quality 92 OUT"},
                   Case{"png", 1024, 32, "/usr/bin/convert -size 300x300 plasma: OUT"},
                   Case{"jpg", 4096, 32, "/usr/bin/convert -size 1600x1200 plasma: -quality 92 OUT"},
                   Case{"wav", 1024, 100, "sox -n -r 44100 -c 2 -b 16 OUT synth 400 whitenoise"}}) { // 70 MiB: triple-indirect
        SCOPED_TRACE(std::string(c.ext) + " " + std::to_string(c.block));
        StoreTestEnv env;
        TempDir dir("ext-deep");
        const auto picture = Made(dir.file(std::string("gone.") + c.ext), c.command);
        const auto live = Made(dir.file("live.jpg"), "/usr/bin/convert -size 500x400 plasma: -quality 92 OUT");
        ASSERT_GT(picture.size(), 14u * c.block) << "the file must reach its indirect block";
        MountedImage img(dir.file("ext.img"), "ext2", c.block, c.imageMiB);
        ASSERT_TRUE(img.Mount());
        img.Checkerboard("fill", c.block == 1024 ? 400 : 200, 3 * c.block);
        img.Write("keep/live.jpg", live);
        img.Write(std::string("p/picture.") + c.ext, picture);
        ASSERT_TRUE(img.Remove("p"));
        ASSERT_TRUE(img.Unmount());
        // The live picture's blocks, as debugfs lists them ("(0-11):1234-1245, (IND):...").
        std::set<uint64_t> liveSectors;
        for (uint64_t b : Debugfs(img.path(), "blocks /keep/live.jpg", dir.path())) liveSectors.insert(b * (c.block / 512));
        ASSERT_FALSE(liveSectors.empty());

        DeepScan scan(img.path());
        ASSERT_EQ(0, scan.result);
        const EngineTree hits = SearchEngine(scan.engine);
        bool rebuilt = false;
        for (auto& [path, h] : hits) {
            SCOPED_TRACE(path);
            if (h.nFileSystemType == FS_TYPE_FILE_TYPE) {
                EXPECT_FALSE(liveSectors.count(h.u64RecordSector)) << "carved from a live file";
            }
            if (h.nFileSystemType == FS_TYPE_PRO_EXT && h.u64FileSize == picture.size())
                rebuilt = rebuilt || RecoveredSha(scan.engine, &h, dir.file("out")) == Sha256Hex(picture);
        }
        EXPECT_TRUE(rebuilt) << hits.size() << " hits, none is the deleted picture rebuilt";
    }
}
