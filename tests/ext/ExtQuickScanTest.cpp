#include "ext/CFastExtRecovery.h"

#include "platform/TextCodec.h"

#include "fixtures/ExtImage.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

namespace {
#define REQUIRE_EXT_IMAGES()                                                              \
    do {                                                                                  \
        std::string why = ExtImage::Unavailable();                                        \
        if (!why.empty()) GTEST_SKIP() << "SKIPPED: ext images cannot be made: " << why;  \
    } while (0)

struct Found {
    _FILE_NODE_ node;
    std::string path;
};

void Walk(CFastExtRecovery& e, _FILE_NODE_* parent, unsigned depth, const std::string& prefix,
          std::map<std::string, Found>& out) {
    std::vector<_FILE_NODE_> children;
    e.GetChildrenFileNode(parent, depth, children);
    for (_FILE_NODE_& c : children) {
        const std::string path = prefix + c.szFileName;
        if (c.bIsDir) Walk(e, &c, depth + 1, path + "/", out);
        else out[path] = {c, path};
    }
}

std::map<std::string, Found> Scan(CFastExtRecovery& e, const std::string& image) {
    std::wstring path = Utf8ToWide(image.c_str());
    EXPECT_EQ(0, e.Init(&path[0], L'C'));
    EXPECT_EQ(0, e.ScanDevice(nullptr));
    std::map<std::string, Found> out;
    Walk(e, nullptr, 0, "", out);
    return out;
}

std::vector<uint8_t> Saved(CFastExtRecovery& e, Found f, const std::string& dir, int* rc = nullptr) {
    const std::string target = dir + "/saved.bin";
    std::wstring wide = Utf8ToWide(target.c_str());
    const int r = e.SaveFileData(&f.node, &wide[0], 0);
    if (rc) *rc = r;
    return ReadFileBytes(target);
}

uint64_t DebugfsNumber(const std::string& image, const std::string& request, const std::string& dir) {
    const std::string out = dir + "/debugfs.out";
    RunCommand("debugfs -R '" + request + "' '" + image + "' > '" + out + "' 2>/dev/null");
    std::ifstream in(out);
    uint64_t n = 0;
    in >> n;
    return n;
}

void ZeroBytes(const std::string& image, uint64_t offset, uint64_t count) {
    RunCommand("dd if=/dev/zero of='" + image + "' bs=1 seek=" + std::to_string(offset) + " count=" +
               std::to_string(count) + " conv=notrunc status=none");
}
} // namespace

// The journal still holds the inode-table and folder blocks from before the
// deletion: names, folders, sizes and maps (indirect blocks or extents) of a
// fragmented file and of a whole deleted folder tree come back from it.
TEST(ExtQuickScan, JournalledVolumesGiveDeletedFilesBackByteExactWithFolders) {
    REQUIRE_EXT_IMAGES();
    struct Case { const char* kind; unsigned block; };
    for (Case c : {Case{"ext3", 1024}, Case{"ext3", 4096}, Case{"ext4", 1024}, Case{"ext4", 4096}}) {
        SCOPED_TRACE(std::string(c.kind) + " " + std::to_string(c.block));
        StoreTestEnv env;
        TempDir dir("ext-quick");
        ExtImage img(dir.path(), c.kind, c.block);
        ASSERT_TRUE(img.Make());
        ASSERT_TRUE(img.Mount());
        const std::map<std::string, std::vector<uint8_t>> deleted = {
            {"docs/a.bin", RandomBytes(5000, 1)},
            {"docs/sub/deeper/b.bin", RandomBytes(70000, 2)},
            {"big.dat", RandomBytes(300000, 3)},
        };
        img.Checkerboard("fill", 120, 3 * c.block);
        for (auto& f : deleted) img.Write(f.first, f.second);
        img.Write("keep.bin", RandomBytes(9000, 4));
        ASSERT_TRUE(img.Remove("docs/a.bin"));
        ASSERT_TRUE(img.Remove("docs/sub"));
        ASSERT_TRUE(img.Remove("big.dat"));
        ASSERT_TRUE(img.Unmount());

        CFastExtRecovery engine;
        auto found = Scan(engine, img.Path());
        EXPECT_EQ(0u, found.count("keep.bin")) << "a live file is not a deleted one";
        for (auto& f : deleted) {
            SCOPED_TRACE(f.first);
            auto it = found.find(f.first);
            ASSERT_NE(found.end(), it);
            EXPECT_EQ(1u, it->second.node.bIsHealth);
            int rc = -1;
            EXPECT_TRUE(Saved(engine, it->second, dir.path(), &rc) == f.second);
            EXPECT_EQ(0, rc);
        }
    }
}

