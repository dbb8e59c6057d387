// The deep NTFS engine on small disks of hand-made MFT records: geometry
// inference, parent chains, lost folders, damaged and hostile records, and
// the data access paths that real images rarely reach.
#include "disk/VolumeRecognizers.h"
#include "fixtures/DeepNtfsImage.h"
#include "fixtures/NtfsImageRecord.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "ntfs/CProfessionalNtfsRecovery.h"
#include "platform/CDiskReader.h"
#include "platform/PathHelpers.h"
#include "platform/TextCodec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>

namespace {

std::vector<uint8_t> FileRecord(uint32_t no, uint16_t flags, uint32_t parent, const std::u16string& name,
                                const std::vector<uint8_t>* resident = nullptr) {
    NtfsImageRecord r(no, flags);
    r.AddFileName(parent, name, 1, resident ? resident->size() : 0);
    if (resident) r.AddResidentData(*resident);
    return r.Finish();
}

std::vector<uint8_t> NonResidentRecord(uint32_t no, uint32_t parent, const std::u16string& name,
                                       const std::vector<NtfsImageRun>& runs, uint64_t size, uint64_t allocated) {
    NtfsImageRecord r(no, 1);
    r.AddFileName(parent, name, 1, size);
    r.AddNonResident(0x80, EncodeNtfsRunList(runs), size, 0, allocated);
    return r.Finish();
}

std::vector<uint8_t> MftRecord(const std::vector<NtfsImageRun>& runs, uint64_t allocated) {
    NtfsImageRecord r(0, 1);
    r.AddFileName(5, u"$MFT", 3, allocated);
    r.AddNonResident(0x80, EncodeNtfsRunList(runs), allocated, 0, allocated);
    return r.Finish();
}

// A disk of zeros with records placed at chosen sectors, scanned as disk0.
class ProfessionalNtfsEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = std::make_unique<TempDir>("deepntfs-syn");
        m_support = std::make_unique<TempDir>("deepntfs-syn-support");
        m_envDisk = std::make_unique<ScopedEnv>("ORVALE_DISK_DIR", m_dir->path());
        m_envSupport = std::make_unique<ScopedEnv>("ORVALE_SUPPORT_DIR", m_support->path());
    }

    void NewDisk(uint64_t sectors) { m_disk.assign(sectors * 512, 0); }
    void Put(uint64_t sector, const std::vector<uint8_t>& bytes) {
        ASSERT_LE(sector * 512 + bytes.size(), m_disk.size());
        std::copy(bytes.begin(), bytes.end(), m_disk.begin() + static_cast<long>(sector * 512));
    }

    // Init on [start, end of disk), then the pass over every record-looking sector, then the folders.
    void Scan(uint64_t start = 0) {
        WriteFileBytes(m_dir->file("disk0"), m_disk);
        const uint64_t sectors = m_disk.size() / 512;
        ASSERT_EQ(0, m_engine.Init(0, static_cast<long long>(start), static_cast<long long>(sectors - start), L'C'));
        ASSERT_EQ(0, m_engine.InitProfessionalScan(nullptr));
        for (uint64_t s = start; s + 2 <= sectors; ++s)
            if (IsNtfsFileRecord(&m_disk[s * 512], 1024)) m_engine.ParseNtfsFileRecord(&m_disk[s * 512], s);
        m_engine.ParseProfessionalRecordVec();
        m_tree = DeepNtfsImageWalk(m_engine);
    }

    const _FILE_NODE_* Node(const std::string& path, bool dir = false) { return DeepNtfsImageFind(m_tree, path, dir); }

    std::vector<uint8_t> Save(const _FILE_NODE_* node, int* rc) {
        _FILE_NODE_ copy = *node;
        const std::string target = m_dir->file("saved");
        const std::wstring w = Utf8ToWide(target.c_str());
        *rc = m_engine.SaveFileData(&copy, const_cast<wchar_t*>(w.c_str()), 0);
        return ReadFileBytes(target);
    }

    std::unique_ptr<TempDir> m_dir;
    std::unique_ptr<TempDir> m_support;
    std::unique_ptr<ScopedEnv> m_envDisk;
    std::unique_ptr<ScopedEnv> m_envSupport;
    std::vector<uint8_t> m_disk;
    CProfessionalNtfsRecovery m_engine;
    DeepNtfsImageTree m_tree;
};

