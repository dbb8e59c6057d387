// The quick NTFS engine on a real volume (mkntfs, ntfs-3g), damaged copies of it, and volumes made by hand.
#include "engine/CFileRecoveryFactory.h"
#include "engine/FileCategories.h"
#include "fixtures/EngineTree.h"
#include "fixtures/NtfsImageRecord.h"
#include "fixtures/NtfsImageVolume.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TestFiles.h"
#include "ntfs/CFastNtfsRecovery.h"
#include "platform/CDiskReader.h"
#include "platform/TextCodec.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace {
class FastNtfs : public ::testing::Test {
protected:
    void SetUp() override {
        ORVALE_REQUIRE_TOOL("mkntfs");
        ORVALE_REQUIRE_TOOL("ntfs-3g");
        std::string error;
        sc = SharedNtfsScenario(error);
        ASSERT_NE(nullptr, sc) << error;
    }
    // Opens and scans an image: the scan's result, the tree in `tree`.
    int Scan(CFastNtfsRecovery& engine, const std::string& image, EngineReports* reports = nullptr) {
        int rc = engine.Init(Utf8ToWide(image.c_str()).data(), L'C');
        if (rc != 0) return rc;
        if (reports) reports->Attach(engine);
        rc = engine.ScanDevice(nullptr);
        tree = WalkEngineTree(engine);
        return rc;
    }
    // Every listed deleted file either fails to save or comes back exactly: never a wrong file reported as saved.
    int SavedExactly(CFastNtfsRecovery& engine) {
        int saved = 0;
        for (const NtfsDeletedFile& f : sc->deleted) {
            const _FILE_NODE_* node = FindNode(tree, f.path, 0);
            if (!node || SaveNode(engine, *node, dir.file("probe")) != 0) continue;
            EXPECT_EQ(f.sha256, Sha256File(dir.file("probe"))) << f.path;
            ++saved;
        }
        return saved;
    }
    StoreTestEnv env;
    TempDir dir{"fastntfs"};
    const NtfsScenario* sc = nullptr;
    EngineTree tree;
};
} // namespace

