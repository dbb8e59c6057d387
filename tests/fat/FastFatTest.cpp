// The quick FAT engine on real FAT16 and FAT32 volumes (mkfs.vfat, mtools) and damaged copies of them.
#include "engine/CFileRecoveryFactory.h"
#include "engine/FileCategories.h"
#include "fixtures/EngineTree.h"
#include "fixtures/FatImageBuilder.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TestFiles.h"
#include "platform/TextCodec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <algorithm>
#include <functional>
#include <set>
#include <unistd.h>

namespace {
class FastFat : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        ORVALE_REQUIRE_TOOL("mkfs.vfat");
        ORVALE_REQUIRE_TOOL("mdeltree");
        sc = &SharedFatScenario(GetParam());
        ASSERT_TRUE(sc->ok);
        copy = dir.file("copy.img");
        ASSERT_TRUE(sc->CopyTo(copy));
    }
    EngineTree Intact() {
        std::unique_ptr<CFastFatRecovery> e = OpenFastFat(sc->image.path());
        EXPECT_EQ(0, e->ScanDevice(nullptr));
        return WalkEngineTree(*e);
    }
    // Scans the damaged copy (declared at the original size): the scan finishes, lists
    // nothing the intact volume does not hold, and every file it lists either fails
    // to save or comes back exactly.
    EngineTree ScanCopy(bool allowRenamed = false) {
        engine = OpenFastFat(copy, nullptr, (long long)(ReadFileBytes(sc->image.path()).size() / 512));
        EXPECT_EQ(0, engine->ScanDevice(nullptr));
        EngineTree tree = WalkEngineTree(*engine), intact = Intact();
        for (auto& [path, node] : tree) {
            EXPECT_TRUE(allowRenamed || intact.count(path)) << "invented: " << path;
            if (node.bIsDir || !sc->expected.count(path) || SaveNode(*engine, node, dir.file("probe")) != 0) continue;
            EXPECT_EQ(Sha256Hex(sc->expected.at(path)), Sha256File(dir.file("probe"))) << path;
        }
        EXPECT_EQ(0, engine->BuildBitMapInfo());
        EXPECT_LT(FreeExtents(*engine).size(), 1000000u);
        return tree;
    }
    // The first free 32-byte slot of the root and the room after it.
    std::pair<uint64_t, size_t> RootEnd() {
        const FatImageBuilder& img = sc->image;
        std::vector<std::pair<uint64_t, size_t>> areas;
        if (GetParam() == 32) {
            const std::vector<uint32_t> fat = img.FatEntries();
            for (uint32_t c = 2; c >= 2 && c < 0x0FFFFFF8; c = fat[c]) areas.push_back({img.ClusterSector(c) * 512, img.ClusterBytes()});
        } else {
            areas.push_back({(img.DataStartSector() - 32) * 512, 32 * 512});
        }
        for (auto [offset, bytes] : areas) {
            const std::vector<uint8_t> area = img.ReadBytes(offset, bytes);
            for (size_t i = 0; i + 32 <= area.size(); i += 32)
                if (area[i] == 0) return {offset + i, bytes - i};
        }
        return {0, 0};
    }
    StoreTestEnv env;
    TempDir dir{"fastfat"};
    const FatScenario* sc = nullptr;
    std::string copy;
    std::unique_ptr<CFastFatRecovery> engine;
};
} // namespace