TEST_F(ProfessionalNtfsEngineTest, FilesMetBeforeAnyMftUseTheContiguousGuess) {
    NewDisk(8192);  // 4 MiB: 8 sectors per cluster by default
    const std::vector<uint8_t> hello = {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l'};
    // Records of a $MFT starting 67 sectors into the area at 16: the folder is
    // looked for at the whole cluster below, 16 + 64 + 2 x 30.
    Put(16 + 64 + 60, FileRecord(30, 3, 5, u"Folder"));
    Put(16 + 67 + 82, FileRecord(41, 1, 30, u"live.txt", &hello));
    Put(16 + 67 + 84, FileRecord(42, 0, 30, u"gone.txt", &hello));
    Put(16 + 67 + 86, FileRecord(43, 0, 11, u"$Quota"));  // volume metadata
    Scan(16);

    ASSERT_NE(nullptr, Node("Folder", true));
    const _FILE_NODE_* live = Node("Folder/live.txt");
    ASSERT_NE(nullptr, live);
    ASSERT_NE(nullptr, Node("Folder/gone.txt"));
    EXPECT_EQ(nullptr, Node("$Quota"));
    EXPECT_EQ(3u, m_tree.size());
    EXPECT_EQ(16u, live->u64PartitionStartSector);
    EXPECT_EQ(4096u, live->nClusterBytes);
    EXPECT_EQ(16u + 67 + 82, live->u64RecordSector);
    EXPECT_EQ(41u, live->nClusterNO);
    EXPECT_EQ(1u, live->bIsHealth);
    // The 10-byte value is padded to 16 in the record: exactly 10 come back.
    int rc = -1;
    EXPECT_EQ(hello, Save(live, &rc));
    EXPECT_EQ(0, rc);
}

TEST_F(ProfessionalNtfsEngineTest, ClusterSizeComesFromDataRunsAndFromEachMft) {
    NewDisk(32768);  // 16 MiB: 1 sector per cluster by default
    // 65536 allocated bytes in 16 clusters: 8 sectors per cluster, kept by the resident file after it.
    Put(200, NonResidentRecord(50, 5, u"big.bin", {{10, 100}, {6, 40}}, 60000, 65536));
    Put(202, FileRecord(51, 1, 5, u"small.txt"));
    Scan();
    EXPECT_EQ(8, m_engine.GetCurrentSectorsPerCluster());
    ASSERT_NE(nullptr, Node("small.txt"));
    EXPECT_EQ(4096u, Node("small.txt")->nClusterBytes);

    // Two volumes, each with folder 40, with 8 and 2 sectors per cluster: every
    // record is placed with its own volume's $MFT, the folder is queued once.
    NewDisk(32768);
    Put(1032, MftRecord({{64, 4}}, 64 * 4096));       // volume at 1000, $MFT at cluster 4
    Put(1032 + 80, FileRecord(40, 3, 5, u"A"));
    Put(1032 + 140, FileRecord(70, 1, 40, u"a.txt"));
    Put(3016, MftRecord({{256, 8}}, 256 * 1024));     // volume at 3000, $MFT at cluster 8
    Put(3016 + 80, FileRecord(40, 3, 5, u"B"));
    Put(3016 + 142, FileRecord(71, 1, 40, u"b.txt"));
    Put(3016 + 144, FileRecord(72, 1, 5, u"c.txt"));
    Scan();
    EXPECT_EQ(2u, m_engine.GetMftRegistry().size());
    ASSERT_NE(nullptr, Node("A", true));
    EXPECT_EQ(nullptr, Node("B", true));
    const _FILE_NODE_* a = Node("A/a.txt");
    const _FILE_NODE_* b = Node("A/b.txt");
    const _FILE_NODE_* c = Node("c.txt");
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(1000u, a->u64PartitionStartSector);
    EXPECT_EQ(4096u, a->nClusterBytes);
    EXPECT_EQ(3000u, b->u64PartitionStartSector);
    EXPECT_EQ(1024u, b->nClusterBytes);
    EXPECT_EQ(3000u, c->u64PartitionStartSector);
    int queued40 = 0;
    for (const __SPECIAL_RECOVERY_DIR__& d : m_engine.GetSpecialRecoveryDirs())
        if (d.nRecordIndex == 40) {
            ++queued40;
            EXPECT_EQ(1000u, d.u64PartitionStartSector);
        }
    EXPECT_EQ(1, queued40);

    // A volume's second $MFT fragment met after another volume's $MFT changed
    // the current cluster size: the fragment's records still use their own.
    NewDisk(32768);
    Put(1032, MftRecord({{64, 4}, {64, 500}}, 128 * 4096));  // volume at 1000: fragment 2 at cluster 504
    Put(3016, MftRecord({{256, 8}}, 256 * 1024));             // volume at 3000 with 1 KiB clusters
    Put(3016 + 140, FileRecord(70, 1, 5, u"y.txt"));
    Put(1000 + 504 * 8 + 2 * (300 - 256), FileRecord(300, 1, 5, u"x.txt"));
    Scan();
    ASSERT_NE(nullptr, Node("x.txt"));
    EXPECT_EQ(1000u, Node("x.txt")->u64PartitionStartSector);
    EXPECT_EQ(4096u, Node("x.txt")->nClusterBytes);
    ASSERT_NE(nullptr, Node("y.txt"));
    EXPECT_EQ(3000u, Node("y.txt")->u64PartitionStartSector);
    EXPECT_EQ(1024u, Node("y.txt")->nClusterBytes);
}

TEST_F(ProfessionalNtfsEngineTest, BrokenChainsEndInLostFoldersWithFixedFields) {
    NewDisk(8192);
    const uint64_t mft = 64;  // contiguous $MFT of the area at 0
    Put(mft + 2 * 60, FileRecord(60, 1, 50, u"orphan.txt"));
    Put(mft + 2 * 50, FileRecord(77, 3, 5, u"Other"));        // folder 50's place holds record 77
    Put(mft + 2 * 61, FileRecord(61, 1, 51, u"stray.txt"));
    Put(mft + 2 * 51, FileRecord(51, 1, 5, u"nowfile.txt"));  // folder 51 is a file now
    Put(mft + 2 * 62, FileRecord(62, 1, 52, u"lone.txt"));    // folder 52: nothing there
    Scan();

    for (uint32_t n : {50u, 51u, 52u}) {
        const std::string lost = "LostFolder" + std::to_string(n);
        const _FILE_NODE_* dir = Node(lost, true);
        ASSERT_NE(nullptr, dir) << lost;
        EXPECT_EQ(n, dir->nClusterNO);
        EXPECT_EQ(1u, dir->bIsHealth);
        EXPECT_EQ(4096u, dir->nClusterBytes);
        EXPECT_EQ(0u, dir->u64CreateTime | dir->u64AccessTime | dir->u64ModifyTime | dir->u64FileSize |
                          dir->u64RecordSector | dir->u64PartitionStartSector | dir->u64DataStartSector);
        EXPECT_EQ(uint32_t(FS_TYPE_PRO_NTFS), dir->nFileSystemType);
    }
    EXPECT_NE(nullptr, Node("LostFolder50/orphan.txt"));
    EXPECT_NE(nullptr, Node("LostFolder51/stray.txt"));
    EXPECT_NE(nullptr, Node("LostFolder52/lone.txt"));
    EXPECT_EQ(nullptr, Node("Other", true));
}

TEST_F(ProfessionalNtfsEngineTest, LoopingAndEndlessParentChainsFinish) {
    NewDisk(8192);
    const uint64_t mft = 64;
    Put(mft + 2 * 90, FileRecord(90, 1, 100, u"inloop.txt"));
    Put(mft + 2 * 100, FileRecord(100, 3, 101, u"L1"));
    Put(mft + 2 * 101, FileRecord(101, 3, 100, u"L2"));
    Put(mft + 2 * 102, FileRecord(102, 3, 102, u"Self"));
    Put(mft + 2 * 91, FileRecord(91, 1, 102, u"inself.txt"));
    // 1500 folders each inside the next: longer than any chain is followed.
    for (uint32_t n = 1000; n < 2500; ++n) Put(mft + 2 * n, FileRecord(n, 3, n + 1, u"D"));
    Put(mft + 2 * 92, FileRecord(92, 1, 1000, u"deep.txt"));
    Scan();

    std::set<uint32_t> queued;
    for (const __SPECIAL_RECOVERY_DIR__& d : m_engine.GetSpecialRecoveryDirs()) {
        EXPECT_TRUE(queued.insert(d.nRecordIndex).second) << "queued twice: " << d.nRecordIndex;
    }
    EXPECT_TRUE(queued.count(100) && queued.count(101) && queued.count(102));
    // Each folder at most once: the three looping ones, the 1500 and the missing one above them.
    EXPECT_LE(queued.size(), 3u + 1500 + 1);
    EXPECT_GT(m_engine.GetLostFileCount(), 3);
}

TEST_F(ProfessionalNtfsEngineTest, HostileRecordsNeverStopThePass) {
    NewDisk(16384);
    // A record whose bytes in use pass the record: no node.
    std::vector<uint8_t> big = FileRecord(40, 1, 5, u"big.txt");
    PutLe32(big, 0x18, 1100);
    WriteFileBytes(m_dir->file("disk0"), m_disk);
    ASSERT_EQ(0, m_engine.Init(0, 0, 16384, L'C'));
    ASSERT_EQ(0, m_engine.InitProfessionalScan(const_cast<wchar_t*>(L"")));
    EXPECT_EQ(0u, m_engine.GetStoreName().find("Pro_Ntfs_0_"));
    EXPECT_EQ(87, m_engine.ParseNtfsFileRecord(big.data(), 300));
    EXPECT_EQ(0, m_engine.GetLostFileCount());

    // A $MFT with a garbage runlist, names with path characters, then random
    // records that pass the record test.
    Put(64, MftRecord({{0xFFFFFFF0, INT64_MAX / 3}, {7, INT64_MIN / 5}, {0x7FFFFFFF, -1}}, 4096));
    const std::vector<uint8_t> text = {'x'};
    Put(64 + 80, FileRecord(40, 1, 5, u"../../escape.txt", &text));
    Put(64 + 82, NonResidentRecord(41, 5, u"far.bin", {{100, 0x7FFFFFFFFF}}, 409600, 409600));
    std::vector<uint8_t> noise = RandomBytes(1000 * 1024, 99);
    for (size_t i = 0; i < 1000; ++i) {
        uint8_t* r = &noise[i * 1024];
        std::memcpy(r, "FILE", 4);
        r[0x18] = r[0x18] & 0xFF; r[0x19] &= 0x03; r[0x1A] = 0; r[0x1B] = 0;  // bytes in use at most 1023
        r[0x1C] = 0x00; r[0x1D] = 0x04; r[0x1E] = 0; r[0x1F] = 0;            // allocated 1024
        r[0x14] = r[0x14] & 0xF8; r[0x15] &= 0x03;
        r[510] = r[0x30]; r[511] = r[0x31];
    }
    Put(4096, noise);
    Scan();
    EXPECT_GE(m_engine.GetLostFileCount(), 2);

    // The escaping name stays inside the folder it is saved to.
    const _FILE_NODE_* esc = nullptr;
    for (const auto& kv : m_tree)
        if (kv.first.find("escape.txt") != std::string::npos) esc = &kv.second;
    ASSERT_NE(nullptr, esc);
    TempDir out("deepntfs-escape");
    _FILE_NODE_ folder{};
    folder.bIsDir = 1;
    folder.nClusterNO = 5;
    std::strcpy(folder.szFileName, "root");
    const std::wstring target = Utf8ToWide((out.path() + "/root").c_str());
    int depth = 0;
    GetPathDirIndex(target.c_str(), depth);
    m_engine.SaveFileData(&folder, const_cast<wchar_t*>(target.c_str()), depth);
    EXPECT_FALSE(FileExists(out.path() + "/escape.txt"));
    EXPECT_FALSE(FileExists(m_dir->path() + "/escape.txt"));
    EXPECT_TRUE(FileExists(out.path() + "/root/" + SanitizeFileName(esc->szFileName)));

    // Data past the end of the disk is an error, not a crash or a success.
    const _FILE_NODE_* far = Node("far.bin");
    ASSERT_NE(nullptr, far);
    int rc = 0;
    Save(far, &rc);
    EXPECT_NE(0, rc);
    _FILE_NODE_ copy = *far;
    std::vector<unsigned char> buf(10240);
    int len = static_cast<int>(buf.size());
    wchar_t tmp[256] = {};
    EXPECT_NE(0, m_engine.PreView(&copy, tmp, buf.data(), len, nullptr, nullptr));
    EXPECT_EQ(0, len);
}

TEST_F(ProfessionalNtfsEngineTest, AnUnreadableBootAreaDoesNotStopTheScan) {
    NewDisk(8192);
    const std::vector<uint8_t> text = {'o', 'k'};
    Put(64 + 80, FileRecord(40, 1, 5, u"kept.txt", &text));
    WriteFileBytes(m_dir->file("disk0"), m_disk);
    {
        // A bad first sector is why deep scans are run at all.
        CDiskReader::SetFailingSectorsForTesting({0});
        CProfessionalNtfsRecovery engine;
        const int rc = engine.Init(0, 0, 8192, L'C');
        CDiskReader::SetFailingSectorsForTesting({});
        EXPECT_EQ(0, rc);
    }
    Scan();
    ASSERT_NE(nullptr, Node("kept.txt"));
    int rc = -1;
    EXPECT_EQ(text, Save(Node("kept.txt"), &rc));

    // An area too small for the boot read, and a disk that does not exist.
    CProfessionalNtfsRecovery tiny;
    EXPECT_EQ(0, tiny.Init(0, 8190, 2, L'C'));
    CProfessionalNtfsRecovery missing;
    EXPECT_NE(0, missing.Init(7, 0, 100, L'C'));
    EXPECT_EQ(0, missing.GetLostFileCount());
    std::vector<_FILE_NODE_> none;
    EXPECT_EQ(0, missing.GetChildrenFileNode(nullptr, 0, none));
    EXPECT_TRUE(none.empty());
}

TEST_F(ProfessionalNtfsEngineTest, NonResidentDataHolesAndShortRuns) {
    NewDisk(8192);
    // 4096-byte clusters; the area's contiguous $MFT at 64.
    const std::vector<uint8_t> a = RandomBytes(4096, 1);
    const std::vector<uint8_t> b = RandomBytes(4096, 2);
    Put(100 * 8, a);
    Put(103 * 8, b);
    // cluster 100, a hole of one cluster, cluster 103; 9000 bytes of 12288.
    Put(64 + 80, NonResidentRecord(40, 5, u"holes.bin", {{1, 100}, {1, 0, true}, {1, 3}}, 9000, 3 * 4096));
    // The runs hold 4096 bytes of a 9000-byte file.
    Put(64 + 82, NonResidentRecord(41, 5, u"short.bin", {{1, 100}}, 9000, 4096));
    Put(64 + 84, NonResidentRecord(42, 5, u"empty.bin", {{1, 100}}, 0, 4096));
    Scan();

    int rc = -1;
    std::vector<uint8_t> expected(a);
    expected.resize(8192, 0);
    expected.insert(expected.end(), b.begin(), b.begin() + (9000 - 8192));
    ASSERT_NE(nullptr, Node("holes.bin"));
    EXPECT_EQ(expected, Save(Node("holes.bin"), &rc));
    EXPECT_EQ(0, rc);
    ASSERT_NE(nullptr, Node("short.bin"));
    EXPECT_EQ(4096u, Save(Node("short.bin"), &rc).size());
    EXPECT_EQ(30, rc);
    ASSERT_NE(nullptr, Node("empty.bin"));
    EXPECT_TRUE(Save(Node("empty.bin"), &rc).empty());
    EXPECT_EQ(0, rc);

    // Record access: the runlist of the record at a sector, none for resident data.
    std::vector<__RUNLIST__> runs;
    EXPECT_EQ(0, m_engine.GetRunListInfo(64 + 80, 0x80, runs));
    ASSERT_EQ(3u, runs.size());
    EXPECT_EQ(100, runs[0].n64RunOffset);
    EXPECT_EQ(-100, m_engine.GetRunListInfo(64 + 80, 0xA0, runs));
    EXPECT_EQ(-1, m_engine.GetRunListInfo(10, 0x80, runs));
}

TEST_F(ProfessionalNtfsEngineTest, HealthIsJudgedFromTheFirstData) {
    NewDisk(8192);
    std::vector<uint8_t> jfif = RandomBytes(4096, 5);
    const uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x01, 0x00, 0x00, 0x01};
    std::copy(head, head + sizeof head, jfif.begin());
    Put(200 * 8, jfif);
    Put(64 + 80, NonResidentRecord(40, 5, u"good.jpg", {{1, 200}}, 4096, 4096));
    Put(64 + 82, NonResidentRecord(41, 5, u"bad.jpg", {{1, 300}}, 4096, 4096));  // zeros there now
    const std::vector<uint8_t> none;
    Put(64 + 84, FileRecord(42, 1, 5, u"empty.txt", &none));
    const std::vector<uint8_t> notJpeg = {'t', 'e', 'x', 't'};
    Put(64 + 86, FileRecord(43, 1, 5, u"small.jpg", &notJpeg));
    Scan();

    ASSERT_NE(nullptr, Node("good.jpg"));
    EXPECT_EQ(1u, Node("good.jpg")->bIsHealth);
    // Pictures whose data is gone are hidden from the listing but still counted.
    EXPECT_EQ(nullptr, Node("bad.jpg"));
    EXPECT_EQ(nullptr, Node("small.jpg"));
    unsigned count = 0;
    EXPECT_EQ(0, m_engine.GetChildrenFileCount(nullptr, 0, count));
    EXPECT_EQ(4u, count);
    // An empty resident file is judged damaged, but only pictures are hidden.
    ASSERT_NE(nullptr, Node("empty.txt"));
    EXPECT_EQ(0u, Node("empty.txt")->bIsHealth);
    std::vector<__SEARCH_FILE_INFO__> hits;
    EXPECT_EQ(0, m_engine.SearchFileNode(const_cast<wchar_t*>(L"*.jpg|"), hits));
    ASSERT_EQ(1u, hits.size());
    EXPECT_STREQ("good.jpg", hits[0].szFileName);
}