TEST_F(FastNtfs, ListsExactlyTheDeletedFilesAndGivesThemBack) {
    CFastNtfsRecovery engine;
    EngineReports reports;
    ASSERT_EQ(0, Scan(engine, sc->imagePath, &reports));
    ASSERT_FALSE(reports.progress.empty());
    EXPECT_EQ(100, reports.progress.back());
    for (size_t i = 1; i < reports.progress.size(); ++i) EXPECT_GE(reports.progress[i], reports.progress[i - 1]);
    std::set<std::string> expected;
    for (const NtfsDeletedFile& f : sc->deleted) {
        if (!f.visible) continue;
        expected.insert(f.path);
        const _FILE_NODE_* node = FindNode(tree, f.path, 0);
        ASSERT_NE(nullptr, node) << f.path;
        EXPECT_EQ(f.sha256, RecoveredSha(engine, node, dir.file("out"))) << f.path;
        EXPECT_EQ(f.path.substr(0, f.path.rfind('/') + 1), ParentPath(engine, *node)) << f.path;
    }
    for (auto& [path, node] : tree) EXPECT_TRUE(node.bIsDir || expected.count(path) || path.rfind("fill/", 0) == 0) << "unexpected " << path;
    EXPECT_EQ(0u, FindNode(tree, "docs/empty.dat")->bIsHealth) << "an empty resident value is judged unhealthy";
    // A folder whose record holds a live file becomes a lost folder.
    EXPECT_EQ(0xFFFFFFFFu, NodeAt(tree, "LostFolder" + std::to_string(sc->lostFolderRecord), 1).nClusterBytes);
    unsigned count = 0;
    _FILE_NODE_ docs = NodeAt(tree, "docs", 1);
    ASSERT_EQ(0, engine.GetChildrenFileCount(&docs, 1, count));
    size_t docsFiles = 0;
    for (const NtfsDeletedFile& f : sc->deleted) docsFiles += f.path.compare(0, 5, "docs/") == 0;
    EXPECT_EQ(docsFiles, count) << "the hidden photo is counted";
    // The fragmented file really is: a runlist far longer than one sector's worth.
    std::vector<__RUNLIST__> runs;
    ASSERT_EQ(0, engine.GetRunListInfo((long long)FindNode(tree, sc->fragmentedPath)->u64RecordSector, 0x80, runs));
    EXPECT_GT(runs.size(), 100u);
    // Folders come back whole; hidden photos are not saved with them.
    for (const char* top : {"docs", "gone"}) ASSERT_EQ(0, SaveFolder(engine, NodeAt(tree, top, 1), dir.file(top)));
    for (const NtfsDeletedFile& f : sc->deleted) {
        if (f.path.compare(0, 5, "docs/") && f.path.compare(0, 5, "gone/")) continue;
        EXPECT_EQ(f.visible ? f.sha256 : Sha256Hex({}), Sha256File(dir.file(f.path))) << f.path;
    }
    // Preview: resident data whole, non-resident to the buffer's capacity, a photo into the log folder.
    Preview small = PreviewNode(engine, NodeAt(tree, "small.txt")), photo = PreviewNode(engine, NodeAt(tree, "docs/photo.jpg"));
    EXPECT_EQ(0, small.rc);
    EXPECT_EQ(sc->deleted[1].sha256, Sha256Hex(small.bytes));
    const _FILE_NODE_& large = NodeAt(tree, "docs/nested/deeper/中文文件名.bin");
    Preview head = PreviewNode(engine, large, 10000);
    ASSERT_EQ(0, SaveNode(engine, large, dir.file("large")));
    std::vector<uint8_t> whole = ReadFileBytes(dir.file("large"));
    EXPECT_EQ(std::vector<uint8_t>(whole.begin(), whole.begin() + 10000), head.bytes);
    EXPECT_EQ(0, photo.rc);
    EXPECT_TRUE(photo.bytes.empty());
    EXPECT_EQ(GetScanLogDirPath() + "tmp.jpg", photo.file);
    std::vector<unsigned char> buf(100);
    int len = 100;
    EXPECT_EQ(87, engine.PreView(nullptr, nullptr, buf.data(), len, nullptr, nullptr));
    // Search: the unhealthy fake photo stays hidden; documents include the orphan.
    const EngineTree photos = SearchEngine(engine, -1, CATEGORY_PHOTO);
    ASSERT_EQ(1u, photos.size());
    EXPECT_EQ("docs/photo.jpg", photos.begin()->first);
    EXPECT_EQ(1u, SearchEngine(engine, -1, CATEGORY_DOCUMENT).count("LostFolder" + std::to_string(sc->lostFolderRecord) + "/r.txt"));
}

TEST_F(FastNtfs, FreeExtentsCoverExactlyTheClustersTheBitmapMarksFree) {
    ORVALE_REQUIRE_TOOL("ntfscat");
    ASSERT_EQ(0, RunCommand("ntfscat " + ShellQuote(sc->imagePath) + " '$Bitmap' > " + ShellQuote(dir.file("bitmap"))));
    const std::vector<uint8_t> bitmap = ReadFileBytes(dir.file("bitmap"));
    ASSERT_FALSE(bitmap.empty());
    CFastNtfsRecovery engine;
    ASSERT_EQ(0, engine.Init(Utf8ToWide(sc->imagePath.c_str()).data(), L'C'));
    uint64_t sector = 7, count = 99;
    EXPECT_EQ(1, engine.GetUnUsedSectorCount(sector, count));
    EXPECT_EQ(0u, count) << "no bitmap yet: nothing";
    ASSERT_EQ(0, engine.BuildBitMapInfo());
    const uint64_t sectors = engine.GetSectorCount();
    std::vector<bool> covered(sectors, false);
    for (auto [start, count] : FreeExtents(engine)) {
        ASSERT_LE(start + count, sectors);
        std::fill(covered.begin() + long(start), covered.begin() + long(start + count), true);
    }
    uint64_t mismatches = 0;
    for (uint64_t c = 0; c * 8 + 8 <= sectors; ++c) {
        const bool isFree = c / 8 < bitmap.size() && ((bitmap[c / 8] >> (c % 8)) & 1) == 0;
        for (uint64_t s = c * 8; s < c * 8 + 8; ++s) mismatches += covered[s] != isFree;
    }
    EXPECT_EQ(0u, mismatches);
}

