// The deep scan of exFAT areas through the real composite: a lost volume with
// both boot regions gone inside a larger disk, and an intact card whose
// deleted files must be listed once, not again as deep or carved copies.
#include "ExfatTestSupport.h"

#include "engine/CProfessionalRecovery.h"
#include "engine/FileCategories.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "platform/TextCodec.h"

#include <gtest/gtest.h>

namespace {
// Every hit of a full deep scan of image, by engine record type and folder path + name.
std::map<std::string, std::vector<_FILE_NODE_>> DeepScan(CProfessionalRecovery& engine, const std::string& image) {
    std::map<std::string, std::vector<_FILE_NODE_>> out;
    std::wstring wide = Utf8ToWide(image.c_str());
    EXPECT_EQ(engine.Init(const_cast<wchar_t*>(wide.c_str()), L'C'), 0);
    engine.SetNotLoadLogFile();
    engine.InitCallBack(nullptr, nullptr, nullptr, 100);
    EXPECT_EQ(engine.ScanDevice(nullptr), 0);
    std::wstring key = BuildSearchKey(CATEGORY_ALL);
    std::vector<__SEARCH_FILE_INFO__> hits;
    EXPECT_EQ(engine.SearchFileNode(const_cast<wchar_t*>(key.c_str()), hits), 0);
    for (const __SEARCH_FILE_INFO__& h : hits) {
        _FILE_NODE_ node = h;
        wchar_t folder[1024] = {};
        engine.GetFileNodeParentDirPath(&node, folder, 1024);
        out[WideToUtf8(folder) + WideToUtf8(Ansi2Unicode(node.szFileName).c_str())].push_back(node);
    }
    return out;
}
} // namespace

// Both boot regions zeroed and the volume moved 1 MiB into a disk: the entry
// sets alone give back every deleted file with its name and folder.
TEST(ExfatDeep, LostVolumeWithoutBootRegionsKeepsNamesAndFolders) {
    ORVALE_REQUIRE_EXFAT();
    const ExfatScenario& s = ExfatScenario::Shared();
    ASSERT_FALSE(s.image.empty());
    StoreTestEnv env;
    TempDir dir("exfat-deep");
    std::vector<uint8_t> volume = ReadFileBytes(s.image);
    std::fill(volume.begin(), volume.begin() + 24 * 512, 0);
    std::vector<uint8_t> disk = RandomBytes(1 << 20, 31);
    disk.insert(disk.end(), volume.begin(), volume.end());
    WriteFileBytes(dir.file("disk.img"), disk);

    CProfessionalRecovery engine;
    auto found = DeepScan(engine, dir.file("disk.img"));
    for (auto& [path, data] : s.deleted) {
        SCOPED_TRACE(path);
        auto it = found.find(path);
        ASSERT_NE(it, found.end());
        ASSERT_EQ(it->second.size(), 1u);
        EXPECT_EQ(it->second[0].nFileSystemType, uint32_t(FS_TYPE_PRO_EXFAT));
        EXPECT_TRUE(ExfatSaved(engine, it->second[0], dir.file("out")) == data);
    }
    // The live files of the lost volume come back too.
    ASSERT_EQ(found.count("Keep/live.txt"), 1u);
    EXPECT_EQ(found["Keep/live.txt"][0].bIsHealth, 1u);
}

// An intact card: the quick engine's finds, each once; the deep pass over the
// free space meets the deleted folders again but adds no second copy (empty
// files own no data to tell copies by).
TEST(ExfatDeep, IntactCardListsEachDeletedFileOnce) {
    ORVALE_REQUIRE_EXFAT();
    const ExfatScenario& s = ExfatScenario::Shared();
    ASSERT_FALSE(s.image.empty());
    StoreTestEnv env;
    TempDir dir("exfat-deep-intact");
    CProfessionalRecovery engine;
    auto found = DeepScan(engine, s.image);
    for (auto& [path, data] : s.deleted) {
        SCOPED_TRACE(path);
        auto it = found.find(path);
        ASSERT_NE(it, found.end());
        if (data.empty()) continue;
        ASSERT_EQ(it->second.size(), 1u);
        EXPECT_EQ(it->second[0].nFileSystemType, uint32_t(FS_TYPE_FAST_EXFAT));
        EXPECT_TRUE(ExfatSaved(engine, it->second[0], dir.file("out")) == data);
    }
    for (auto& [path, nodes] : found)
        for (const _FILE_NODE_& n : nodes)
            EXPECT_NE(n.nFileSystemType, uint32_t(FS_TYPE_FILE_TYPE)) << "carved copy: " << path;
}