TEST_F(ProfessionalNtfsEngineTest, AttributeListsAreNotFollowed) {
    NewDisk(8192);
    NtfsImageRecord listed(40, 1);
    listed.AddFileName(5, u"listed.bin", 1, 100);
    listed.AddResidentAttrList({{0x80, 41, 0, 0}});
    Put(64 + 80, listed.Finish());
    NtfsImageRecord both(42, 1);
    both.AddFileName(5, u"both.bin", 1, 100);
    both.AddNonResident(0x80, EncodeNtfsRunList({{1, 100}}), 100, 0, 4096);
    both.AddResidentAttrList({{0x80, 43, 0, 0}});
    Put(64 + 84, both.Finish());
    NtfsImageRecord res(44, 1);
    res.AddFileName(5, u"res.txt", 1, 3);
    res.AddResidentData({'a', 'b', 'c'});
    Put(64 + 88, res.Finish());
    Scan();

    std::vector<__RUNLIST__> runs;
    EXPECT_EQ(87, m_engine.GetRunListInfo(64 + 80, 0x80, runs));
    EXPECT_EQ(0, m_engine.GetRunListInfo(64 + 84, 0x80, runs));
    EXPECT_EQ(1u, runs.size());
    runs.clear();
    EXPECT_EQ(0, m_engine.GetRunListInfo(64 + 88, 0x80, runs));
    EXPECT_TRUE(runs.empty());
    // Listed, judged healthy (no judgement possible), but its data cannot be read.
    const _FILE_NODE_* node = Node("listed.bin");
    ASSERT_NE(nullptr, node);
    EXPECT_EQ(1u, node->bIsHealth);
    int rc = 0;
    Save(node, &rc);
    EXPECT_EQ(87, rc);
}

}  // namespace