TEST_F(FastNtfs, StopByDiskNumberAtAnOffsetAndUnusableDevices) {
    CFastNtfsRecovery stopped;
    EngineReports reports;
    reports.stopScanAt = 0;
    EXPECT_EQ(1, Scan(stopped, sc->imagePath, &reports)) << "the callback's value ends the scan";
    // The volume as the partition at sector 2048 of disk 0, through the factory.
    TempDir disks("fastntfs-disk");
    ASSERT_TRUE(WriteLostVolumesDisk(disks.file("disk0"), {{2048, sc->imagePath}}, 0, 1));
    ScopedEnv diskDir("ORVALE_DISK_DIR", disks.path());
    std::unique_ptr<IFileRecoveryParse> engine(CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
        0, 2048, static_cast<long long>(sc->imageBytes / 512), L'C', RECOVERY_TYPE_FAST));
    ASSERT_NE(nullptr, dynamic_cast<CFastNtfsRecovery*>(engine.get()));
    ASSERT_EQ(0, engine->ScanDevice(nullptr));
    EngineTree t = WalkEngineTree(*engine);
    int checked = 0;
    for (const NtfsDeletedFile& f : sc->deleted) {
        const _FILE_NODE_* node = FindNode(t, f.path, 0);
        if (!f.visible || !node) continue;
        EXPECT_EQ(2048u, node->u64PartitionStartSector);
        EXPECT_EQ(f.sha256, RecoveredSha(*engine, node, dir.file("f"))) << f.path;
        ++checked;
    }
    EXPECT_EQ(int(sc->deleted.size()) - 1, checked) << "all but the hidden photo";
    CFastNtfsRecovery bad;
    const struct { const char* name; std::vector<uint8_t> bytes; int rc; } devices[] = {
        {"missing.img", {}, ENOENT}, {"short.img", std::vector<uint8_t>(1000, 0), 30}, {"zeros.img", std::vector<uint8_t>(1u << 20, 0), 87}};
    for (const auto& d : devices) {
        if (!d.bytes.empty()) WriteFileBytes(dir.file(d.name), d.bytes);
        EXPECT_EQ(d.rc, Scan(bad, dir.file(d.name))) << d.name;
    }
    EXPECT_NE(0, bad.ScanDevice(nullptr));
    EXPECT_TRUE(WalkEngineTree(bad).empty());
}