TEST_P(FastFat, ListsExactlyTheDeletedFilesAndGivesThemBack) {
    engine = OpenFastFat(sc->image.path());
    EngineReports reports;
    reports.Attach(*engine);
    ASSERT_EQ(0, engine->ScanDevice(nullptr));
    ASSERT_GE(reports.progress.size(), 2u);
    EXPECT_EQ(100, reports.progress.back());
    EngineTree tree = WalkEngineTree(*engine);
    std::set<std::string> files, dirs, expected;
    for (auto& [path, node] : tree) (node.bIsDir ? dirs : files).insert(path);
    for (auto& [path, data] : sc->expected) expected.insert(path);
    EXPECT_EQ(expected, files);
    // Exactly the folders that lead to a recorded file; live folders without one stay out.
    EXPECT_EQ((std::set<std::string>{"Docs", "Docs/Nested", "Kept", "Many", "Trip", "Trip/Day 1"}), dirs);
    for (const char* d : {"Trip", "Trip/Day 1", "Kept"}) EXPECT_EQ(1u, tree.find(d)->second.nReserved) << d;
    EXPECT_EQ(0u, tree.find("Docs")->second.nReserved);
    for (auto& [path, data] : sc->expected)
        EXPECT_EQ(Sha256Hex(data), RecoveredSha(*engine, FindNode(tree, path, 0), dir.file("out"))) << path;
    EXPECT_EQ("Trip/Day 1/", ParentPath(*engine, NodeAt(tree, "Trip/Day 1/Café 照片.txt")));
    // A deleted folder comes back whole; a live folder holding deleted files saves just those.
    ASSERT_EQ(0, MakeDirectories(dir.file("saved")));
    reports = EngineReports();
    ASSERT_EQ(0, SaveFolder(*engine, NodeAt(tree, "Trip"), dir.file("saved/Trip")));
    for (const char* f : {"Beach archive.dat", "Day 1/Café 照片.txt", "Day 1/empty file.txt"})
        EXPECT_EQ(Sha256Hex(sc->expected.at(std::string("Trip/") + f)), Sha256File(dir.file("saved/Trip/") + f)) << f;
    ASSERT_FALSE(reports.targets.empty());
    EXPECT_EQ(dir.file("saved/Trip/Beach archive.dat"), reports.targets.front());
    for (auto [progress, error] : reports.saves) EXPECT_EQ(0, error);
    ASSERT_EQ(0, SaveFolder(*engine, NodeAt(tree, "Docs"), dir.file("saved/Docs")));
    EXPECT_EQ(Sha256Hex(sc->expected.at("Docs/Nested/Deep note.txt")), Sha256File(dir.file("saved/Docs/Nested/Deep note.txt")));
    EXPECT_FALSE(FileExists(dir.file("saved/Docs/Report final.docx")));
    // A longer file at the target is replaced, not left with its old tail; an empty file gets one report.
    WriteFileBytes(dir.file("over"), RandomBytes(100000, 5));
    EXPECT_EQ(Sha256Hex(sc->expected.at("Docs/Old draft.txt")), RecoveredSha(*engine, FindNode(tree, "Docs/Old draft.txt"), dir.file("over")));
    reports.saves.clear();
    EXPECT_EQ(Sha256Hex({}), RecoveredSha(*engine, FindNode(tree, "Empty deleted.txt"), dir.file("empty")));
    EXPECT_EQ((std::vector<std::pair<int, int>>{{100, 0}}), reports.saves);
    EXPECT_EQ(87, engine->SaveFileData(nullptr, nullptr, 0));
    // Preview: text into the caller's buffer, at most its length; a photo extension into a temporary file.
    const std::vector<uint8_t>& draft = sc->expected.at("Docs/Old draft.txt");
    Preview text = PreviewNode(*engine, NodeAt(tree, "Docs/Old draft.txt"), 1000);
    EXPECT_EQ(0, text.rc);
    EXPECT_EQ(std::vector<uint8_t>(draft.begin(), draft.begin() + 1000), text.bytes);
    _FILE_NODE_ photo = NodeAt(tree, "Several clusters.bin");
    std::strcpy(photo.szFileName, "Several clusters.jpg");
    Preview shown = PreviewNode(*engine, photo);
    EXPECT_EQ(0, shown.rc);
    EXPECT_TRUE(shown.bytes.empty());
    EXPECT_EQ(Sha256Hex(sc->expected.at("Several clusters.bin")), Sha256File(shown.file));
    // The free runs cover exactly the clusters whose FAT entry is 0.
    ASSERT_EQ(0, engine->BuildBitMapInfo());
    const FAST_FAT_GEOMETRY& g = engine->Geometry();
    std::set<uint64_t> freeClusters, covered;
    const std::vector<uint32_t> fat = sc->image.FatEntries();
    for (uint32_t c = 2; c < g.nClusterCount + 2; ++c)
        if (fat.at(c) == 0) freeClusters.insert(g.nDataStartSector + uint64_t(c - 2) * g.nSectorsPerCluster);
    for (auto [sector, count] : FreeExtents(*engine))
        for (uint64_t s = sector; s < sector + count; s += g.nSectorsPerCluster) covered.insert(s);
    EXPECT_EQ(freeClusters, covered);
}

