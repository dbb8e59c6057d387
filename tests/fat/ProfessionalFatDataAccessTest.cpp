// Preview and recovery of deep FAT records: buffer and picture previews, runs
// of clusters read without a FAT, stops and write targets; and an area that
// still begins with its real boot sector.
#include "engine/CLogFileManager.h"
#include "fat/CProfessionalFatRecovery.h"
#include "fixtures/DeepFatImage.h"
#include "fixtures/DeepFatImageCraft.h"
#include "fixtures/FatImageBuilder.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "platform/DeviceMap.h"
#include "platform/PathHelpers.h"
#include "platform/TextCodec.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {
using C = DeepFatImageCraft;
constexpr uint64_t Sec(uint32_t cluster) { return 936 + uint64_t(cluster - 2) * 8; }

std::vector<uint8_t> JpegLike(size_t size, uint32_t seed) {
    std::vector<uint8_t> d = RandomBytes(size, seed);
    const uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x01, 0x00};
    std::memcpy(d.data(), head, sizeof head);
    d[size - 2] = 0xFF;
    d[size - 1] = 0xD9;
    return d;
}

struct Reports {
    std::vector<std::pair<int, int>> preview; // (progress, ret)
    std::vector<std::pair<int, int>> save;    // (progress, error)
    int stopAt = -1;                          // save report index that answers -9527
};
int PreviewCb(void* p, int progress, int ret) {
    static_cast<Reports*>(p)->preview.push_back({progress, ret});
    return 0;
}
int SaveCb(void* p, int progress, int, int err, wchar_t*) {
    auto* r = static_cast<Reports*>(p);
    r->save.push_back({progress, err});
    return int(r->save.size()) - 1 == r->stopAt ? -9527 : 0;
}

class ProfessionalFatDataAccess : public ::testing::Test {
protected:
    StoreTestEnv env;
    TempDir disks{"deepfat-data"};
    TempDir out{"deepfat-data-out"};
    ScopedEnv diskDir{"ORVALE_DISK_DIR", disks.path()};
    CProfessionalFatRecovery engine;
    Reports reports;
    std::vector<uint8_t> note = RandomBytes(5000, 61), photo = JpegLike(12000, 62), split = RandomBytes(3 * 4096, 63),
                         other = RandomBytes(4096, 64);

    void SetUp() override {
        DeepFatImageCraft img(2000);
        img.PutDir(1000, 10, 0,
                   {C::File("NOTE    TXT", 30, 5000), C::File("PIC     JPG", 32, 12000), C::File("EMPTY   BIN", 0, 0),
                    C::File("SPLIT   BIN", 40, 3 * 4096)});
        img.PutDir(1080, 20, 0, {C::File("Z       BIN", 50, 10)});
        img.PutData(Sec(30), note);
        img.PutData(Sec(32), photo);
        // "split" really lies in clusters 40, 44 and 45; cluster 41 holds another file's data.
        img.PutData(Sec(40), std::vector<uint8_t>(split.begin(), split.begin() + 4096));
        img.PutData(Sec(41), other);
        img.PutData(Sec(44), std::vector<uint8_t>(split.begin() + 4096, split.end()));
        ASSERT_TRUE(img.Write(disks.file("disk0")));
        ASSERT_EQ(0, engine.Init(0, 0, 2000, L'C'));
        engine.InitCallBack(nullptr, SaveCb, &reports, 90);
        ASSERT_EQ(0, DeepFatImageScan(engine, disks.file("disk0"), 0, 2000));
        found = DeepFatImageListFiles(engine);
    }
    _FILE_NODE_ Node(const std::string& path) {
        auto hits = DeepFatImageFind(found, path);
        EXPECT_EQ(1u, hits.size()) << path;
        return hits.empty() ? _FILE_NODE_{} : hits[0].node;
    }
    std::vector<DeepFatImageFound> found;
};
} // namespace

TEST_F(ProfessionalFatDataAccess, PreviewOfTextFillsTheCallersBufferOnly) {
    _FILE_NODE_ n = Node("LostFolder10/note.txt");
    std::vector<uint8_t> buf(1000, 0xCC);
    int len = int(buf.size());
    wchar_t tmp[256] = {};
    ASSERT_EQ(0, engine.PreView(&n, tmp, buf.data(), len, PreviewCb, &reports));
    EXPECT_EQ(1000, len);
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), note.begin()));
    EXPECT_EQ(0, tmp[0]);
    ASSERT_FALSE(reports.preview.empty());
    EXPECT_EQ(std::make_pair(100, 0), reports.preview.back());
}