TEST_F(FastNtfs, CorruptRecordsABadSectorAndACutCostOnlyThemselves) {
    CFastNtfsRecovery clean;
    ASSERT_EQ(0, Scan(clean, sc->imagePath));
    const EngineTree intact = tree;
    const std::string longName = "docs/A rather long file name that goes well beyond the old eight-dot-three limit.dat";
    const std::string accented = "docs/nested/Café résumé naïve.txt";
    std::vector<uint8_t> image = ReadFileBytes(sc->imagePath);
    auto recordAt = [&](const std::string& path) {
        int64_t at = FindNtfsRecordOffset(image, FindNode(intact, path)->nClusterNO);
        EXPECT_GE(at, 0) << path;
        return size_t(at < 0 ? 0 : at);
    };
    auto firstAttr = [&](size_t rec) { return size_t(GetLe(image, rec + 0x14, 2)); };
    size_t rec = recordAt("docs/odd size.bin"); // garbage attributes
    std::vector<uint8_t> noise = RandomBytes(1024, 77);
    std::copy(noise.begin() + firstAttr(rec), noise.end(), image.begin() + rec + firstAttr(rec));
    rec = recordAt("small.txt"); // an attribute length of 0
    PutLe32(image, rec + firstAttr(rec) + 4, 0);
    rec = recordAt(accented); // one far beyond the record
    PutLe32(image, rec + firstAttr(rec) + 4, 0x10000);
    rec = recordAt("gone/a.txt"); // a first-attribute offset negative as a 16-bit value, bytes in use past the record
    PutLe16(image, rec + 0x14, 0xFFF0);
    PutLe32(image, rec + 0x18, 0xFFFFFFFF);
    rec = recordAt(longName); // a runlist that points far past the volume
    size_t pos = firstAttr(rec);
    while (pos < 1024 && GetLe(image, rec + pos, 4) != 0x80) pos += GetLe(image, rec + pos + 4, 4);
    ASSERT_LT(pos, 1024u);
    const size_t run = rec + pos + GetLe(image, rec + pos + 0x20, 2);
    const unsigned lengthBytes = image[run] & 0x0F, offsetBytes = image[run] >> 4;
    ASSERT_GE(offsetBytes, 2u);
    for (unsigned i = 0; i < offsetBytes; ++i) image[run + 1 + lengthBytes + i] = 0xFF;
    image[run + lengthBytes + offsetBytes] = 0x7F;
    WriteFileBytes(dir.file("bad.img"), image);
    CFastNtfsRecovery engine;
    ASSERT_EQ(0, Scan(engine, dir.file("bad.img")));
    for (const char* gone : {"small.txt", "gone/a.txt"}) EXPECT_EQ(nullptr, FindNode(tree, gone)) << gone;
    EXPECT_EQ(nullptr, FindNode(tree, accented));
    const _FILE_NODE_& far = NodeAt(tree, longName); // its names are intact
    for (const NtfsDeletedFile& f : sc->deleted) {
        const bool damaged = f.path == "small.txt" || f.path == accented || f.path == "gone/a.txt" ||
                             f.path == "docs/odd size.bin" || f.path == longName;
        EXPECT_TRUE(damaged || !f.visible || FindNode(tree, f.path)) << f.path;
    }
    EXPECT_NE(0, SaveNode(engine, far, dir.file("far"))) << "clusters past the volume";
    EXPECT_GE(SavedExactly(engine), 6) << "every undamaged file";
    // A bad sector in the $MFT costs only the record in it.
    const uint64_t bad = FindNode(intact, "gone/a.txt")->u64RecordSector;
    ASSERT_GT(FindNode(intact, "gone/sub/b.bin")->u64RecordSector, bad) << "a later record of the same read";
    CDiskReader::SetFailingSectorsForTesting({bad});
    CFastNtfsRecovery unreadable;
    const int rc = Scan(unreadable, sc->imagePath);
    CDiskReader::SetFailingSectorsForTesting({});
    EXPECT_EQ(0, rc);
    for (const NtfsDeletedFile& f : sc->deleted)
        EXPECT_TRUE(!f.visible || (f.path != "gone/a.txt") == (FindNode(tree, f.path) != nullptr)) << f.path;
    // A truncated image finishes with what it found.
    const std::vector<uint8_t> whole = ReadFileBytes(sc->imagePath);
    WriteFileBytes(dir.file("cut.img"), std::vector<uint8_t>(whole.begin(), whole.begin() + (2 << 20)));
    CFastNtfsRecovery cut;
    ASSERT_EQ(0, Scan(cut, dir.file("cut.img"))) << "unreadable parts of the $MFT do not fail the scan";
    EXPECT_NE(nullptr, FindNode(tree, "small.txt"));
    EXPECT_EQ(nullptr, FindNode(tree, sc->fragmentedPath)) << "its record lies past the cut";
    const int saved = SavedExactly(cut);
    EXPECT_GE(saved, 1);
    EXPECT_LT(saved, int(sc->deleted.size()) - 1) << "files whose data lies past the cut are refused";
}

// Hand-made volumes: the cases a formatter cannot be made to produce on demand.
namespace {
class QuickNtfsEdge : public ::testing::Test {
protected:
    void Scan(const NtfsImageSynthetic& vol) {
        WriteFileBytes(dir.file("v.img"), vol.bytes());
        engine.reset(new CFastNtfsRecovery());
        ASSERT_EQ(0, engine->Init(Utf8ToWide(dir.file("v.img").c_str()).data(), L'C'));
        reports.Attach(*engine);
        ASSERT_EQ(0, engine->ScanDevice(nullptr));
        tree = WalkEngineTree(*engine);
    }
    std::string Saved(const std::string& path) { return RecoveredSha(*engine, FindNode(tree, path, 0), dir.file("saved")); }
    StoreTestEnv env;
    TempDir dir{"ntfsedge"};
    std::unique_ptr<CFastNtfsRecovery> engine{new CFastNtfsRecovery()};
    EngineTree tree;
    EngineReports reports;
};
} // namespace