// Older drivers and other systems leave a removed entry in the slack of the
// one before it, with its inode; the inode's own map may still stand.
TEST(ExtQuickScan, NameFromFolderSlackWithTheMapItsInodeKept) {
    REQUIRE_EXT_IMAGES();
    StoreTestEnv env;
    TempDir dir("ext-slack");
    ExtImage img(dir.path(), "ext2", 1024);
    ASSERT_TRUE(img.Make());
    ASSERT_TRUE(img.Mount());
    const auto gone = RandomBytes(40000, 7);
    img.Write("photos/x.jpg", RandomBytes(3000, 5));
    img.Write("photos/y.jpg", gone);
    img.Write("photos/z.jpg", RandomBytes(3000, 6));
    ASSERT_TRUE(img.Unmount());
    ASSERT_TRUE(img.RemoveWithDebugfs("photos/y.jpg"));

    CFastExtRecovery engine;
    auto found = Scan(engine, img.Path());
    ASSERT_EQ(1u, found.count("photos/y.jpg"));
    EXPECT_EQ(gone.size(), found["photos/y.jpg"].node.u64FileSize);
    EXPECT_TRUE(Saved(engine, found["photos/y.jpg"], dir.path()) == gone);
    EXPECT_EQ(0u, found.count("photos/x.jpg"));
}

// Damaged metadata costs what it held, never the scan: a backup superblock or
// descriptor table stands in, a broken journal or a cut image still lets the
// scan finish with what it found.
TEST(ExtQuickScan, DamagedMetadataAndCutImagesAreSurvived) {
    REQUIRE_EXT_IMAGES();
    enum Damage { Superblock, Descriptors, Journal, Truncated };
    struct Case { Damage damage; const char* name; bool stillFound; };
    for (Case c : {Case{Superblock, "superblock", true}, Case{Descriptors, "descriptors", true},
                   Case{Journal, "journal", false}, Case{Truncated, "truncated", false}}) {
        SCOPED_TRACE(c.name);
        StoreTestEnv env;
        TempDir dir("ext-damage");
        ExtImage img(dir.path(), "ext3", 1024);
        ASSERT_TRUE(img.Make());
        ASSERT_TRUE(img.Mount());
        const auto data = RandomBytes(30000, 11);
        img.Write("d/lost.bin", data);
        ASSERT_TRUE(img.Remove("d/lost.bin"));
        ASSERT_TRUE(img.Unmount());
        switch (c.damage) {
        case Superblock: ZeroBytes(img.Path(), 1024, 1024); break;
        case Descriptors: ZeroBytes(img.Path(), 2048, 1024); break;
        case Journal: ZeroBytes(img.Path(), DebugfsNumber(img.Path(), "bmap <8> 0", dir.path()) * 1024, 1024); break;
        case Truncated: RunCommand("truncate -s 9M '" + img.Path() + "'"); break;
        }
        CFastExtRecovery engine;
        auto found = Scan(engine, img.Path());
        if (c.stillFound) {
            ASSERT_EQ(1u, found.count("d/lost.bin"));
            EXPECT_TRUE(Saved(engine, found["d/lost.bin"], dir.path()) == data);
        }
        // Every listed file can be asked for without harm.
        for (auto& f : found) Saved(engine, f.second, dir.path());
    }
}
