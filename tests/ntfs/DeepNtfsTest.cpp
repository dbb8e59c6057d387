// The deep NTFS engine through the whole deep scan: real lost volumes given back byte for byte, and hand-made records.
#include "engine/FileCategories.h"
#include "fixtures/EngineTree.h"
#include "fixtures/NtfsImageRecord.h"
#include "fixtures/NtfsImageVolume.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TestFiles.h"
#include "platform/CDiskReader.h"

#include <gtest/gtest.h>

#include <memory>
#include <tuple>

// Two lost volumes with different cluster sizes on one disk: every file is
// placed with its own volume's $MFT, start and cluster size, and comes back byte for byte.
TEST(LostNtfs, RebuiltAndGivenBackByteForByte) {
    ORVALE_REQUIRE_TOOL("mkntfs");
    ORVALE_REQUIRE_TOOL("ntfs-3g");
    StoreTestEnv env;
    TempDir dir{"lostntfs"}, out{"lostntfs-out"};
    std::vector<LostNtfsVolume> vols;
    ASSERT_EQ("", BuildLostNtfsDisk(dir.path(), vols));
    const LostNtfsVolume& vol = vols[0];
    DeepScan scan(dir.file("disk.img"));
    ASSERT_EQ(0, scan.result);
    EngineTree tree = WalkEngineTree(scan.engine, FS_TYPE_PRO_NTFS);
    int listable = 0, n = 0;
    for (const LostNtfsVolume& v : vols) {
        for (const LostNtfsFile& f : v.files) {
            // Both volumes number their first files alike: pick this volume's copy.
            const _FILE_NODE_* node = nullptr;
            auto range = tree.equal_range(f.path);
            for (auto it = range.first; it != range.second; ++it)
                if (it->second.u64PartitionStartSector == v.start) node = &it->second;
            const std::string sha = RecoveredSha(scan.engine, node, out.file("f" + std::to_string(n++)));
            if (f.mayBeOverwritten) continue; // deleted before the volume was filled: saved, never judged
            ++listable;
            ASSERT_NE(nullptr, node) << f.path << " is not listed under its folder";
            EXPECT_EQ(v.clusterBytes, node->nClusterBytes) << f.path;
            EXPECT_EQ(Sha256Hex(f.data), sha) << f.path;
        }
    }
    EXPECT_GT(listable, 100);
    EXPECT_NE(nullptr, FindNode(tree, "Trash", 1)) << "the deleted folder is back";
    // A whole folder, previews of text (to the buffer, cut to its capacity) and of a picture (to a file).
    ASSERT_EQ(0, SaveFolder(scan.engine, NodeAt(tree, "Docs", 1), out.file("Docs")));
    for (const LostNtfsFile& f : vol.files)
        if (f.path.rfind("Docs/", 0) == 0) { EXPECT_EQ(Sha256Hex(f.data), Sha256File(out.file(f.path))) << f.path; }
    Preview text = PreviewNode(scan.engine, NodeAt(tree, "readme.txt", 0), 100), pic = PreviewNode(scan.engine, NodeAt(tree, "pic.jpg", 0));
    EXPECT_EQ(0, text.rc);
    EXPECT_EQ(std::vector<uint8_t>(vol.files[0].data.begin(), vol.files[0].data.begin() + 100), text.bytes);
    EXPECT_EQ(0, pic.rc);
    EXPECT_TRUE(pic.bytes.empty());
    EXPECT_EQ(Sha256File(pic.file), RecoveredSha(scan.engine, FindNode(tree, "pic.jpg", 0), out.file("pic")));
    // A destroyed folder record leaves its files in a lost folder.
    const _FILE_NODE_& sub = NodeAt(tree, "Docs/Sub", 1);
    std::vector<uint8_t> disk = ReadFileBytes(dir.file("disk.img"));
    std::fill(disk.begin() + long(sub.u64RecordSector * 512), disk.begin() + long(sub.u64RecordSector * 512 + 1024), 0);
    WriteFileBytes(dir.file("damaged.img"), disk);
    DeepScan damaged(dir.file("damaged.img"));
    ASSERT_EQ(0, damaged.result);
    EngineTree t2 = WalkEngineTree(damaged.engine, FS_TYPE_PRO_NTFS);
    const std::string lost = "LostFolder" + std::to_string(sub.nClusterNO);
    EXPECT_NE(nullptr, FindNode(t2, lost + "/deep.dat", 0));
    EXPECT_NE(nullptr, FindNode(t2, "Docs/report.bin", 0));
    EXPECT_EQ(nullptr, FindNode(t2, "Docs/Sub", 1));
}