TEST_P(FastFat, DamagedCopiesCostOnlyWhatIsDamaged) {
    const EngineTree intact = Intact();
    const uint32_t many = intact.find("Many")->second.nClusterNO, cb = sc->image.ClusterBytes();
    const _FILE_NODE_ big = NodeAt(intact, "Trip/Beach archive.dat"), several = NodeAt(intact, "Several clusters.bin"),
                      inside = NodeAt(intact, "Kept/Inside live.txt");
    const auto [end, room] = RootEnd();
    ASSERT_GE(room, 64u);
    const struct {
        const char* what;
        std::function<void(FatImageBuilder&)> damage;
        std::function<void(const EngineTree&, FatImageBuilder&)> check;
        bool renames;
    } cases[] = {
        {"truncated image",
         [&](FatImageBuilder&) { ASSERT_EQ(0, ::truncate(copy.c_str(), off_t((sc->image.ClusterSector(big.nClusterNO) + 64) * 512))); },
         [&](const EngineTree& t, FatImageBuilder&) {
             EXPECT_EQ(1u, t.count("Docs/Old draft.txt"));
             EXPECT_NE(0, SaveNode(*engine, big, dir.file("big")));
         }, false},
        // The root is read whatever it holds: after its last entry comes noise, not the end mark.
        {"noise after the root's entries and a wiped folder",
         [&](FatImageBuilder& img) {
             std::vector<uint8_t> noise = RandomBytes(std::min<size_t>(room, 4096), 31);
             for (size_t i = 0; i < noise.size(); i += 32) noise[i] = noise[i] ? noise[i] : 0x41;
             ASSERT_TRUE(img.Patch(end, noise));
             ASSERT_TRUE(img.Patch(sc->image.ClusterSector(intact.find("Docs/Nested")->second.nClusterNO) * 512,
                                   RandomBytes(sc->image.ClusterBytes(), 32)));
         },
         [&](const EngineTree& t, FatImageBuilder&) {
             for (auto& [path, node] : intact) EXPECT_EQ(path.rfind("Docs/Nested", 0) == 0 ? 0u : 1u, t.count(path)) << path;
         }, false},
        {"a FAT entry past the end",
         [&](FatImageBuilder& img) { ASSERT_TRUE(img.SetFatEntry(many, GetParam() == 32 ? 0x0FFFFF00 : 0xFFF0)); },
         [&](const EngineTree& t, FatImageBuilder& img) {
             EXPECT_EQ(1u, t.count("Docs/Old draft.txt"));
             // Behind the bad entry only clusters named as an earlier cluster's successor are marked used.
             const uint8_t* bits = engine->GetBitMap();
             ASSERT_NE(nullptr, bits);
             const std::vector<uint32_t> fat = img.FatEntries();
             std::set<uint32_t> successors(fat.begin() + 2, fat.begin() + many);
             for (uint32_t c = many + 1; c < engine->Geometry().nClusterCount + 2; ++c)
                 EXPECT_EQ(successors.count(c) == 1, bool((bits[(c - 2) / 8] >> ((c - 2) % 8)) & 1)) << c;
         }, false},
        // A chain that ends or loops before the file does gives a short file and an error, never the root area or
        // another file's clusters as data.
        {"chains cut short or looping",
         [&](FatImageBuilder& img) {
             ASSERT_TRUE(img.SetFatEntry(several.nClusterNO + 2, GetParam() == 32 ? 0x0FFFFFFF : 0xFFFF));
             ASSERT_TRUE(img.SetFatEntry(img.FatEntries().at(many), many));
             ASSERT_TRUE(img.SetFatEntry(inside.nClusterNO, inside.nClusterNO));
         },
         [&](const EngineTree& t, FatImageBuilder&) {
             ASSERT_EQ(1u, t.count("Kept/Inside live.txt"));
             EngineReports reports;
             reports.Attach(*engine);
             for (const auto& [node, path, clusters] :
                  {std::make_tuple(several, "Several clusters.bin", 2u), std::make_tuple(inside, "Kept/Inside live.txt", 1u)}) {
                 EXPECT_EQ(CFastFatRecovery::kChainEndedEarly, SaveNode(*engine, node, dir.file("short"))) << path;
                 std::vector<uint8_t> got = ReadFileBytes(dir.file("short"));
                 ASSERT_EQ(clusters * cb, got.size()) << path;
                 EXPECT_TRUE(std::equal(got.begin(), got.end(), sc->expected.at(path).begin())) << path;
             }
             EXPECT_EQ(CFastFatRecovery::kChainEndedEarly, reports.saves.back().second);
             Preview shown = PreviewNode(*engine, inside);
             EXPECT_EQ(CFastFatRecovery::kChainEndedEarly, shown.rc);
             EXPECT_EQ(cb, shown.bytes.size());
             _FILE_NODE_ first = several;
             first.nClusterNO = 0; // an entry that lost its first cluster has no data to give
             EXPECT_EQ(CFastFatRecovery::kChainEndedEarly, SaveNode(*engine, first, dir.file("short")));
             EXPECT_TRUE(ReadFileBytes(dir.file("short")).empty());
         }, false},
        // A second deleted entry for the deleted "Trip", and a stale one for the cluster the live "Docs" uses.
        {"extra root entries for one folder",
         [&](FatImageBuilder& img) {
             std::vector<uint8_t> trip = sc->image.ReadBytes(sc->image.FindShortEntry("\xE5" "RIP       "), 32);
             std::vector<uint8_t> docs = sc->image.ReadBytes(sc->image.FindShortEntry("DOCS       "), 32);
             trip[1] = 'X', docs[0] = 0xE5, docs[1] = 'L';
             trip.insert(trip.end(), docs.begin(), docs.end());
             ASSERT_TRUE(img.Patch(end, trip));
         },
         [&](const EngineTree& t, FatImageBuilder&) {
             int copies = 0;
             for (auto& [path, node] : t) copies += path.size() >= 17 && path.compare(path.size() - 17, 17, "Beach archive.dat") == 0;
             EXPECT_EQ(1, copies);
             EXPECT_EQ(0u, t.count("Docs/Report final.docx")) << "a live file is not a deleted one";
             EXPECT_EQ(0u, t.find("Docs")->second.nReserved);
         }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(sc->CopyTo(copy));
        FatImageBuilder img(copy, GetParam());
        c.damage(img);
        EngineTree tree = ScanCopy(c.renames);
        c.check(tree, img);
    }
}

TEST_P(FastFat, StopReopenFactoryPathAndRefusals) {
    std::unique_ptr<CFastFatRecovery> stopped = OpenFastFat(sc->image.path());
    EngineReports stop;
    stop.stopScanAt = 0;
    stop.Attach(*stopped, 9);
    EXPECT_EQ(1, stopped->ScanDevice(nullptr)) << "the callback's value ends the scan";
    // Opened by path through the factory; the stored result reopens by its name.
    std::unique_ptr<IFileRecoveryParse> byPath(CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
        Utf8ToWide(sc->image.path().c_str()).data(), L'C', RECOVERY_TYPE_FAST));
    ASSERT_NE(nullptr, dynamic_cast<CFastFatRecovery*>(byPath.get()));
    ASSERT_EQ(0, byPath->ScanDevice(nullptr));
    const size_t listed = WalkEngineTree(*byPath).size();
    ASSERT_EQ(0, RunCommand("cd " + ShellQuote(env.resultDir()) + " && ls Fast_* | grep -v -e _Relation -e _DirInfo > " +
                            ShellQuote(dir.file("store"))));
    const std::vector<uint8_t> listing = ReadFileBytes(dir.file("store"));
    const std::string store(listing.begin(), std::find(listing.begin(), listing.end(), '\n'));
    ASSERT_FALSE(store.empty());
    std::unique_ptr<CFastFatRecovery> reopened = OpenFastFat(sc->image.path());
    ASSERT_EQ(0, reopened->ScanDevice(Utf8ToWide(store.c_str()).data()));
    EXPECT_EQ(listed, WalkEngineTree(*reopened).size());
    // A boot sector that describes no volume is refused instead of being divided by; so is a missing image.
    std::vector<uint8_t> bad(1024 * 1024, 0);
    bad[0x0C] = 2, bad[0x0E] = bad[0x10] = 1; // 512 bytes per sector, no sectors per cluster
    WriteFileBytes(dir.file("bad.img"), bad);
    int rc = 0;
    std::unique_ptr<CFastFatRecovery> refused = OpenFastFat(dir.file("bad.img"), &rc);
    EXPECT_EQ(87, rc);
    EXPECT_EQ(87, refused->ScanDevice(nullptr));
    EXPECT_EQ(87, refused->BuildBitMapInfo());
    uint64_t sector = 0, count = 5;
    EXPECT_EQ(0, refused->GetUnUsedSectorCount(sector, count));
    EXPECT_EQ(5u, count) << "no map: the arguments are left alone";
    OpenFastFat(dir.file("absent.img"), &rc, 100);
    EXPECT_NE(0, rc);
}

