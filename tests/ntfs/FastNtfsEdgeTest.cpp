// The quick NTFS engine on hand-made volumes: the cases a formatter cannot be
// made to produce on demand.
#include "ntfs/CFastNtfsRecovery.h"

#include "platform/Portability.h"
#include "platform/TextCodec.h"

#include "FastNtfsTestSupport.h"
#include "fixtures/NtfsImageRecord.h"
#include "fixtures/NtfsImageSynthetic.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <dirent.h>
#include <map>

namespace {
std::wstring Wide(const std::string& utf8) { return Utf8ToWide(utf8.c_str()); }

struct Scanned {
    CFastNtfsRecovery engine;
    std::map<std::string, ListedNode> files, folders;
    int rc = -1;

    Scanned(const NtfsImageSynthetic& vol, const TempDir& dir) {
        const std::string image = dir.file("synthetic.img");
        vol.Save(image);
        std::wstring path = Wide(image);
        rc = engine.Init(&path[0], L'C');
        if (rc == 0) rc = engine.ScanDevice(nullptr);
        std::vector<ListedNode> f, d;
        WalkResultTree(engine, nullptr, 0, "", f, d);
        for (auto& n : f) files[n.path] = n;
        for (auto& n : d) folders[n.path] = n;
    }

    std::vector<uint8_t> Save(const std::string& path, const TempDir& dir, int* rc = nullptr) {
        std::wstring target = Wide(dir.file("saved"));
        ::remove(dir.file("saved").c_str());
        int r = engine.SaveFileData(&files[path].node, &target[0], 0);
        if (rc) *rc = r;
        return ReadFileBytes(dir.file("saved"));
    }
};

std::vector<uint8_t> Record(NtfsImageRecord& r) { return r.Finish(); }

NtfsImageRecord FileRecord(uint32_t number, uint16_t flags, uint32_t parent, const std::u16string& name, size_t size = 1024) {
    NtfsImageRecord r(number, flags, size);
    r.AddFileName(parent, name, 1, 0, 1000 + number, 2000 + number, 3000 + number);
    return r;
}
} // namespace

TEST(FastNtfsEdge, RecordFlagsDecideWhatIsListed) {
    StoreTestEnv env;
    TempDir dir("orvale-ntfs-edge");
    NtfsImageSynthetic vol;
    vol.AddRoot();
    auto add = [&](NtfsImageRecord r, uint32_t n) { vol.SetRecord(n, Record(r)); };
    NtfsImageRecord a = FileRecord(20, 0x0000, 5, u"a.txt");
    a.AddResidentData({'h', 'i'});
    add(a, 20);
    add(FileRecord(21, 0x0001, 5, u"live.txt"), 21);
    add(FileRecord(22, 0x0003, 5, u"livedir"), 22);
    add(FileRecord(23, 0x0002, 5, u"olddir"), 23);
    add(FileRecord(24, 0x0002, 5, u"chaindir"), 24);
    add(FileRecord(25, 0x0000, 24, u"b.txt"), 25);
    add(FileRecord(26, 0x0000, 22, u"c.txt"), 26);
    add(FileRecord(8, 0x0000, 5, u"system.txt"), 8);
    // A short name first, the long one second.
    NtfsImageRecord named(27, 0x0000, 1024);
    named.AddFileName(5, u"LONGFI~1.TXT", 2);
    named.AddFileName(5, u"Long file name.txt", 1);
    add(named, 27);
    NtfsImageRecord folder(29, 0x0002, 1024);
    folder.AddFileName(5, u"LONGFO~1", 2);
    folder.AddFileName(5, u"Long Folder", 1);
    add(folder, 29);
    add(FileRecord(30, 0x0000, 29, u"x.txt"), 30);

    Scanned s(vol, dir);
    ASSERT_EQ(0, s.rc);
    std::vector<std::string> files;
    for (auto& kv : s.files) files.push_back(kv.first);
    EXPECT_EQ((std::vector<std::string>{"Long Folder/x.txt", "Long file name.txt", "a.txt", "chaindir/b.txt",
                                        "livedir/c.txt"}),
              files);
    EXPECT_EQ(0u, s.folders.count("olddir")) << "a deleted folder off every chain is not listed";

    // Times come from the first $FILE_NAME; a root file sits at depth 0, a file in
    // a root folder at depth 1 under that folder.
    const _FILE_NODE_& node = s.files["a.txt"].node;
    EXPECT_EQ(1020u, node.u64CreateTime);
    EXPECT_EQ(2020u, node.u64ModifyTime);
    EXPECT_EQ(3020u, node.u64AccessTime);
    EXPECT_EQ(2u, node.u64FileSize) << "the $DATA size replaces the name's";
    EXPECT_EQ(20u, node.nClusterNO);
    std::vector<_FILE_NODE_> children;
    _FILE_NODE_ chain = s.folders["chaindir"].node;
    EXPECT_EQ(1u, chain.bIsDir);
    EXPECT_EQ(24u, chain.nClusterNO);
    ASSERT_EQ(0, s.engine.GetChildrenFileNode(&chain, 1, children));
    ASSERT_EQ(1u, children.size());
    children.clear();
    EXPECT_EQ(0, s.engine.GetChildrenFileNode(&chain, 0, children));
    EXPECT_TRUE(children.empty());

    // The folder path the store gives uses the long name too.
    wchar_t path[256] = {0};
    ASSERT_EQ(0, s.engine.GetFileNodeParentDirPath(&s.files["Long Folder/x.txt"].node, path, 256));
    EXPECT_EQ("Long Folder/", WideToUtf8(path));
}

