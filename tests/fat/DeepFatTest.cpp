// The deep FAT engine through the whole deep scan: lost volumes rebuilt from their directories, hand-placed sectors, bad input.
#include "engine/CLogFileManager.h"
#include "fat/CProfessionalFatRecovery.h"
#include "fixtures/EngineTree.h"
#include "fixtures/FatCraft.h"
#include "fixtures/FatImageBuilder.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TestFiles.h"
#include "platform/CDiskReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>

namespace {
using C = FatCraft;
// The hand-made volume: 8 sectors per cluster, data area at sector 936.
constexpr uint64_t Sec(uint32_t cluster) { return 936 + uint64_t(cluster - 2) * 8; }

struct Expected { std::string path; std::vector<uint8_t> data; }; // path as listed: folder path and name

// Every expected file is listed by the deep FAT engine under its folder and comes back byte for byte.
void ExpectRecovered(DeepScan& scan, const std::vector<Expected>& expected, const std::string& outDir) {
    const EngineTree found = SearchEngine(scan.engine, FS_TYPE_PRO_FAT);
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(Sha256Hex(expected[i].data), RecoveredSha(scan.engine, FindNode(found, expected[i].path, 0), outDir + "/f" + std::to_string(i)))
            << expected[i].path;
}

class DeepFat : public ::testing::Test {
protected:
    // Writes the hand-made disk and scans it whole.
    void Scan(FatCraft& img, uint64_t sectors = 0) {
        WriteFileBytes(dir.file("disk.img"), img.bytes());
        scan.reset(new DeepScan(dir.file("disk.img"), 0, sectors));
        ASSERT_EQ(0, scan->result);
        found = SearchEngine(scan->engine, FS_TYPE_PRO_FAT);
    }
    std::string Recover(const std::string& path) {
        return RecoveredSha(scan->engine, FindNode(found, path, 0), out.file("r" + std::to_string(n++)));
    }
    // The file listed under path, or when path has no folder, the one of that name anywhere.
    const _FILE_NODE_* Listed(const std::string& path) {
        if (path.find('/') != std::string::npos) return FindNode(found, path, 0);
        for (auto& [p, node] : found)
            if (!node.bIsDir && path == node.szFileName) return &node;
        return nullptr;
    }
    StoreTestEnv env;
    TempDir dir{"deepfat"};
    TempDir out{"deepfat-out"};
    std::unique_ptr<DeepScan> scan;
    EngineTree found;
    int n = 0;
};
} // namespace