TEST_F(ProfessionalFatDataAccess, PreviewOfAPictureGoesToTheTemporaryFile) {
    _FILE_NODE_ n = Node("LostFolder10/pic.jpg");
    EXPECT_EQ(1u, n.bIsHealth);
    unsigned char buf[16];
    int len = sizeof buf;
    wchar_t tmp[256] = {};
    ASSERT_EQ(0, engine.PreView(&n, tmp, buf, len, PreviewCb, &reports));
    EXPECT_EQ(0, len);
    std::string path = Unicode2Ansi(tmp);
    EXPECT_EQ(GetScanLogDirPath() + "tmp.jpg", path);
    EXPECT_EQ(Sha256Hex(photo), Sha256File(path));

    // "jp" is a fragment of a photo extension: also previewed through a file, cut to the record's size.
    std::strcpy(n.szFileName, "pic.jp");
    n.u64FileSize = 100;
    ASSERT_EQ(0, engine.PreView(&n, tmp, buf, len, nullptr, nullptr));
    EXPECT_EQ(GetScanLogDirPath() + "tmp.jp", Unicode2Ansi(tmp));
    EXPECT_EQ(100u, ReadFileBytes(Unicode2Ansi(tmp)).size());
}

TEST_F(ProfessionalFatDataAccess, RecoveryReadsContiguousClustersAndTruncatesTheTarget) {
    // Without a FAT the copy is the run of clusters from the first one: a fragmented file comes back wrong.
    _FILE_NODE_ s = Node("LostFolder10/split.bin");
    std::string copy = DeepFatImageRecover(engine, s, out.file("split"));
    std::vector<uint8_t> expectRun(3 * 4096, 0);
    std::memcpy(expectRun.data(), split.data(), 4096);
    std::memcpy(expectRun.data() + 4096, other.data(), 4096);
    EXPECT_EQ(Sha256Hex(expectRun), copy);
    EXPECT_NE(Sha256Hex(split), copy);

    // An existing, longer file of the target name leaves no tail behind the copy.
    WriteFileBytes(out.file("note"), RandomBytes(9000, 1));
    _FILE_NODE_ n = Node("LostFolder10/note.txt");
    EXPECT_EQ(Sha256Hex(note), DeepFatImageRecover(engine, n, out.file("note")));

    // An empty file: created empty, one report.
    reports.save.clear();
    _FILE_NODE_ e = Node("LostFolder10/empty.bin");
    EXPECT_EQ(Sha256Hex({}), DeepFatImageRecover(engine, e, out.file("empty")));
    ASSERT_EQ(1u, reports.save.size());
    EXPECT_EQ(std::make_pair(100, 0), reports.save[0]);
}

TEST_F(ProfessionalFatDataAccess, StopDuringRecoveryAndFolderRecovery) {
    _FILE_NODE_ p = Node("LostFolder10/pic.jpg");
    reports.save.clear();
    reports.stopAt = 1;
    std::wstring target = Utf8ToWide(out.file("stopped").c_str());
    EXPECT_EQ(-9527, engine.SaveFileData(&p, const_cast<wchar_t*>(target.c_str()), 0));
    EXPECT_EQ(2u, reports.save.size());
    EXPECT_EQ(2u * 4096, ReadFileBytes(out.file("stopped")).size());

    // The lost folder as a whole.
    reports.stopAt = -1;
    std::vector<_FILE_NODE_> top;
    ASSERT_EQ(0, engine.GetChildrenFileNode(nullptr, 0, top));
    _FILE_NODE_ folder{};
    for (const auto& t : top)
        if (std::strcmp(t.szFileName, "LostFolder10") == 0) folder = t;
    ASSERT_EQ(1u, folder.bIsDir);
    int base = 0;
    std::wstring wout = Utf8ToWide(out.path().c_str());
    GetPathDirIndex(wout.c_str(), base);
    std::wstring wfolder = Utf8ToWide(out.file("LostFolder10").c_str());
    ASSERT_EQ(0, engine.SaveFileData(&folder, const_cast<wchar_t*>(wfolder.c_str()), base));
    EXPECT_EQ(Sha256Hex(note), Sha256File(out.file("LostFolder10/note.txt")));
    EXPECT_EQ(Sha256Hex(photo), Sha256File(out.file("LostFolder10/pic.jpg")));
    EXPECT_TRUE(FileExists(out.file("LostFolder10/empty.bin")));
}