TEST_F(QuickNtfsEdge, RecordFlagsAndParentChainsDecideWhereFilesAreListed) {
    NtfsImageSynthetic vol(512, 8, 2048, 128);
    const std::vector<uint8_t> hi = {'h', 'i'};
    vol.SetRecord(20, NtfsFileRecord(20, 0, 5, u"a.txt", &hi, 0));
    // {record, flags, parent, name}: 40 is an empty record, 42 a live file, 43 and 44 each other's parent, 60000 outside the $MFT.
    const std::tuple<uint32_t, uint16_t, uint32_t, const char16_t*> records[] = {
        {21, 1, 5, u"live.txt"}, {22, 3, 5, u"livedir"}, {23, 2, 5, u"olddir"}, {24, 2, 5, u"chaindir"}, {25, 0, 24, u"b.txt"},
        {26, 0, 22, u"c.txt"}, {8, 0, 5, u"system.txt"}, {31, 0, 40, u"no-signature.txt"}, {33, 0, 42, u"now-a-file.txt"},
        {42, 1, 5, u"usurper.bin"}, {34, 0, 43, u"cycle.txt"}, {43, 3, 44, u"loop1"}, {44, 3, 43, u"loop2"}, {35, 0, 60000, u"far.txt"}};
    for (const auto& [n, flags, parent, name] : records) vol.SetRecord(n, NtfsFileRecord(n, flags, parent, name));
    NtfsImageRecord named(27, 0); // a short name first, the long one second
    named.AddFileName(5, u"LONGFI~1.TXT", 2);
    named.AddFileName(5, u"Long file name.txt", 1);
    vol.SetRecord(27, named.Finish());
    Scan(vol);
    for (const char* p : {"Long file name.txt", "a.txt", "chaindir/b.txt", "livedir/c.txt", "LostFolder40/no-signature.txt",
                          "LostFolder42/now-a-file.txt", "LostFolder60000/far.txt"})
        EXPECT_NE(nullptr, FindNode(tree, p, 0)) << p;
    for (const char* p : {"live.txt", "system.txt", "olddir", "usurper.bin"}) EXPECT_EQ(0u, tree.count(p)) << p;
    const _FILE_NODE_& a = NodeAt(tree, "a.txt");
    EXPECT_EQ(1020u, a.u64CreateTime) << "times come from the first $FILE_NAME";
    EXPECT_EQ(2u, a.u64FileSize) << "the $DATA size replaces the name's";
    const _FILE_NODE_& lost = NodeAt(tree, "LostFolder42", 1);
    EXPECT_EQ(0xFFFFFFFFu, lost.nClusterBytes);
    EXPECT_EQ(0u, lost.u64RecordSector);
    EXPECT_EQ("chaindir/", ParentPath(*engine, NodeAt(tree, "chaindir/b.txt")));
}