TEST_F(DeepFat, LostFat32RebuiltFromItsDirectories) {
    ORVALE_REQUIRE_TOOL("mkfs.vfat");
    ORVALE_REQUIRE_TOOL("mdeltree");
    FatImageBuilder vol(dir.file("vol.img"), 32, 40000, 1);
    std::vector<Expected> expected;
    uint32_t seed = 1;
    auto put = [&](const std::string& file, size_t size, const std::string& listedAs = "") {
        std::vector<uint8_t> data = RandomBytes(size, seed++);
        ASSERT_TRUE(vol.PutFile(file, data));
        expected.push_back({listedAs.empty() ? file.substr(1) : listedAs, data});
    };
    for (const char* d : {"/Photos", "/Photos/Holiday 2026", "/Docs", "/Docs/Nested", "/Docs/Nested/Deeper", "/Old",
                          "/Gone", "/Gone/Orphan"})
        ASSERT_TRUE(vol.MakeDir(d));
    put("/Photos/Holiday 2026/beach sunset.bin", 9000);
    put("/rootfile.dat", 10 * 1024);
    put("/Docs/README.TXT", 300, "Docs/readme.txt");
    put("/Docs/A Very Long Document Name For Testing.txt", 5000);
    put("/Docs/Nested/Deeper/deep file.bin", 40 * 1024 + 17);
    put("/Docs/deleted note.txt", 2100);
    const uint64_t unreadable = 2055 + vol.ClusterSector(vol.EntryCluster("DELETE~1TXT")) + 3;
    put("/Docs/报告 final.txt", 2600);
    put("/Old/gone1.txt", 1500, "Old/!one1.txt"); // no long name: deleted, its first letter is gone
    put("/Old/Gone Two.bin", 777);
    ASSERT_TRUE(vol.DeleteFile("/Docs/deleted note.txt") && vol.DeleteTree("/Old"));
    // "Gone" loses its own cluster: "Orphan" is then known only by number.
    const uint32_t gone = vol.EntryCluster("GONE       ");
    ASSERT_GE(gone, 3u);
    std::vector<uint8_t> orphan = RandomBytes(3333, 99);
    ASSERT_TRUE(vol.PutFile("/Gone/Orphan/orphan data.bin", orphan));
    const uint32_t orphanDir = vol.EntryCluster("ORPHAN     ");
    expected.push_back({"Gone/LostFolder" + std::to_string(orphanDir) + "/orphan data.bin", orphan});
    ASSERT_TRUE(vol.Patch(vol.ClusterSector(gone) * 512, std::vector<uint8_t>(vol.ClusterBytes(), 0)) && vol.DestroyMetadata());
    ASSERT_TRUE(WriteLostVolumesDisk(dir.file("disk.img"), {{2055, vol.path()}}, 300, 77));
    DeepScan s(dir.file("disk.img"));
    ASSERT_EQ(0, s.result);
    ExpectRecovered(s, expected, out.path());
    // A save ends at an unreadable sector instead of shifting the rest of the file up.
    const EngineTree found = SearchEngine(s.engine, FS_TYPE_PRO_FAT);
    CDiskReader::SetFailingSectorsForTesting({unreadable});
    EXPECT_NE(0, SaveNode(s.engine, NodeAt(found, "Docs/deleted note.txt", 0), out.file("holed")));
    CDiskReader::SetFailingSectorsForTesting({});
    // The top of the tree holds the root's files and folders; a folder comes back as a tree.
    EngineTree tree = WalkEngineTree(s.engine);
    EXPECT_NE(nullptr, FindNode(tree, "rootfile.dat", 0));
    ASSERT_EQ(0, SaveFolder(s.engine, NodeAt(tree, "Docs", 1), out.file("Docs")));
    EXPECT_EQ(Sha256Hex(expected[4].data), Sha256File(out.file("Docs/Nested/Deeper/deep file.bin")));
    // Preview through the composite: the whole small file, into the caller's buffer.
    Preview shown = PreviewNode(s.engine, NodeAt(tree, "Docs/A Very Long Document Name For Testing.txt"));
    EXPECT_EQ(0, shown.rc);
    EXPECT_EQ(expected[3].data, shown.bytes);
}

// A full volume leaves the pass no free cluster to read: the scan still ends well.
TEST_F(DeepFat, FullVolumeLeavesThePassNothingAndEndsWell) {
    ORVALE_REQUIRE_TOOL("mkfs.vfat");
    FatImageBuilder vol(dir.file("full.img"), 16, 16384, 4);
    ASSERT_TRUE(vol.ok());
    const std::vector<uint32_t> fat = vol.FatEntries();
    const size_t clusters = (16384 * 2 - vol.DataStartSector()) / vol.SectorsPerCluster();
    const size_t free = size_t(std::count(fat.begin() + 2, fat.begin() + long(std::min(fat.size(), clusters + 2)), 0u));
    ASSERT_TRUE(vol.PutFile("/full.bin", RandomBytes(free * vol.ClusterBytes(), 41)));
    DeepScan s(vol.path());
    EXPECT_EQ(0, s.result);
}

TEST_F(DeepFat, LostFat16WithLongNamesSplitAcrossSectors) {
    ORVALE_REQUIRE_TOOL("mkfs.vfat");
    FatImageBuilder vol(dir.file("vol.img"), 16, 16384, 4);
    std::vector<Expected> expected;
    auto put = [&](const std::string& file, size_t size) {
        std::vector<uint8_t> data = RandomBytes(size, uint32_t(expected.size() + 100));
        ASSERT_TRUE(vol.PutFile(file, data));
        expected.push_back({file.substr(1), data});
    };
    // Written first so that it, not a folder, takes cluster 2 (on FAT16 also the root's number).
    put("/first.dat", 4000);
    ASSERT_TRUE(vol.MakeDir("/Music"));
    put("/Music/track one.bin", 7000);
    ASSERT_TRUE(vol.MakeDir("/Music/Long Names Here"));
    // ".", ".." and five names of two pieces each: the fifth name's pieces end
    // the folder's first sector, its short entry opens the second.
    for (int i = 1; i <= 5; ++i) put("/Music/Long Names Here/Long file name 0" + std::to_string(i) + ".bin", size_t(1000 * i + 3));
    put("/Music/old song.bin", 2500);
    const uint64_t unreadable = 1001 + vol.ClusterSector(vol.EntryCluster("TRACKO~1BIN")) + 2;
    ASSERT_TRUE(vol.DeleteFile("/Music/old song.bin") && vol.DestroyMetadata());
    ASSERT_TRUE(WriteLostVolumesDisk(dir.file("disk.img"), {{1001, vol.path()}}, 64, 99));
    DeepScan s(dir.file("disk.img"));
    ASSERT_EQ(0, s.result);
    ExpectRecovered(s, expected, out.path());
    // A preview ends at an unreadable sector inside a cluster instead of shifting the rest up.
    const EngineTree found = SearchEngine(s.engine, FS_TYPE_PRO_FAT);
    CDiskReader::SetFailingSectorsForTesting({unreadable});
    const Preview shown = PreviewNode(s.engine, NodeAt(found, "Music/track one.bin", 0));
    CDiskReader::SetFailingSectorsForTesting({});
    EXPECT_EQ(30, shown.rc);
    EXPECT_EQ(std::vector<uint8_t>(expected[1].data.begin(), expected[1].data.begin() + 1024), shown.bytes);
}

