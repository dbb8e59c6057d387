// The exFAT engines on real volumes written through exfat-fuse, damaged copies, and the deep scan through the composite.
#include "engine/CFileRecoveryFactory.h"
#include "exfat/CFastExfatRecovery.h"
#include "fixtures/EngineTree.h"
#include "fixtures/MountedImage.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "platform/TextCodec.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace {
// Deleted files (Unicode names, a fragmented one, a deleted folder tree "Trip")
// and live ones under "Keep" on a 32 MiB volume of 4 KiB clusters, built once.
struct Scenario {
    std::string image; // empty when it could not be built
    std::map<std::string, std::vector<uint8_t>> deleted;
};

const Scenario& Shared() {
    static TempDir* dir = new TempDir("exfat-scenario");
    static const Scenario scenario = [] {
        Scenario s;
        MountedImage img(dir->file("card.img"), "exfat", 4096);
        if (!MountedImage::Unavailable("exfat").empty() || !img.Mount()) return s;
        const std::pair<const char*, std::vector<uint8_t>> files[] = {
            {"Photos/Été 2024/plage.jpg", TestJpeg(20000, 1)},
            {"Docs/Привет мир.txt", RandomBytes(3000, 2)},
            {"Docs/写真 日本.txt", RandomBytes(5000, 3)},
            {"party 🎉.txt", RandomBytes(100, 4)},
            {"Docs/résumé français.txt", {}},
            {"Keep/live.txt", RandomBytes(700, 6)},
            {"Trip/Day 1/sea.jpg", TestJpeg(9000, 7)},
            {"Trip/Day 1/notes.txt", RandomBytes(4500, 8)},
            {"Trip/Day 2/a name longer than fifteen units.txt", RandomBytes(12345, 9)},
        };
        for (const auto& f : files) img.Write(f.first, f.second);
        // Written in two halves around a live file: its clusters chain through the FAT.
        img.Write("Docs/frag.bin", RandomBytes(10000, 10));
        img.Write("Keep/between.bin", RandomBytes(9000, 11));
        img.Write("Docs/frag.bin", RandomBytes(12000, 12), true);
        for (const char* gone : {"Photos/Été 2024/plage.jpg", "Docs/Привет мир.txt", "Docs/写真 日本.txt",
                                 "party 🎉.txt", "Docs/résumé français.txt", "Docs/frag.bin", "Trip"})
            img.Remove(gone);
        if (!img.Unmount()) return s;
        for (const auto& f : img.files())
            if (f.first.rfind("Keep/", 0) != 0) s.deleted[f.first] = f.second;
        s.image = img.path();
        return s;
    }();
    return scenario;
}

std::unique_ptr<IFileRecoveryParse> OpenQuick(const std::string& image) {
    std::wstring wide = Utf8ToWide(image.c_str());
    return std::unique_ptr<IFileRecoveryParse>(
        CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(&wide[0], L'C', RECOVERY_TYPE_FAST));
}
} // namespace