TEST_F(QuickNtfsEdge, SparseListedResidentEmptyAnd4KiBSectorDataAndAnMftPastTheVolume) {
    NtfsImageSynthetic vol;
    const uint64_t cb = vol.ClusterBytes(), d = vol.FirstDataCluster();
    // $MFT: its 16 real clusters, then four billion clusters far outside the volume.
    vol.SetRecord(0, NtfsDataRecord(0, 5, u"$MFT", {{16, 4}, {0xFFFFFFFFull, 1000000}}, 64 * 1024, 16 * 4096));
    const auto a = vol.WriteClusters(d, RandomBytes(2 * cb, 1)), b = vol.WriteClusters(d + 10, RandomBytes(cb, 3));
    const auto c1 = vol.WriteClusters(d + 20, RandomBytes(2 * cb, 4)), c2 = vol.WriteClusters(d + 40, RandomBytes(2 * cb, 5));
    vol.WriteClusters(d + 2, RandomBytes(3 * cb, 2)); // what the hole's neighbours hold
    // Two clusters, a hole of three, one cluster cut short by 100 bytes.
    vol.SetRecord(20, NtfsDataRecord(20, 5, u"sparse.bin", {{2, int64_t(d)}, {3, 0, true}, {1, 10}}, 6 * cb - 100, 6 * cb, 0));
    // A base record with the first extent and a list naming the second in record 22.
    NtfsImageRecord base(21, 0);
    base.AddResidentAttrList({{0x30, 21, 0, 0}, {0x80, 21, 0, 0}, {0x80, 22, 2, 0}});
    base.AddFileName(5, u"split.bin", 1);
    base.AddData({{2, int64_t(d + 20)}}, 4 * cb, 0, 4 * cb);
    vol.SetRecord(21, base.Finish());
    NtfsImageRecord ext(22, 1);
    ext.AddData({{2, int64_t(d + 40)}}, 0, 2, 0);
    vol.SetRecord(22, ext.Finish());
    // All of the data in an extension record.
    NtfsImageRecord moved(23, 0);
    moved.AddResidentAttrList({{0x30, 23, 0, 0}, {0x80, 24, 0, 0}});
    moved.AddFileName(5, u"moved.bin", 1);
    vol.SetRecord(23, moved.Finish());
    NtfsImageRecord holder(24, 1);
    holder.AddData({{2, int64_t(d + 20)}}, 2 * cb - 7, 0, 2 * cb);
    vol.SetRecord(24, holder.Finish());
    const std::vector<uint8_t> ten = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'}, none;
    vol.SetRecord(25, NtfsFileRecord(25, 0, 5, u"ten.txt", &ten)); // padded to 16 in the record
    vol.SetRecord(26, NtfsDataRecord(26, 5, u"empty.log", {{1, int64_t(d + 60)}}, 0, cb, 0));
    vol.SetRecord(27, NtfsFileRecord(27, 0, 5, u"blank.jpg", &none));
    Scan(vol);
    EXPECT_LT(reports.progress.size(), 10u) << "no walk over clusters that do not exist";
    std::vector<uint8_t> expected(a);
    expected.resize(5 * cb, 0);
    expected.insert(expected.end(), b.begin(), b.end() - 100);
    EXPECT_EQ(Sha256Hex(expected), Saved("sparse.bin")) << "holes read as zeros";
    std::vector<uint8_t> joined(c1);
    joined.insert(joined.end(), c2.begin(), c2.end());
    EXPECT_EQ(Sha256Hex(joined), Saved("split.bin")) << "both extents, in order";
    EXPECT_EQ(Sha256Hex(std::vector<uint8_t>(c1.begin(), c1.end() - 7)), Saved("moved.bin"));
    EXPECT_EQ(Sha256Hex(ten), Saved("ten.txt"));
    EXPECT_EQ(Sha256Hex({}), Saved("empty.log"));
    EXPECT_TRUE(FileExists(dir.file("saved"))) << "an empty file is still created";
    EXPECT_EQ(nullptr, FindNode(tree, "blank.jpg")) << "an empty resident photo is unhealthy and hidden";
    NtfsImageSynthetic big(4096, 1, 512, 32);
    const std::vector<uint8_t> value = RandomBytes(3000, 9), data = big.WriteClusters(big.FirstDataCluster(), RandomBytes(3 * 4096 - 5, 10));
    big.SetRecord(20, NtfsFileRecord(20, 0, 5, u"big-resident.bin", &value, 0, 4096));
    big.SetRecord(21, NtfsDataRecord(21, 5, u"clusters.bin", {{3, int64_t(big.FirstDataCluster())}}, data.size(), 3 * 4096, 0, 4096));
    Scan(big);
    EXPECT_EQ(Sha256Hex(value), Saved("big-resident.bin"));
    EXPECT_EQ(Sha256Hex(data), Saved("clusters.bin"));
}
