// The quick FAT scan on real FAT16 and FAT32 volumes written by mkfs.vfat and mtools.
#include "FastFatTestSupport.h"

#include "engine/CFileRecoveryFactory.h"
#include "fixtures/FatImageScenario.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "platform/TextCodec.h"

#include <cstring>
#include <dirent.h>
#include <set>

namespace {

struct ScanEvent {
    int progress, percent, remaining;
};

int RecordScan(void* p, int progress, int percent, int remaining, uint64_t, uint64_t, uint64_t, wchar_t*) {
    static_cast<std::vector<ScanEvent>*>(p)->push_back({progress, percent, remaining});
    return 0;
}

int StopAtOnce(void*, int, int, int, uint64_t, uint64_t, uint64_t, wchar_t*) { return 1; }

class FastFatScan : public ::testing::TestWithParam<int> {};

} // namespace

// The scan lists exactly the deleted files and the contents of deleted folders,
// under their folder paths, and every listed file comes back byte for byte.
TEST_P(FastFatScan, ListsExactlyTheDeletedFilesAndRecoversThem) {
    ORVALE_REQUIRE_TOOL("mkfs.vfat");
    ORVALE_REQUIRE_TOOL("mdeltree");
    StoreTestEnv env;
    TempDir dir("fastfat");
    FatImageScenario& scenario = FatImageScenario::Shared(GetParam());
    ASSERT_TRUE(scenario.ok());

    FastFatOpened o = OpenFastFat(scenario.image().path());
    ASSERT_EQ(o.initResult, 0);
    CFastFatRecovery& engine = *o.engine;
    EXPECT_EQ(engine.GetDeviceFileSystemType(), GetParam() == 32 ? 1 : 0);
    std::vector<ScanEvent> events;
    engine.InitCallBack(RecordScan, nullptr, &events, 100);
    ASSERT_EQ(engine.ScanDevice(nullptr), 0);

    std::map<std::string, _FILE_NODE_> tree = FastFatTree(engine);
    std::set<std::string> listedFiles, listedDirs;
    for (auto& [path, node] : tree) (node.bIsDir ? listedDirs : listedFiles).insert(path);
    std::set<std::string> expectedFiles;
    for (auto& [path, data] : scenario.expected()) expectedFiles.insert(path);
    EXPECT_EQ(listedFiles, expectedFiles);
    // Exactly the folders that lead to a recorded file; live folders without one stay out.
    EXPECT_EQ(listedDirs, (std::set<std::string>{"Docs", "Docs/Nested", "Kept", "Many", "Trip",
                                                 FatScenarioAnsi("Trip/Day 1")}));
    for (const std::string& deleted : scenario.deletedFolders())
        EXPECT_EQ(tree.at(FatScenarioAnsi(deleted)).nReserved, 1u) << deleted;
    EXPECT_EQ(tree.at("Docs").nReserved, 0u);
    EXPECT_EQ(engine.GetLostFileCount(), int(tree.size()));

    const unsigned clusterBytes = scenario.ClusterBytes();
    for (auto& [path, node] : tree) {
        EXPECT_EQ(node.nFileSystemType, uint32_t(FS_TYPE_FAST_FAT));
        EXPECT_EQ(node.nDriveLetter, uint32_t(L'C'));
        EXPECT_EQ(node.bIsHealth, 1u);
        EXPECT_EQ(node.nClusterBytes, clusterBytes);
        EXPECT_EQ(node.u64DataStartSector, scenario.image().DataStartSector());
        EXPECT_GT(node.u64CreateTime, 0u);
        if (node.bIsDir) continue;
        EXPECT_EQ(node.u64FileSize, scenario.expected().at(path).size()) << path;
        std::string out = dir.file("out.bin");
        std::wstring wout = Utf8ToWide(out.c_str());
        ASSERT_EQ(engine.SaveFileData(&node, const_cast<wchar_t*>(wout.c_str()), 0), 0) << path;
        EXPECT_EQ(Sha256File(out), Sha256Hex(scenario.expected().at(path))) << path;
    }

    // Folder paths come from the store's relations.
    wchar_t parentPath[512];
    ASSERT_EQ(engine.GetFileNodeParentDirPath(&tree.at(FatScenarioAnsi("Trip/Day 1/Café 照片.txt")), parentPath, 512), 0);
    EXPECT_EQ(Unicode2Ansi(parentPath), FatScenarioAnsi("Trip/Day 1/"));

    // Progress opens with 1, announces the folder phase with 80 and closes with 100.
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events.front().progress, 1);
    EXPECT_EQ(events.front().remaining, -1);
    EXPECT_EQ(events[events.size() - 2].progress, 80);
    EXPECT_EQ(events.back().progress, 100);
    for (const ScanEvent& e : events) EXPECT_EQ(e.percent, 100);
}