// Every deleted file, and everything inside the deleted folder tree, is listed
// once under its folder with its full Unicode name and comes back byte for byte;
// live files stay out; the fragmented file is read along its chain.
TEST(ExfatQuick, ListsTheDeletedFilesWithNamesAndFoldersAndRecoversThem) {
    ORVALE_REQUIRE_MOUNTED("exfat");
    const Scenario& s = Shared();
    ASSERT_FALSE(s.image.empty());
    StoreTestEnv env;
    TempDir out("exfat-quick");
    std::unique_ptr<IFileRecoveryParse> engine = OpenQuick(s.image);
    ASSERT_NE(dynamic_cast<CFastExfatRecovery*>(engine.get()), nullptr);
    EngineReports reports;
    reports.Attach(*engine);
    ASSERT_EQ(engine->ScanDevice(nullptr), 0);
    ASSERT_GE(reports.progress.size(), 3u);
    EXPECT_EQ(reports.progress.front(), 1);
    EXPECT_EQ(reports.progress.back(), 100);

    const EngineTree tree = WalkEngineTree(*engine), hits = SearchEngine(*engine);
    std::set<std::string> files, folders, wantFiles, wantFolders;
    for (auto& [path, data] : s.deleted) {
        wantFiles.insert(path);
        for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1))
            wantFolders.insert(path.substr(0, slash));
    }
    for (auto& [path, node] : tree) {
        SCOPED_TRACE(path);
        EXPECT_EQ(tree.count(path), 1u) << "listed twice";
        (node.bIsDir ? folders : files).insert(path);
        if (node.bIsDir) {
            EXPECT_EQ(node.nReserved, path.rfind("Trip", 0) == 0 ? 1u : 0u) << "the deleted-folder mark";
            continue;
        }
        EXPECT_EQ(node.bIsHealth, 1u);
        EXPECT_GT(node.u64ModifyTime, 116444736000000000ULL); // after 1970
        EXPECT_EQ(RecoveredSha(*engine, &node, out.file("f")), Sha256Hex(s.deleted.at(path)));
        EXPECT_EQ(hits.count(path), 1u) << "search or folder path of the hit";
    }
    EXPECT_EQ(files, wantFiles);
    EXPECT_EQ(folders, wantFolders);

    // A deleted folder saves as a tree.
    const _FILE_NODE_* trip = FindNode(tree, "Trip", 1);
    ASSERT_NE(trip, nullptr);
    ASSERT_EQ(SaveFolder(*engine, *trip, out.file("Trip")), 0);
    for (auto& [path, data] : s.deleted)
        EXPECT_TRUE(path.rfind("Trip/", 0) != 0 || ReadFileBytes(out.file(path)) == data) << path;

    // The first data sector the composite drops carved copies by, and the free
    // extents the deep pass carves: they hold the deleted data, never the boot region.
    _FILE_NODE_ photo = NodeAt(tree, "Photos/Été 2024/plage.jpg", 0);
    uint64_t sector = 0;
    ASSERT_EQ(engine->GetFileDataStartSector(&photo, sector), 0);
    const std::vector<uint8_t> image = ReadFileBytes(s.image);
    EXPECT_EQ(image[sector * 512], 0xFF);
    EXPECT_EQ(image[sector * 512 + 6], 'J');
    const std::map<uint64_t, uint64_t> extents = FreeExtents(*engine);
    auto isFree = [&](uint64_t sec) {
        auto it = extents.upper_bound(sec);
        return it != extents.begin() && sec < std::prev(it)->first + std::prev(it)->second;
    };
    EXPECT_FALSE(isFree(0));
    for (auto& [path, node] : tree) {
        _FILE_NODE_ copy = node;
        uint64_t start = 0;
        EXPECT_TRUE(node.bIsDir || engine->GetFileDataStartSector(&copy, start) != 0 || isFree(start)) << path;
    }
}

// The file of a broken entry set is left out and the rest found; a lost main
// boot region is replaced by the backup; a truncated image still scans to the end.
TEST(ExfatQuick, DamagedVolumesScanToTheEnd) {
    ORVALE_REQUIRE_MOUNTED("exfat");
    const Scenario& s = Shared();
    ASSERT_FALSE(s.image.empty());
    const size_t full = ReadFileBytes(s.image).size();
    const struct {
        const char* what;
        size_t truncateTo; // 0: keep the size
        size_t zeroSectors; // from the start
        bool breakSet;      // a byte of one set's name changed
        int initResult;
    } cases[] = {
        {"corrupt entry set", 0, 0, true, 0},
        {"main boot region zeroed", 0, 12, false, 0},
        {"truncated to half", full / 2, 0, false, 0},
        {"both boot regions zeroed", 0, 24, false, 87},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StoreTestEnv env;
        TempDir dir("exfat-damage");
        std::vector<uint8_t> bytes = ReadFileBytes(s.image);
        if (c.truncateTo) bytes.resize(c.truncateTo);
        std::fill(bytes.begin(), bytes.begin() + std::ptrdiff_t(c.zeroSectors * 512), 0);
        if (c.breakSet) {
            const uint64_t set = ExfatFindEntrySet(bytes, "Привет");
            ASSERT_NE(set, 0u);
            bytes[set + 66] ^= 0x01;
        }
        WriteFileBytes(dir.file("img"), bytes);
        CFastExfatRecovery engine;
        std::wstring wide = Utf8ToWide(dir.file("img").c_str());
        ASSERT_EQ(engine.Init(&wide[0], L'C'), c.initResult);
        if (c.initResult != 0) {
            EXPECT_EQ(engine.ScanDevice(nullptr), 87);
            continue;
        }
        ASSERT_EQ(engine.ScanDevice(nullptr), 0);
        const EngineTree tree = WalkEngineTree(engine);
        size_t exact = 0;
        for (auto& [path, data] : s.deleted) exact += RecoveredSha(engine, FindNode(tree, path, 0), dir.file("f")) == Sha256Hex(data);
        EXPECT_EQ(c.truncateTo ? exact : s.deleted.size() - c.breakSet, exact);
    }
}