TEST(FastNtfsEdge, BrokenParentChainsEndInLostFolders) {
    StoreTestEnv env;
    TempDir dir("orvale-ntfs-lost");
    NtfsImageSynthetic vol;
    vol.AddRoot();
    auto add = [&](NtfsImageRecord r, uint32_t n) { vol.SetRecord(n, Record(r)); };
    add(FileRecord(31, 0, 40, u"no-signature.txt"), 31);    // 40: empty record
    add(FileRecord(32, 0, 41, u"dir-bit.txt"), 32);         // 41: no signature, directory flag
    std::vector<uint8_t> junk(1024, 0);
    junk[0x16] = 0x02;
    vol.SetRecord(41, junk);
    add(FileRecord(33, 0, 42, u"now-a-file.txt"), 33);      // 42: a live file
    add(FileRecord(42, 0x0001, 5, u"usurper.bin"), 42);
    add(FileRecord(34, 0, 43, u"cycle.txt"), 34);           // 43 <-> 44
    add(FileRecord(43, 0x0003, 44, u"loop1"), 43);
    add(FileRecord(44, 0x0003, 43, u"loop2"), 44);
    add(FileRecord(35, 0, 60000, u"far.txt"), 35);          // parent outside the $MFT

    Scanned s(vol, dir);
    ASSERT_EQ(0, s.rc);
    for (const char* p : {"LostFolder40/no-signature.txt", "LostFolder41/dir-bit.txt", "LostFolder42/now-a-file.txt",
                          "LostFolder60000/far.txt"})
        EXPECT_EQ(1u, s.files.count(p)) << p;
    const _FILE_NODE_& lost = s.folders["LostFolder42"].node;
    EXPECT_EQ(1u, lost.bIsDir);
    EXPECT_EQ(42u, lost.nClusterNO);
    EXPECT_EQ(0xFFFFFFFFu, lost.nClusterBytes);
    EXPECT_EQ(1u, lost.bIsHealth);
    EXPECT_EQ(0u, lost.u64FileSize);
    EXPECT_EQ(0u, lost.u64RecordSector);
    EXPECT_EQ(0u, lost.u64CreateTime);
    EXPECT_GE(s.engine.GetLostFileCount(), 10) << "the cycle ends; its folders and file are stored";
}