INSTANTIATE_TEST_SUITE_P(Fat16And32, FastFat, ::testing::Values(16, 32),
                         [](const ::testing::TestParamInfo<int>& i) { return "FAT" + std::to_string(i.param); });

class FastFatPhotos : public ::testing::Test {
protected:
    void SetUp() override { ORVALE_REQUIRE_TOOL("mkfs.vfat"); ORVALE_REQUIRE_TOOL("mdeltree"); }
    StoreTestEnv env;
    TempDir dir{"fastfatphotos"};
    const std::vector<uint8_t> jpeg = TestJpeg(6000, 3);
};

// A deleted photo whose first cluster was overwritten is unhealthy and hidden.
TEST_F(FastFatPhotos, OverwrittenPhotoIsUnhealthyAndHidden) {
    FatImageBuilder img(dir.file("v.img"), 16, 16384, 4);
    ASSERT_TRUE(img.MakeDir("/Pics") && img.PutFile("/Pics/Good photo.jpg", jpeg) && img.PutFile("/Pics/Bad photo.jpg", jpeg) &&
                img.PutFile("/Pics/Notes.txt", RandomBytes(100, 3)));
    ASSERT_EQ(0, img.Mtools("mdel", "'::/Pics/Good photo.jpg' '::/Pics/Bad photo.jpg' '::/Pics/Notes.txt'"));
    const uint32_t badCluster = img.EntryCluster("\xE5" "ADPHO~1JPG");
    ASSERT_NE(0u, badCluster);
    ASSERT_TRUE(img.Patch(img.ClusterSector(badCluster) * 512, RandomBytes(512, 4)));
    std::unique_ptr<CFastFatRecovery> engine = OpenFastFat(img.path());
    ASSERT_EQ(0, engine->ScanDevice(nullptr));
    EngineTree tree = WalkEngineTree(*engine);
    EXPECT_EQ(0u, tree.count("Pics/Bad photo.jpg")) << "an overwritten photo is not listed";
    EXPECT_EQ(1u, tree.count("Pics/Notes.txt"));
    unsigned count = 0;
    ASSERT_EQ(0, engine->GetChildrenFileCount(&tree.find("Pics")->second, 1, count));
    EXPECT_EQ(3u, count) << "counting still sees it";
    const EngineTree photos = SearchEngine(*engine, -1, CATEGORY_PHOTO);
    ASSERT_EQ(1u, photos.size());
    EXPECT_EQ("Pics/Good photo.jpg", photos.begin()->first);
    _FILE_NODE_ good = NodeAt(tree, "Pics/Good photo.jpg");
    EXPECT_EQ(Sha256Hex(jpeg), RecoveredSha(*engine, &good, dir.file("good.jpg")));
    _FILE_NODE_ overwritten = good;
    overwritten.nClusterNO = badCluster;
    EXPECT_EQ(0, engine->IsFileDataHealth(&overwritten, img.SectorsPerCluster()));
    std::strcpy(overwritten.szFileName, "data.unknownext"); // no judgement without a known extension
    EXPECT_EQ(1, engine->IsFileDataHealth(&overwritten, img.SectorsPerCluster()));
}