TEST_P(FastFatScan, SearchFindsRecordsByCategory) {
    ORVALE_REQUIRE_TOOL("mkfs.vfat");
    StoreTestEnv env;
    TempDir dir("fastfat");
    FatImageScenario& scenario = FatImageScenario::Shared(GetParam());
    ASSERT_TRUE(scenario.ok());
    FastFatOpened o = OpenFastFat(scenario.image().path());
    ASSERT_EQ(o.initResult, 0);
    ASSERT_EQ(o.engine->ScanDevice(nullptr), 0);

    std::vector<__SEARCH_FILE_INFO__> hits;
    std::wstring key = L"*.txt|";
    ASSERT_EQ(o.engine->SearchFileNode(const_cast<wchar_t*>(key.c_str()), hits), 0);
    size_t txt = 0;
    for (auto& [path, data] : scenario.expected())
        if (path.size() > 4 && path.compare(path.size() - 4, 4, ".txt") == 0) ++txt;
    EXPECT_EQ(hits.size(), txt);
    for (const __SEARCH_FILE_INFO__& h : hits) EXPECT_EQ(h.bIsDir, 0u);
}

INSTANTIATE_TEST_SUITE_P(Fat16And32, FastFatScan, ::testing::Values(16, 32),
                         [](const ::testing::TestParamInfo<int>& i) { return "FAT" + std::to_string(i.param); });

TEST(FastFatScanControl, StopRequestEndsTheScanWithItsValue) {
    ORVALE_REQUIRE_TOOL("mkfs.vfat");
    StoreTestEnv env;
    TempDir dir("fastfat");
    FatImageBuilder img(dir.file("v.img"), 16, 16384, 4);
    ASSERT_TRUE(img.ok());
    ASSERT_TRUE(img.PutFile("/Gone file.txt", RandomBytes(10, 1)));
    ASSERT_TRUE(img.DeleteFile("/Gone file.txt"));
    FastFatOpened o = OpenFastFat(img.path());
    ASSERT_EQ(o.initResult, 0);
    o.engine->InitCallBack(StopAtOnce, nullptr, nullptr, 9);
    EXPECT_EQ(o.engine->ScanDevice(nullptr), 1);
}

TEST(FastFatScanControl, ReopensAStoredResultByName) {
    ORVALE_REQUIRE_TOOL("mkfs.vfat");
    StoreTestEnv env;
    TempDir dir("fastfat");
    FatImageBuilder img(dir.file("v.img"), 16, 16384, 4);
    ASSERT_TRUE(img.ok());
    ASSERT_TRUE(img.PutFile("/Gone file.txt", RandomBytes(10, 1)));
    ASSERT_TRUE(img.DeleteFile("/Gone file.txt"));
    std::string nodeFile;
    {
        FastFatOpened o = OpenFastFat(img.path());
        ASSERT_EQ(o.engine->ScanDevice(nullptr), 0);
        ASSERT_EQ(FastFatTree(*o.engine).size(), 1u);
    }
    // The store was named Fast_<start>_<date>; reopen it by that name.
    std::string found;
    DIR* d = opendir(env.resultDir().c_str());
    ASSERT_NE(d, nullptr);
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name.rfind("Fast_0_", 0) == 0 && name.find("_Relation") == std::string::npos &&
            name.find("_DirInfo") == std::string::npos)
            found = name;
    }
    closedir(d);
    ASSERT_FALSE(found.empty());
    FastFatOpened again = OpenFastFat(img.path());
    std::wstring wname = Utf8ToWide(found.c_str());
    ASSERT_EQ(again.engine->ScanDevice(const_cast<wchar_t*>(wname.c_str())), 0);
    std::map<std::string, _FILE_NODE_> tree = FastFatTree(*again.engine);
    ASSERT_EQ(tree.size(), 1u);
    EXPECT_EQ(tree.begin()->first, "Gone file.txt");
}