TEST(FastNtfsEdge, SparseRunsReadAsZerosAndListedExtentsJoin) {
    StoreTestEnv env;
    TempDir dir("orvale-ntfs-sparse");
    NtfsImageSynthetic vol;
    vol.AddRoot();
    const uint64_t cb = vol.ClusterBytes();
    const uint64_t d = vol.FirstDataCluster();
    std::vector<uint8_t> a = RandomBytes(2 * cb, 1), junk = RandomBytes(3 * cb, 2), b = RandomBytes(cb, 3);
    vol.WriteClusters(d, a);
    vol.WriteClusters(d + 2, junk);  // what the previous run's neighbours hold
    vol.WriteClusters(d + 10, b);

    // Two clusters, a hole of three, one cluster: the last cut short by 100 bytes.
    NtfsImageRecord sparse = FileRecord(20, 0, 5, u"sparse.bin");
    const uint64_t size = 6 * cb - 100;
    sparse.AddNonResident(0x80, EncodeNtfsRunList({{2, int64_t(d)}, {3, 0, true}, {1, 10}}), size, 0, 6 * cb);
    vol.SetRecord(20, Record(sparse));

    // Base record with the first extent and a list naming the second, in record 22.
    std::vector<uint8_t> c1 = RandomBytes(2 * cb, 4), c2 = RandomBytes(2 * cb, 5);
    vol.WriteClusters(d + 20, c1);
    vol.WriteClusters(d + 40, c2);
    NtfsImageRecord base(21, 0, 1024);
    base.AddResidentAttrList({{0x30, 21, 0, 0}, {0x80, 21, 0, 0}, {0x80, 22, 2, 0}});
    base.AddFileName(5, u"split.bin", 1);
    base.AddNonResident(0x80, EncodeNtfsRunList({{2, int64_t(d + 20)}}), 4 * cb, 0, 4 * cb);
    vol.SetRecord(21, base.Finish());
    NtfsImageRecord ext(22, 0x0001, 1024);
    ext.AddNonResident(0x80, EncodeNtfsRunList({{2, int64_t(d + 40)}}), 0, 2, 0);
    vol.SetRecord(22, ext.Finish());

    // All of the data in an extension record (23 lists 24).
    NtfsImageRecord moved(23, 0, 1024);
    moved.AddResidentAttrList({{0x30, 23, 0, 0}, {0x80, 24, 0, 0}});
    moved.AddFileName(5, u"moved.bin", 1);
    vol.SetRecord(23, moved.Finish());
    NtfsImageRecord holder(24, 0x0001, 1024);
    holder.AddNonResident(0x80, EncodeNtfsRunList({{2, int64_t(d + 20)}}), 2 * cb - 7, 0, 2 * cb);
    vol.SetRecord(24, holder.Finish());

    Scanned s(vol, dir);
    ASSERT_EQ(0, s.rc);
    std::vector<uint8_t> expected(a);
    expected.resize(5 * cb, 0);
    expected.insert(expected.end(), b.begin(), b.end() - 100);
    int rc = -1;
    EXPECT_EQ(expected, s.Save("sparse.bin", dir, &rc));
    EXPECT_EQ(0, rc);

    std::vector<uint8_t> joined(c1);
    joined.insert(joined.end(), c2.begin(), c2.end());
    EXPECT_EQ(joined, s.Save("split.bin", dir, &rc)) << "both extents, in order";
    EXPECT_EQ(0, rc);
    EXPECT_EQ(std::vector<uint8_t>(c1.begin(), c1.end() - 7), s.Save("moved.bin", dir, &rc));
    EXPECT_EQ(0, rc);
}

TEST(FastNtfsEdge, ResidentAndEmptyFilesKeepTheirExactSize) {
    StoreTestEnv env;
    TempDir dir("orvale-ntfs-resident");
    NtfsImageSynthetic vol;
    vol.AddRoot();
    NtfsImageRecord ten = FileRecord(20, 0, 5, u"ten.txt");
    ten.AddResidentData({'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'}); // padded to 16 in the record
    vol.SetRecord(20, Record(ten));
    NtfsImageRecord empty = FileRecord(21, 0, 5, u"empty.log");
    empty.AddNonResident(0x80, EncodeNtfsRunList({{1, int64_t(vol.FirstDataCluster())}}), 0, 0, vol.ClusterBytes());
    vol.SetRecord(21, Record(empty));
    NtfsImageRecord blank = FileRecord(22, 0, 5, u"blank.jpg");
    blank.AddResidentData({});
    vol.SetRecord(22, Record(blank));
    NtfsImageRecord noext = FileRecord(23, 0, 5, u"README");
    noext.AddNonResident(0x80, EncodeNtfsRunList({{1, int64_t(vol.FirstDataCluster() + 1)}}), 100, 0, 4096);
    vol.SetRecord(23, Record(noext));

    Scanned s(vol, dir);
    ASSERT_EQ(0, s.rc);
    int rc = -1;
    EXPECT_EQ(std::vector<uint8_t>({'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'}), s.Save("ten.txt", dir, &rc));
    EXPECT_EQ(0, rc);
    std::vector<unsigned char> buf(64, 0xEE);
    int len = 64;
    wchar_t tmp[512] = {0};
    ASSERT_EQ(0, s.engine.PreView(&s.files["ten.txt"].node, tmp, buf.data(), len, nullptr, nullptr));
    EXPECT_EQ(10, len);
    EXPECT_EQ('9', buf[9]);

    EXPECT_TRUE(s.Save("empty.log", dir, &rc).empty());
    EXPECT_EQ(0, rc);
    EXPECT_TRUE(FileExists(dir.file("saved"))) << "an empty file is still created";

    // Health: an empty resident value is unhealthy (and, as a photo, hidden); a file
    // without extension is not judged.
    EXPECT_EQ(0u, s.files.count("blank.jpg"));
    unsigned count = 0;
    ASSERT_EQ(0, s.engine.GetChildrenFileCount(nullptr, 0, count));
    EXPECT_EQ(4u, count);
    EXPECT_EQ(1u, s.files["README"].node.bIsHealth);
    EXPECT_EQ(1u, s.files["ten.txt"].node.bIsHealth);
}