// A deleted FAT32 entry beyond cluster 65535 that lost its high word is found by
// the signature at each candidate (a folder by its "." entry).
TEST_F(FastFatPhotos, LostHighWordsAreProbedBack) {
    FatImageBuilder img(dir.file("v.img"), 32, 40000, 1);
    ASSERT_TRUE(img.PutFile("/filler.bin", std::vector<uint8_t>(66000u * 512, 0)) && img.MakeDir("/Far away"));
    const std::vector<uint8_t> remote = RandomBytes(1500, 8);
    ASSERT_TRUE(img.PutFile("/Far away/Remote file.txt", remote) && img.PutFile("/FAR.JPG", jpeg) &&
                img.PutFile("/NOEXT", RandomBytes(700, 9)) && img.DeleteTree("/Far away"));
    ASSERT_EQ(0, img.Mtools("mdel", "::/FAR.JPG ::/NOEXT"));
    uint32_t noext = 0;
    for (const char* name : {"\xE5" "ARAWA~1   ", "\xE5" "AR     JPG", "\xE5" "OEXT      "}) {
        noext = img.EntryCluster(name);
        ASSERT_GT(noext, 65535u) << name;
        ASSERT_TRUE(img.Patch(img.FindShortEntry(name) + 20, {0, 0})); // as some systems leave deleted entries
        noext &= 0xFFFF;
    }
    std::unique_ptr<CFastFatRecovery> engine = OpenFastFat(img.path());
    ASSERT_EQ(0, engine->ScanDevice(nullptr));
    EngineTree tree = WalkEngineTree(*engine);
    EXPECT_EQ(Sha256Hex(remote), RecoveredSha(*engine, FindNode(tree, "Far away/Remote file.txt"), dir.file("a")));
    EXPECT_EQ(Sha256Hex(jpeg), RecoveredSha(*engine, FindNode(tree, "!ar.jpg"), dir.file("b")));
    // Without an extension there is nothing to probe with: the high word stays 0.
    EXPECT_EQ(noext, NodeAt(tree, "!oext").nClusterNO);
}

