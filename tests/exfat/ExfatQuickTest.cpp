// The quick exFAT scan on real volumes written through exfat-fuse.
#include "ExfatTestSupport.h"

#include "disk/VolumeRecognizers.h"
#include "engine/CFileRecoveryFactory.h"
#include "engine/FileCategories.h"
#include "exfat/CFastExfatRecovery.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "platform/PathHelpers.h"
#include "platform/TextCodec.h"

#include <gtest/gtest.h>

namespace {
int CountEvents(void* p, int progress, int, int, uint64_t, uint64_t, uint64_t, wchar_t*) {
    static_cast<std::vector<int>*>(p)->push_back(progress);
    return 0;
}
} // namespace

// Every deleted file, and everything inside the deleted folder tree, is listed
// under its folder with its full Unicode name and comes back byte for byte;
// live files stay out; the fragmented file is read along the free clusters.
TEST(ExfatQuick, ListsTheDeletedFilesWithNamesAndFoldersAndRecoversThem) {
    ORVALE_REQUIRE_EXFAT();
    const ExfatScenario& s = ExfatScenario::Shared();
    ASSERT_FALSE(s.image.empty());
    StoreTestEnv env;
    TempDir out("exfat-quick");
    std::unique_ptr<IFileRecoveryParse> engine = OpenExfatQuick(s.image);
    ASSERT_TRUE(engine);
    ASSERT_NE(dynamic_cast<CFastExfatRecovery*>(engine.get()), nullptr);
    std::vector<int> events;
    engine->InitCallBack(CountEvents, nullptr, &events, 100);
    ASSERT_EQ(engine->ScanDevice(nullptr), 0);

    std::map<std::string, _FILE_NODE_> tree = ExfatTree(*engine);
    std::set<std::string> files, folders;
    for (auto& [path, node] : tree) (node.bIsDir ? folders : files).insert(path);
    std::set<std::string> expected;
    for (auto& [path, data] : s.deleted) expected.insert(path);
    EXPECT_EQ(files, expected);
    EXPECT_EQ(folders, s.folders);
    for (auto& [path, node] : tree) {
        EXPECT_EQ(node.nFileSystemType, uint32_t(FS_TYPE_FAST_EXFAT)) << path;
        EXPECT_EQ(node.nClusterBytes, 4096u);
        if (node.bIsDir) {
            EXPECT_EQ(node.nReserved, s.deletedFolders.count(path) ? 1u : 0u) << path;
            continue;
        }
        EXPECT_EQ(node.bIsHealth, 1u) << path;
        EXPECT_GT(node.u64ModifyTime, 116444736000000000ULL) << path; // after 1970
        EXPECT_EQ(node.u64FileSize, s.deleted.at(path).size()) << path;
        EXPECT_TRUE(ExfatSaved(*engine, node, out.file("f")) == s.deleted.at(path)) << path;
        wchar_t parent[512];
        ASSERT_EQ(engine->GetFileNodeParentDirPath(&node, parent, 512), 0);
        const std::string folder = WideToUtf8(parent);
        EXPECT_EQ(folder + WideToUtf8(Ansi2Unicode(node.szFileName).c_str()), path);
    }
    // A deleted folder saves as a tree (its children sit one level below the root).
    ASSERT_EQ(tree.count("Trip"), 1u);
    std::wstring target = Utf8ToWide(out.file("Trip").c_str());
    int depth = 0;
    GetPathDirIndex(target.c_str(), depth);
    ASSERT_EQ(engine->SaveFileData(&tree["Trip"], const_cast<wchar_t*>(target.c_str()), depth - 1), 0);
    EXPECT_TRUE(ReadFileBytes(out.file("Trip/Day 1/notes.txt")) == s.deleted.at("Trip/Day 1/notes.txt"));
    EXPECT_TRUE(ReadFileBytes(out.file("Trip/Day 2/a name longer than fifteen units.txt")) ==
                s.deleted.at("Trip/Day 2/a name longer than fifteen units.txt"));

    // Search by category, and the first data sector the composite drops carved copies by.
    std::vector<__SEARCH_FILE_INFO__> hits;
    std::wstring key = BuildSearchKey(CATEGORY_PHOTO);
    ASSERT_EQ(engine->SearchFileNode(const_cast<wchar_t*>(key.c_str()), hits), 0);
    EXPECT_EQ(hits.size(), 2u);
    uint64_t sector = 0;
    ASSERT_EQ(engine->GetFileDataStartSector(&hits[0], sector), 0);
    std::vector<uint8_t> image = ReadFileBytes(s.image);
    EXPECT_EQ(image[sector * 512], 0xFF);
    EXPECT_EQ(image[sector * 512 + 6], 'J');

    // The free extents the deep pass carves hold the deleted data, never the boot region.
    std::vector<std::pair<uint64_t, uint64_t>> extents;
    for (uint64_t at = 0, count = 1; extents.size() < 100000; at += count) {
        engine->GetUnUsedSectorCount(at, count);
        if (count == 0) break;
        extents.push_back({at, count});
    }
    auto isFree = [&](uint64_t sec) {
        for (auto& e : extents)
            if (sec >= e.first && sec < e.first + e.second) return true;
        return false;
    };
    EXPECT_FALSE(isFree(0));
    for (auto& [path, node] : tree) {
        uint64_t start = 0;
        if (!node.bIsDir && engine->GetFileDataStartSector(&node, start) == 0) {
            EXPECT_TRUE(isFree(start)) << path;
        }
    }

    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events.front(), 1);
    EXPECT_EQ(events.back(), 100);
}