TEST(FastNtfsEdge, FreeExtentsFollowTheBitmapBits) {
    StoreTestEnv env;
    TempDir dir("orvale-ntfs-bits");
    NtfsImageSynthetic vol(512, 8, 2048);
    std::vector<uint8_t> bits(256, 0);
    bits[0] = 0xFF;
    bits[1] = 0x0F;
    bits[3] = 0x10;  // cluster 28 in use
    bits[255] = 0x80; // the last cluster
    vol.SetBitmap(bits);
    vol.Save(dir.file("bits.img"));
    CFastNtfsRecovery engine;
    std::wstring path = Wide(dir.file("bits.img"));
    ASSERT_EQ(0, engine.Init(&path[0], L'C'));
    ASSERT_EQ(0, engine.BuildBitMapInfo());
    uint64_t sector = 0, count = 0;
    EXPECT_EQ(1, engine.GetUnUsedSectorCount(sector, count));
    EXPECT_EQ(96u, sector) << "cluster 12";
    EXPECT_EQ((28u - 12u) * 8u, count);
    sector = 100; // inside a free cluster: the extent starts where asked
    engine.GetUnUsedSectorCount(sector, count);
    EXPECT_EQ(100u, sector);
    EXPECT_EQ(28u * 8u - 100u, count);
    sector = 28 * 8;
    engine.GetUnUsedSectorCount(sector, count);
    EXPECT_EQ(29u * 8u, sector);
    EXPECT_EQ((2047u - 29u) * 8u, count);
    sector = 2047 * 8;
    engine.GetUnUsedSectorCount(sector, count);
    EXPECT_EQ(0u, count) << "the bitmap ends in use";
}

TEST(FastNtfsEdge, FourKiBSectorVolumes) {
    StoreTestEnv env;
    TempDir dir("orvale-ntfs-4k");
    NtfsImageSynthetic vol(4096, 1, 512, 32);
    vol.AddRoot();
    std::vector<uint8_t> value = RandomBytes(3000, 9); // crosses several 512-byte strides
    NtfsImageRecord resident = FileRecord(20, 0, 5, u"big-resident.bin", 4096);
    resident.AddResidentData(value);
    vol.SetRecord(20, Record(resident));
    std::vector<uint8_t> data = RandomBytes(3 * 4096 - 5, 10);
    vol.WriteClusters(vol.FirstDataCluster(), data);
    NtfsImageRecord outside = FileRecord(21, 0, 5, u"clusters.bin", 4096);
    outside.AddNonResident(0x80, EncodeNtfsRunList({{3, int64_t(vol.FirstDataCluster())}}), data.size(), 0, 3 * 4096);
    vol.SetRecord(21, Record(outside));

    Scanned s(vol, dir);
    ASSERT_EQ(0, s.rc);
    EXPECT_EQ(4096, s.engine.GetBytesPerSector());
    int rc = -1;
    EXPECT_EQ(value, s.Save("big-resident.bin", dir, &rc));
    EXPECT_EQ(0, rc);
    EXPECT_EQ(data, s.Save("clusters.bin", dir, &rc));
    EXPECT_EQ(0, rc);
}

TEST(FastNtfsEdge, StoreIsNamedAfterTheVolumeAndTheTime) {
    StoreTestEnv env;
    TempDir dir("orvale-ntfs-name");
    NtfsImageSynthetic vol;
    vol.AddRoot();
    SYSTEMTIME before;
    rsb_getLocalTime(&before);
    Scanned s(vol, dir);
    SYSTEMTIME after;
    rsb_getLocalTime(&after);
    ASSERT_EQ(0, s.rc);
    auto name = [](const SYSTEMTIME& t) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "Fast_0_%d%d%d%d%2d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute);
        return std::string(buf);
    };
    EXPECT_TRUE(FileExists(env.resultDir() + name(before)) || FileExists(env.resultDir() + name(after)));
    EXPECT_TRUE(FileExists(env.resultDir() + name(after) + "_Relation") ||
                FileExists(env.resultDir() + name(before) + "_Relation"));
}