// Saves that follow a FAT chain in runs of neighbouring clusters: a chain that
// jumps, and runs longer than one read, come back byte for byte.
TEST(FatRunSave, JumpingChainAndLongRunsComeBackExact) {
    ORVALE_REQUIRE_TOOL("mkfs.vfat");
    StoreTestEnv env;
    TempDir dir{"fatruns"};
    FatImageBuilder img(dir.file("runs.img"), 32, 40000, 1);
    const std::vector<uint8_t> jumping = RandomBytes(300000, 1), longRun = RandomBytes(3 << 20, 2);
    ASSERT_TRUE(img.PutFile("/JUMP.BIN", jumping) && img.PutFile("/LONG.BIN", longRun));
    // The second half of JUMP moves past everything else, and garbage takes its place.
    const std::vector<uint32_t> fat = img.FatEntries();
    const uint32_t cb = img.ClusterBytes(), s = img.EntryCluster("JUMP    BIN"), n = (300000 + cb - 1) / cb, h = n / 2;
    uint32_t t = uint32_t(fat.size());
    while (t > 2 && fat[t - 1] == 0) --t;
    t += 10;
    for (uint32_t i = 0; h + i < n; ++i) {
        ASSERT_TRUE(img.Patch(img.ClusterSector(t + i) * 512, img.ReadBytes(img.ClusterSector(s + h + i) * 512, cb)));
        ASSERT_TRUE(img.Patch(img.ClusterSector(s + h + i) * 512, std::vector<uint8_t>(cb, 0xAA)));
        ASSERT_TRUE(img.SetFatEntry(s + h + i, 0) && img.SetFatEntry(t + i, h + i + 1 < n ? t + i + 1 : 0x0FFFFFFF));
    }
    ASSERT_TRUE(img.SetFatEntry(s + h - 1, t));
    // Both marked deleted, their chains kept.
    for (const char* name : {"JUMP    BIN", "LONG    BIN"})
        ASSERT_TRUE(img.FindShortEntry(name) && img.Patch(img.FindShortEntry(name), {0xE5})) << name;
    std::unique_ptr<CFastFatRecovery> engine = OpenFastFat(img.path());
    ASSERT_EQ(0, engine->ScanDevice(nullptr));
    const EngineTree tree = WalkEngineTree(*engine);
    EXPECT_EQ(Sha256Hex(jumping), RecoveredSha(*engine, FindNode(tree, "!ump.bin"), dir.file("jump")));
    EXPECT_EQ(Sha256Hex(longRun), RecoveredSha(*engine, FindNode(tree, "!ong.bin"), dir.file("long")));
}