// A deleted file whose clusters a later file took is listed as damaged.
TEST(ExfatQuick, ReusedClustersAreJudgedDamaged) {
    ORVALE_REQUIRE_MOUNTED("exfat");
    StoreTestEnv env;
    TempDir dir("exfat-reuse");
    MountedImage img(dir.file("card.img"), "exfat", 4096, 8);
    ASSERT_TRUE(img.Mount());
    // In a folder of its own, so the filler's entries do not take the victim's slots.
    ASSERT_TRUE(img.Write("Old/victim.txt", RandomBytes(30000, 21)));
    ASSERT_TRUE(img.Remove("Old/victim.txt"));
    RunCommand("dd if=/dev/urandom of=" + ShellQuote(dir.file("card.img.mnt/filler.bin")) + " bs=64K 2>/dev/null; sync");
    ASSERT_TRUE(img.Unmount());
    std::unique_ptr<IFileRecoveryParse> engine = OpenQuick(img.path());
    ASSERT_TRUE(engine);
    ASSERT_EQ(engine->ScanDevice(nullptr), 0);
    const EngineTree tree = WalkEngineTree(*engine);
    const _FILE_NODE_* victim = FindNode(tree, "Old/victim.txt", 0);
    ASSERT_NE(victim, nullptr);
    EXPECT_EQ(victim->bIsHealth, 0u);
}

// A lost volume (both boot regions zeroed, 1 MiB into a disk): the entry sets alone give back every file, live ones
// too. An intact card: the quick engine's finds, each once; the pass meets the deleted folders again but adds no
// second copy (empty files included) and carves none.
TEST(ExfatDeep, LostVolumeKeepsNamesAndIntactCardListsEachFileOnce) {
    ORVALE_REQUIRE_MOUNTED("exfat");
    const Scenario& s = Shared();
    ASSERT_FALSE(s.image.empty());
    StoreTestEnv env;
    TempDir dir("exfat-deep");
    std::vector<uint8_t> volume = ReadFileBytes(s.image), disk = RandomBytes(1 << 20, 31);
    std::fill(volume.begin(), volume.begin() + 24 * 512, 0);
    disk.insert(disk.end(), volume.begin(), volume.end());
    WriteFileBytes(dir.file("lost.img"), disk);
    for (bool lost : {true, false}) {
        SCOPED_TRACE(lost ? "lost volume" : "intact card");
        DeepScan scan(lost ? dir.file("lost.img") : s.image);
        ASSERT_EQ(scan.result, 0);
        const EngineTree found = SearchEngine(scan.engine);
        for (auto& [path, data] : s.deleted) {
            SCOPED_TRACE(path);
            ASSERT_EQ(found.count(path), 1u);
            const _FILE_NODE_* n = FindNode(found, path);
            EXPECT_EQ(n->nFileSystemType, uint32_t(lost ? FS_TYPE_PRO_EXFAT : FS_TYPE_FAST_EXFAT));
            EXPECT_EQ(RecoveredSha(scan.engine, n, dir.file("out")), Sha256Hex(data));
        }
        if (lost) {
            const _FILE_NODE_* live = FindNode(found, "Keep/live.txt");
            ASSERT_NE(live, nullptr);
            EXPECT_EQ(live->bIsHealth, 1u);
        } else {
            for (auto& [path, n] : found) EXPECT_NE(n.nFileSystemType, uint32_t(FS_TYPE_FILE_TYPE)) << "carved copy: " << path;
        }
    }
}