TEST(ProfessionalFatRealBootSector, IntactVolumeKeepsItsOwnGeometryFirst) {
    ORVALE_REQUIRE_TOOL("mkfs.vfat");
    ORVALE_REQUIRE_TOOL("mcopy");
    StoreTestEnv env;
    TempDir dir("deepfat-real");
    ScopedEnv diskDir("ORVALE_DISK_DIR", dir.path());
    FatImageBuilder vol(dir.file("disk0"), 32, 40000, 1);
    ASSERT_TRUE(vol.ok());
    auto data = RandomBytes(6000, 71);
    ASSERT_TRUE(vol.MakeDir("/Kept"));
    ASSERT_TRUE(vol.MakeDir("/Kept/Inner"));
    ASSERT_TRUE(vol.PutFile("/Kept/Inner/still here.bin", data));
    const uint64_t sectors = ReadFileBytes(vol.path()).size() / 512;

    CProfessionalFatRecovery engine;
    ASSERT_EQ(0, engine.Init(0, 0, static_cast<long long>(sectors), L'C'));
    ASSERT_EQ(0, DeepFatImageScan(engine, vol.path(), 0, sectors));
    EXPECT_TRUE(engine.HasRealDbr());
    EXPECT_EQ(2u, engine.GetRootClusterNO());
    ASSERT_FALSE(engine.GetVirtualDbrVec().empty());
    EXPECT_EQ(vol.DataStartSector(), engine.GetVirtualDbrVec()[0].nDataStartSector);
    EXPECT_EQ(1u, engine.GetVirtualDbrVec()[0].nSectorsPerCluster);
    auto found = DeepFatImageListFiles(engine);
    auto hits = DeepFatImageFind(found, "Kept/Inner/still here.bin");
    ASSERT_EQ(1u, hits.size());
    EXPECT_EQ(Sha256Hex(data), DeepFatImageRecover(engine, hits[0].node, dir.file("out.bin")));
}

TEST(ProfessionalFatRealBootSector, IntactFat16FilesItsRootUnderClusterZero) {
    ORVALE_REQUIRE_TOOL("mkfs.vfat");
    ORVALE_REQUIRE_TOOL("mcopy");
    StoreTestEnv env;
    TempDir dir("deepfat-real16");
    ScopedEnv diskDir("ORVALE_DISK_DIR", dir.path());
    FatImageBuilder vol(dir.file("disk0"), 16, 16384, 4);
    ASSERT_TRUE(vol.ok());
    auto top = RandomBytes(3000, 72), inner = RandomBytes(5000, 73);
    ASSERT_TRUE(vol.PutFile("/top level.bin", top));
    ASSERT_TRUE(vol.MakeDir("/Folder"));
    ASSERT_TRUE(vol.PutFile("/Folder/inner file.bin", inner));
    const uint64_t sectors = ReadFileBytes(vol.path()).size() / 512;

    CProfessionalFatRecovery engine;
    ASSERT_EQ(0, engine.Init(0, 0, static_cast<long long>(sectors), L'C'));
    ASSERT_EQ(0, DeepFatImageScan(engine, vol.path(), 0, sectors));
    EXPECT_TRUE(engine.HasRealDbr());
    EXPECT_EQ(0u, engine.GetRootClusterNO());
    auto found = DeepFatImageListFiles(engine);
    auto a = DeepFatImageFind(found, "top level.bin");
    auto b = DeepFatImageFind(found, "Folder/inner file.bin");
    ASSERT_EQ(1u, a.size());
    ASSERT_EQ(1u, b.size());
    EXPECT_EQ(Sha256Hex(top), DeepFatImageRecover(engine, a[0].node, dir.file("a")));
    EXPECT_EQ(Sha256Hex(inner), DeepFatImageRecover(engine, b[0].node, dir.file("b")));
    std::vector<_FILE_NODE_> list;
    ASSERT_EQ(0, engine.GetChildrenFileNode(nullptr, 0, list));
    bool folderOnTop = false;
    for (const auto& n : list) folderOnTop |= std::strcmp(n.szFileName, "Folder") == 0;
    EXPECT_TRUE(folderOnTop);
}