TEST(FastFatScanControl, FactoryGivesTheQuickEngineForFatAreas) {
    ORVALE_REQUIRE_TOOL("mkfs.vfat");
    TempDir dir("fastfat");
    FatImageBuilder img(dir.file("v.img"), 32, 40000, 1);
    ASSERT_TRUE(img.ok());
    RegisterDiskPath(kFastFatTestDisk, img.path());
    std::unique_ptr<IFileRecoveryParse> engine(CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
        kFastFatTestDisk, 0, 80000, L'C', RECOVERY_TYPE_FAST));
    ASSERT_NE(engine, nullptr);
    CFastFatRecovery* fat = dynamic_cast<CFastFatRecovery*>(engine.get());
    ASSERT_NE(fat, nullptr);
    EXPECT_EQ(fat->GetDeviceFileSystemType(), 1);
}

// The path form reads the geometry too, so a scan after it works.
TEST(FastFatScanControl, OpenedByPathScansLikeByDisk) {
    ORVALE_REQUIRE_TOOL("mkfs.vfat");
    StoreTestEnv env;
    TempDir dir("fastfat");
    FatImageBuilder img(dir.file("v.img"), 16, 16384, 4);
    ASSERT_TRUE(img.ok());
    const std::vector<uint8_t> data = RandomBytes(5000, 2);
    ASSERT_TRUE(img.PutFile("/Gone file.txt", data));
    ASSERT_TRUE(img.DeleteFile("/Gone file.txt"));
    std::wstring path = Utf8ToWide(img.path().c_str());
    std::unique_ptr<IFileRecoveryParse> engine(CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
        const_cast<wchar_t*>(path.c_str()), L'C', RECOVERY_TYPE_FAST));
    ASSERT_NE(engine, nullptr);
    ASSERT_EQ(engine->ScanDevice(nullptr), 0);
    std::vector<_FILE_NODE_> top;
    ASSERT_EQ(engine->GetChildrenFileNode(nullptr, 0, top), 0);
    ASSERT_EQ(top.size(), 1u);
    std::wstring out = Utf8ToWide(dir.file("out.txt").c_str());
    ASSERT_EQ(engine->SaveFileData(&top[0], const_cast<wchar_t*>(out.c_str()), 0), 0);
    EXPECT_EQ(Sha256File(dir.file("out.txt")), Sha256Hex(data));
    EXPECT_EQ(engine->GetChildrenFileNode(nullptr, 1, top), 87);
}

// A boot sector that describes no volume is refused instead of being divided by.
TEST(FastFatScanControl, ImpossibleGeometryIsRefused) {
    StoreTestEnv env;
    TempDir dir("fastfat");
    std::vector<uint8_t> image(1024 * 1024, 0);
    image[0x0B] = 0x00; image[0x0C] = 0x02; // 512 bytes per sector
    image[0x0D] = 0;                        // no sectors per cluster
    image[0x0E] = 1;
    image[0x10] = 2;
    image[0x16] = 8;
    image[0x13] = 0x00; image[0x14] = 0x08;
    WriteFileBytes(dir.file("bad.img"), image);
    FastFatOpened o = OpenFastFat(dir.file("bad.img"));
    EXPECT_EQ(o.initResult, 87);
    EXPECT_EQ(o.engine->ScanDevice(nullptr), 87);
    EXPECT_EQ(o.engine->BuildBitMapInfo(), 87);
    uint64_t sector = 0, count = 5;
    EXPECT_EQ(o.engine->GetUnUsedSectorCount(sector, count), 0);
    EXPECT_EQ(count, 5u) << "no map: the arguments are left alone";

    FastFatOpened missing = OpenFastFat(dir.file("does-not-exist.img"), 0, 100);
    EXPECT_NE(missing.initResult, 0);
    EXPECT_EQ(missing.engine->GetLostFileCount(), 0);
}