namespace {
std::vector<uint8_t> Mft(const std::vector<NtfsImageRun>& runs, uint64_t allocated) {
    return NtfsDataRecord(0, 5, u"$MFT", runs, allocated, allocated);
}

// A disk of zeros with records placed at chosen sectors, deep-scanned from `start`.
class CraftedNtfs : public ::testing::Test {
protected:
    void NewDisk(uint64_t sectors) { disk.assign(sectors * 512, 0); }
    void Put(uint64_t sector, const std::vector<uint8_t>& bytes) {
        ASSERT_LE(sector * 512 + bytes.size(), disk.size());
        std::copy(bytes.begin(), bytes.end(), disk.begin() + long(sector * 512));
    }
    void Scan(uint64_t start = 0) {
        WriteFileBytes(dir.file("disk.img"), disk);
        scan.reset(new DeepScan(dir.file("disk.img"), start, disk.size() / 512 - start));
        ASSERT_EQ(0, scan->result);
        tree = WalkEngineTree(scan->engine, FS_TYPE_PRO_NTFS);
    }
    const _FILE_NODE_* Node(const std::string& path, int isDir = 0) { return FindNode(tree, path, isDir); }
    // The file at path belongs to the volume at start, of clusterBytes clusters.
    void ExpectPlaced(const std::string& path, uint64_t start, uint32_t clusterBytes) {
        const _FILE_NODE_& n = NodeAt(tree, path, 0);
        EXPECT_EQ(start, n.u64PartitionStartSector) << path;
        EXPECT_EQ(clusterBytes, n.nClusterBytes) << path;
    }
    int Save(const std::string& path, std::vector<uint8_t>* data = nullptr) {
        const _FILE_NODE_* node = Node(path);
        if (!node) return -12345;
        int rc = SaveNode(scan->engine, *node, dir.file("saved"));
        if (data) *data = ReadFileBytes(dir.file("saved"));
        return rc;
    }
    StoreTestEnv env;
    TempDir dir{"craftedntfs"};
    std::vector<uint8_t> disk;
    std::unique_ptr<DeepScan> scan;
    EngineTree tree;
};
} // namespace