// Damage the scan must survive: the file of a broken entry set is left out and
// the rest found; a lost main boot region is replaced by the backup; a truncated
// image still scans to the end with what it holds.
TEST(ExfatQuick, DamagedVolumesScanToTheEnd) {
    ORVALE_REQUIRE_EXFAT();
    const ExfatScenario& s = ExfatScenario::Shared();
    ASSERT_FALSE(s.image.empty());
    struct Case {
        const char* what;
        size_t truncateTo;      // 0: keep the size
        uint64_t zeroFrom, zeroCount; // sectors zeroed
        bool breakSet;          // a byte of one set's name changed
        int initResult;
    };
    const uint64_t full = ReadFileBytes(s.image).size();
    const Case cases[] = {
        {"corrupt entry set", 0, 0, 0, true, 0},
        {"main boot region zeroed", 0, 0, 12, false, 0},
        {"truncated to half", size_t(full / 2), 0, 0, false, 0},
        {"both boot regions zeroed", 0, 0, 24, false, 87},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StoreTestEnv env;
        TempDir dir("exfat-damage");
        std::vector<uint8_t> bytes = ReadFileBytes(s.image);
        if (c.truncateTo) bytes.resize(c.truncateTo);
        std::fill(bytes.begin() + std::ptrdiff_t(c.zeroFrom * 512), bytes.begin() + std::ptrdiff_t((c.zeroFrom + c.zeroCount) * 512), 0);
        if (c.breakSet) {
            const uint64_t set = ExfatFindEntrySet(bytes, "Привет");
            ASSERT_NE(set, 0u);
            bytes[set + 66] ^= 0x01;
        }
        const std::string image = dir.file("img");
        WriteFileBytes(image, bytes);
        std::unique_ptr<CFastExfatRecovery> engine(new CFastExfatRecovery());
        std::wstring wide = Utf8ToWide(image.c_str());
        ASSERT_EQ(engine->Init(const_cast<wchar_t*>(wide.c_str()), L'C'), c.initResult);
        if (c.initResult != 0) {
            EXPECT_EQ(engine->ScanDevice(nullptr), 87);
            continue;
        }
        ASSERT_EQ(engine->ScanDevice(nullptr), 0);
        std::map<std::string, _FILE_NODE_> tree = ExfatTree(*engine);
        size_t exact = 0;
        for (auto& [path, data] : s.deleted) {
            auto it = tree.find(path);
            if (it == tree.end()) continue;
            if (ExfatSaved(*engine, it->second, dir.file("f")) == data) ++exact;
        }
        if (c.truncateTo) {
            EXPECT_LE(exact, s.deleted.size());
        } else {
            EXPECT_EQ(exact, s.deleted.size() - (c.breakSet ? 1 : 0));
        }
    }
}

// A deleted file whose clusters a later file took is listed as damaged; the
// factory picks the exFAT engine for the volume and the recogniser knows it.
TEST(ExfatQuick, ReusedClustersAreJudgedDamaged) {
    ORVALE_REQUIRE_EXFAT();
    StoreTestEnv env;
    TempDir dir("exfat-reuse");
    std::string path;
    {
        ExfatImage img(dir.file("card.img"), 8, 4);
        // In a folder of its own, so the filler's entries do not take the victim's slots.
        ASSERT_TRUE(img.MakeDir("Old"));
        ASSERT_TRUE(img.PutFile("Old/victim.txt", RandomBytes(30000, 21)));
        ASSERT_TRUE(img.Remove("Old/victim.txt"));
        ASSERT_TRUE(img.FillFreeSpace("filler.bin"));
        ASSERT_TRUE(img.Finish());
        path = img.path();
    }
    const std::vector<uint8_t> head = ReadFileBytes(path);
    EXPECT_TRUE(IsExfat(head.data()));
    EXPECT_EQ(CFileRecoveryFactory::ChooseEngineKind(head.data()), ENGINE_KIND_EXFAT);
    std::unique_ptr<IFileRecoveryParse> engine = OpenExfatQuick(path);
    ASSERT_TRUE(engine);
    ASSERT_EQ(engine->ScanDevice(nullptr), 0);
    std::map<std::string, _FILE_NODE_> tree = ExfatTree(*engine);
    ASSERT_EQ(tree.count("Old/victim.txt"), 1u);
    EXPECT_EQ(tree["Old/victim.txt"].bIsHealth, 0u);
}