// Directory sectors placed by hand where geometry must be inferred: each case
// lists the files that must come back (or the error and the bytes that exist).
TEST_F(DeepFat, CraftedDirectoriesGiveTheirFilesBack) {
    struct Want { std::string path; std::vector<uint8_t> data; int rc = 0; };
    struct Case { // listed: files listed in all, when it matters
        const char* what; uint64_t diskSectors, scannedSectors; std::function<std::vector<Want>(FatCraft&)> build;
        std::vector<std::string> absent; size_t listed = 0;
    };
    const Case cases[] = {
        {"geometry from two folders; a folder sector met before the geometry is held", 2000, 0,
         [](FatCraft& img) {
             img.PutEntries(Sec(2), 0, {C::Entry("MYDISK     ", 0x08, 0, 0), C::File("R       TXT", 60, 600)});
             img.PutDir(1000, 10, 0, {C::File("A       TXT", 30, 1000)});
             img.PutEntries(1001, 0, {C::File("C       DAT", 70, 4097)});
             img.PutDir(1080, 20, 0, {C::File("B       BIN", 40, 5000), C::File("D       BIN", 0, 0, true)});
             auto a = img.PutData(Sec(30), RandomBytes(1000, 11)), b = img.PutData(Sec(40), RandomBytes(5000, 12));
             auto c = img.PutData(Sec(70), RandomBytes(4097, 13)), r = img.PutData(Sec(60), RandomBytes(600, 14));
             return std::vector<Want>{{"LostFolder10/a.txt", a}, {"LostFolder10/c.dat", c}, {"LostFolder20/b.bin", b},
                                      {"r.txt", r}, {"LostFolder20/!.bin", {}}};
         },
         {}, 5},
        // A root (found by its label) comes before the folders that explain it: both its sectors are held to the end.
        {"a long name split across held root sectors", 2000, 0,
         [](FatCraft& img) {
             img.PutDir(1000, 10, 0, {C::File("A       TXT", 30, 10)});
             img.PutDir(1080, 20, 0, {C::File("B       BIN", 40, 10)});
             // Thirteen entries, then a long name whose two pieces end the sector and whose short entry opens the next.
             std::vector<FatRawEntry> first = {C::Entry("MYDISK     ", 0x08, 0, 0), C::File("F22     TXT", 0, 0)};
             for (int i = 0; i < 12; ++i) first.push_back(C::File(("F" + std::to_string(10 + i) + "     TXT").c_str(), 0, 0));
             for (const FatRawEntry& p : C::LongName("Split Across Sectors.txt", "SPLITA~1TXT")) first.push_back(p);
             img.PutEntries(Sec(2), 0, first);
             img.PutEntries(Sec(2) + 1, 0, {C::File("SPLITA~1TXT", 50, 700)});
             return std::vector<Want>{{"Split Across Sectors.txt", img.PutData(Sec(50), RandomBytes(700, 21))}, {"f21.txt", {}}};
         },
         {"splita~1.txt"}, 0},
        {"two volumes, each with a folder 40", 7000, 0,
         [](FatCraft& img) {
             auto secB = [](uint32_t c) { return 5000 + uint64_t(c - 2) * 4; }; // 4 sectors per cluster, data at 5000
             img.PutDir(Sec(10), 10, 0, {C::Dir("SUB        ", 40)});
             img.PutDir(Sec(40), 40, 10, {C::File("INA     BIN", 60, 3000)});
             img.PutDir(secB(40), 40, 0, {C::File("INB     BIN", 70, 2000)});
             img.PutDir(secB(50), 50, 0, {C::Dir("X          ", 51)});
             return std::vector<Want>{{"ina.bin", img.PutData(Sec(60), RandomBytes(3000, 31))},
                                      {"inb.bin", img.PutData(secB(70), RandomBytes(2000, 32))}};
         }, {}, 0},
        // Deletion cleared the high word of the folder's cluster 0x10005; cluster 5 is
        // another folder, and sharing the low word must not make it the lost one.
        {"a deleted folder's high word from the folder that points back", 100 + 0x10005 + 38, 0,
         [](FatCraft& img) {
             auto at = [](uint32_t c) { return 100 + uint64_t(c - 2); }; // one sector per cluster from 100
             const uint32_t lost = 0x10005;
             img.PutDir(at(10), 10, 0, {C::File("A       BIN", 0, 0)});
             img.PutDir(at(20), 20, 0, {C::Dir("SUB        ", lost & 0xFFFF, true)});
             img.PutDir(at(5), 5, 0, {C::File("OTHER   BIN", 0, 0)});
             img.PutDir(at(lost), lost, 20, {C::File("IN      BIN", lost + 1, 700, true)});
             return std::vector<Want>{{"LostFolder20/!ub/!n.bin", img.PutData(at(lost + 1), RandomBytes(700, 81))}};
         }, {}, 0},
        {"an image shorter than its area keeps what exists", 1300, 2600,
         [](FatCraft& img) {
             img.PutDir(1000, 10, 0, {C::File("A       BIN", 30, 3000), C::File("CUT     BIN", 45, 40000)});
             img.PutDir(1080, 20, 0, {C::File("B       BIN", 40, 10)});
             return std::vector<Want>{{"LostFolder10/a.bin", img.PutData(Sec(30), RandomBytes(3000, 51))},
                                      {"LostFolder10/cut.bin", std::vector<uint8_t>((1300 - Sec(45)) * 512, 0), 30}};
         }, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FatCraft img(c.diskSectors);
        const std::vector<Want> wants = c.build(img);
        Scan(img, c.scannedSectors);
        for (const Want& w : wants) {
            const _FILE_NODE_* node = Listed(w.path);
            ASSERT_NE(nullptr, node) << w.path;
            EXPECT_EQ(w.rc, SaveNode(scan->engine, *node, out.file("f"))) << w.path;
            EXPECT_EQ(Sha256Hex(w.data), Sha256File(out.file("f"))) << w.path;
        }
        for (const std::string& p : c.absent) EXPECT_EQ(nullptr, Listed(p)) << p;
        EXPECT_EQ(c.listed ? c.listed : found.size(), found.size());
    }
    // A folder known only by number has no cluster size of its own.
    const EngineTree tree = WalkEngineTree(scan->engine);
    EXPECT_EQ(0xFFFFFFFFu, NodeAt(tree, "LostFolder10", 1).nClusterBytes);
}

namespace {
// A sector of plausible entries with random names, clusters and sizes: it passes
// the directory-table test although no volume ever held it.
std::vector<FatRawEntry> Decoys(std::mt19937& rng, bool withOpenRun) {
    std::vector<FatRawEntry> out;
    for (int i = 0; i < (withOpenRun ? 14 : 16); ++i) {
        std::string name(11, 'A');
        for (char& ch : name) ch = char('A' + rng() % 26);
        const uint32_t cluster = 2 + rng() % 0x0FFFFFF0u;
        out.push_back(rng() % 4 == 0 ? C::Dir(name.c_str(), cluster, rng() % 3 == 0) : C::File(name.c_str(), cluster, 1 + rng(), rng() % 3 == 0));
    }
    const std::vector<FatRawEntry> run = C::LongName("A run that never finds its end", "ZZZZZZZZZZZ");
    if (withOpenRun) out.insert(out.end(), run.end() - 2, run.end());
    return out;
}
} // namespace

TEST_F(DeepFat, DecoysLoopsAndEntriesPastTheDiskDoNotHideTheRealVolume) {
    FatCraft img(12000);
    std::mt19937 rng(5);
    img.PutDir(1000, 10, 0, {C::File("A       BIN", 30, 3000)});
    img.PutDir(1080, 20, 0, {C::File("B       BIN", 40, 9000), C::Dir("LOOPA      ", 100)});
    const auto a = img.PutData(Sec(30), RandomBytes(3000, 41)), b = img.PutData(Sec(40), RandomBytes(9000, 42));
    // Folders 100 and 101 name each other in ".."; 102 names itself.
    img.PutDir(Sec(100), 100, 101, {C::File("L1      TXT", 0, 0), C::Dir("LOOPB      ", 101)});
    img.PutDir(Sec(101), 101, 100, {C::File("L2      TXT", 0, 0)});
    img.PutDir(Sec(102), 102, 102, {C::File("L3      TXT", 0, 0)});
    img.PutDir(Sec(103), 103, 0, {C::File("FAR     BIN", 0x0FFFFFF0, 100000), C::File("HUGE    BIN", 200, 0xFFFFFFFF)});
    for (int i = 0; i < 300; ++i) img.PutEntries(3000 + rng() % 8900, 0, Decoys(rng, i % 5 == 0));
    for (int i = 0; i < 60; ++i) img.PutDir(3000 + rng() % 8900, 2 + rng() % 5000, rng() % 5000, {C::File("STRAY   TXT", 0, 0)});
    Scan(img);
    EXPECT_GT(found.size(), 100u) << "decoys are recorded too: a deep scan cannot tell them apart";
    EXPECT_EQ(Sha256Hex(a), Recover("LostFolder10/a.bin"));
    EXPECT_EQ(Sha256Hex(b), Recover("LostFolder20/b.bin"));
    for (const char* name : {"l1.txt", "l2.txt", "l3.txt"}) EXPECT_NE(nullptr, Listed(name)) << name;
    // Data past the end of the disk is an error, not a crash.
    for (const char* name : {"far.bin", "huge.bin"}) {
        ASSERT_NE(nullptr, Listed(name)) << name;
        EXPECT_EQ(30, SaveNode(scan->engine, *Listed(name), out.file("x"))) << name;
    }
}

TEST_F(DeepFat, MissingDeviceAndOversizedClusters) {
    CLogFileManager::GetInstance()->AddDirIndex();
    CProfessionalFatRecovery missing;
    EXPECT_NE(0, missing.Init(7, 0, 100, L'C'));
    std::vector<uint8_t> sector = C::Table({C::Dir(".          ", 10), C::Dir("..         ", 0), C::File("A       BIN", 30, 3000)});
    EXPECT_EQ(0, missing.ParseFatFileRecord(sector.data(), 1000));
    EXPECT_EQ(0, missing.DealProfessionalRecordVec());
    EXPECT_EQ(0, missing.GetLostFileCount()) << "no geometry ever: the held file is dropped";
    // A cluster size no volume has is refused before anything is allocated for it.
    _FILE_NODE_ node{};
    std::strcpy(node.szFileName, "big.txt");
    node.nClusterBytes = 0x6400001;
    node.u64FileSize = 10;
    Preview shown = PreviewNode(missing, node, 16);
    EXPECT_EQ(29, shown.rc);
    EXPECT_TRUE(shown.bytes.empty());
}

TEST_F(DeepFat, StopEmptyFilesAndFragmentsWithoutAFat) {
    FatCraft img(2000);
    img.PutDir(1000, 10, 0, {C::File("BIG     BIN", 32, 12000), C::File("EMPTY   BIN", 0, 0), C::File("SPLIT   BIN", 40, 3 * 4096)});
    img.PutDir(1080, 20, 0, {C::File("Z       BIN", 50, 10)});
    img.PutData(Sec(32), RandomBytes(12000, 62));
    // "split" really lies in clusters 40, 44 and 45; cluster 41 holds another file's data.
    const auto head = img.PutData(Sec(40), RandomBytes(4096, 63)), other = img.PutData(Sec(41), RandomBytes(4096, 64));
    img.PutData(Sec(44), RandomBytes(2 * 4096, 65));
    Scan(img);
    EngineReports reports;
    reports.Attach(scan->engine, 90);
    // Without a FAT the copy is the run of clusters from the first: a fragmented file comes back wrong.
    std::vector<uint8_t> run(head);
    run.resize(3 * 4096, 0);
    std::copy(other.begin(), other.end(), run.begin() + 4096);
    EXPECT_EQ(Sha256Hex(run), Recover("LostFolder10/split.bin"));
    reports.saves.clear();
    EXPECT_EQ(Sha256Hex({}), Recover("LostFolder10/empty.bin"));
    EXPECT_EQ((std::vector<std::pair<int, int>>{{100, 0}}), reports.saves) << "one report for an empty file";
    reports.saves.clear();
    // A stop answered to the first report (after the first run of clusters) ends the save as stopped.
    reports.stopSaveAt = 0;
    EXPECT_EQ(-9527, SaveNode(scan->engine, NodeAt(found, "LostFolder10/big.bin"), out.file("stopped")));
}