TEST_F(CraftedNtfs, GeometryFromGuessesRunsAndEachMft) {
    // Records of a $MFT 67 sectors into the area at 16 (8 sectors per cluster on
    // 4 MiB): the folder is looked for at the whole cluster below, 16 + 64 + 2 x 30.
    NewDisk(8192);
    const std::vector<uint8_t> hello = {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l'};
    Put(16 + 64 + 60, NtfsFileRecord(30, 3, 5, u"Folder"));
    Put(16 + 67 + 82, NtfsFileRecord(41, 1, 30, u"live.txt", &hello));
    Put(16 + 67 + 84, NtfsFileRecord(42, 0, 30, u"gone.txt", &hello));
    Put(16 + 67 + 86, NtfsFileRecord(43, 0, 11, u"$Quota")); // volume metadata
    Scan(16);
    EXPECT_EQ(3u, tree.size());
    ExpectPlaced("Folder/live.txt", 16, 4096);
    std::vector<uint8_t> data;
    EXPECT_EQ(0, Save("Folder/live.txt", &data));
    EXPECT_EQ(hello, data) << "the 10-byte value is padded to 16 in the record";
    // 65536 allocated bytes in 16 clusters: 8 sectors per cluster, kept by the resident file after it.
    NewDisk(32768);
    Put(200, NtfsDataRecord(50, 5, u"big.bin", {{10, 100}, {6, 40}}, 60000, 65536));
    Put(202, NtfsFileRecord(51, 1, 5, u"small.txt"));
    Scan();
    ExpectPlaced("small.txt", 0, 4096);
    // Two volumes, each with folder 40, 8 and 2 sectors per cluster.
    NewDisk(32768);
    Put(1032, Mft({{64, 4}}, 64 * 4096)); // volume at 1000, $MFT at cluster 4
    Put(1032 + 80, NtfsFileRecord(40, 3, 5, u"A"));
    Put(1032 + 140, NtfsFileRecord(70, 1, 40, u"a.txt"));
    Put(3016, Mft({{256, 8}}, 256 * 1024)); // volume at 3000, $MFT at cluster 8
    Put(3016 + 80, NtfsFileRecord(40, 3, 5, u"B"));
    Put(3016 + 142, NtfsFileRecord(71, 1, 40, u"b.txt"));
    Put(3016 + 144, NtfsFileRecord(72, 1, 5, u"c.txt"));
    Scan();
    ExpectPlaced("A/a.txt", 1000, 4096);
    ExpectPlaced("A/b.txt", 3000, 1024);
    ExpectPlaced("c.txt", 3000, 1024);
    // A volume's second $MFT fragment met after another volume's $MFT: its records keep their own geometry.
    NewDisk(32768);
    Put(1032, Mft({{64, 4}, {64, 500}}, 128 * 4096)); // fragment 2 at cluster 504
    Put(3016, Mft({{256, 8}}, 256 * 1024));
    Put(3016 + 140, NtfsFileRecord(70, 1, 5, u"y.txt"));
    Put(1000 + 504 * 8 + 2 * (300 - 256), NtfsFileRecord(300, 1, 5, u"x.txt"));
    Scan();
    ExpectPlaced("x.txt", 1000, 4096);
    ExpectPlaced("y.txt", 3000, 1024);
}

TEST_F(CraftedNtfs, BrokenLoopingAndEndlessParentChains) {
    NewDisk(8192);
    const uint64_t mft = 64; // the area's contiguous $MFT
    // {place, record, flags, parent, name}: folder 50's place holds record 77, folder 51 is a file now, folder 52 is
    // nothing; 100 and 101 are each other's parent, 102 its own.
    const std::tuple<uint32_t, uint32_t, uint16_t, uint32_t, const char16_t*> records[] = {
        {60, 60, 1, 50, u"orphan.txt"}, {50, 77, 3, 5, u"Other"}, {61, 61, 1, 51, u"stray.txt"}, {51, 51, 1, 5, u"nowfile.txt"},
        {62, 62, 1, 52, u"lone.txt"}, {90, 90, 1, 100, u"inloop.txt"}, {100, 100, 3, 101, u"L1"}, {101, 101, 3, 100, u"L2"},
        {102, 102, 3, 102, u"Self"}, {91, 91, 1, 102, u"inself.txt"}};
    for (const auto& [place, n, flags, parent, name] : records) Put(mft + 2 * place, NtfsFileRecord(n, flags, parent, name));
    // 1500 folders each inside the next: longer than any chain is followed.
    for (uint32_t n = 1000; n < 2500; ++n) Put(mft + 2 * n, NtfsFileRecord(n, 3, n + 1, u"D"));
    Put(mft + 2 * 92, NtfsFileRecord(92, 1, 1000, u"deep.txt"));
    Scan();
    for (uint32_t n : {50u, 51u, 52u}) {
        const _FILE_NODE_& lost = NodeAt(tree, "LostFolder" + std::to_string(n), 1);
        EXPECT_EQ(n, lost.nClusterNO);
        EXPECT_EQ(0u, lost.u64CreateTime | lost.u64FileSize | lost.u64RecordSector | lost.u64PartitionStartSector);
    }
    for (const char* p : {"LostFolder50/orphan.txt", "LostFolder51/stray.txt", "LostFolder52/lone.txt"})
        EXPECT_NE(nullptr, Node(p)) << p;
    EXPECT_EQ(nullptr, Node("Other", 1));
    // The looping and endless chains end: their folders and files are stored, reachable or not.
    EXPECT_GT(scan->engine.GetLostFileCount(), int(tree.size()) + 3);
}

TEST_F(CraftedNtfs, HostileRecordsNeverStopTheScan) {
    NewDisk(16384);
    // A $MFT with a garbage runlist (random records are the fuzz target's work).
    Put(64, Mft({{0xFFFFFFF0, INT64_MAX / 3}, {7, INT64_MIN / 5}, {0x7FFFFFFF, -1}}, 4096));
    std::vector<uint8_t> big = NtfsFileRecord(39, 1, 5, u"big.txt");
    PutLe32(big, 0x18, 1100); // bytes in use past the record: no node
    Put(64 + 78, big);
    Put(64 + 82, NtfsDataRecord(41, 5, u"far.bin", {{100, 0x7FFFFFFFFF}}, 409600, 409600));
    Scan();
    EXPECT_EQ(nullptr, Node("big.txt"));
    // Data past the end of the disk is an error, not a crash or a success.
    EXPECT_NE(0, Save("far.bin"));
    Preview far = PreviewNode(scan->engine, NodeAt(tree, "far.bin", 0));
    EXPECT_NE(0, far.rc);
    EXPECT_TRUE(far.bytes.empty());
}

TEST_F(CraftedNtfs, UnreadableBootAreaHolesShortRunsHealthAndLists) {
    NewDisk(8192);
    const std::vector<uint8_t> a = RandomBytes(4096, 1), b = RandomBytes(4096, 2);
    Put(100 * 8, a);
    Put(103 * 8, b);
    // Cluster 100, a hole of one cluster, cluster 103: 9000 bytes of 12288.
    Put(64 + 80, NtfsDataRecord(40, 5, u"holes.bin", {{1, 100}, {1, 0, true}, {1, 3}}, 9000, 3 * 4096));
    Put(64 + 82, NtfsDataRecord(41, 5, u"short.bin", {{1, 100}}, 9000, 4096)); // 4096 of 9000 bytes
    Put(64 + 84, NtfsDataRecord(42, 5, u"empty.bin", {{1, 100}}, 0, 4096));
    Put(200 * 8, TestJpeg(4096, 5));
    Put(64 + 86, NtfsDataRecord(43, 5, u"good.jpg", {{1, 200}}, 4096, 4096));
    Put(64 + 88, NtfsDataRecord(44, 5, u"bad.jpg", {{1, 300}}, 4096, 4096)); // zeros there now
    const std::vector<uint8_t> none;
    Put(64 + 90, NtfsFileRecord(45, 1, 5, u"empty.txt", &none));
    NtfsImageRecord listed(46, 1); // an attribute list is not followed: listed, never read
    listed.AddFileName(5, u"listed.bin", 1, 100);
    listed.AddResidentAttrList({{0x80, 47, 0, 0}});
    Put(64 + 92, listed.Finish());
    // A bad first sector is why deep scans are run at all.
    CDiskReader::SetFailingSectorsForTesting({0});
    Scan();
    CDiskReader::SetFailingSectorsForTesting({});
    EXPECT_EQ(1u, scan->engine.GetUnreadableSectorCount());
    std::vector<uint8_t> expected(a), data;
    expected.resize(8192, 0);
    expected.insert(expected.end(), b.begin(), b.begin() + (9000 - 8192));
    EXPECT_EQ(0, Save("holes.bin", &data));
    EXPECT_EQ(expected, data);
    EXPECT_EQ(30, Save("short.bin", &data));
    EXPECT_EQ(4096u, data.size());
    EXPECT_EQ(0, Save("empty.bin", &data));
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(87, Save("listed.bin"));
    // Pictures whose data is gone are hidden but counted; an empty resident file is damaged, not hidden.
    EXPECT_EQ(1u, Node("good.jpg")->bIsHealth);
    EXPECT_EQ(nullptr, Node("bad.jpg"));
    EXPECT_EQ(0u, Node("empty.txt")->bIsHealth);
    EXPECT_EQ(1u, SearchEngine(scan->engine, FS_TYPE_PRO_NTFS, CATEGORY_PHOTO).size());
}
