// Damaged volumes: the scan always finishes with what it could find and never
// reads outside its buffers (run the sanitizer build to check the latter).
#include "FastFatTestSupport.h"

#include "fixtures/FatImageScenario.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "platform/TextCodec.h"

#include <algorithm>
#include <set>
#include <unistd.h>

namespace {

class FastFatDamage : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        if (!HaveTool("mkfs.vfat") || !HaveTool("mdeltree")) GTEST_SKIP() << "SKIPPED: mkfs.vfat or mtools missing";
        scenario = &FatImageScenario::Shared(GetParam());
        ASSERT_TRUE(scenario->ok());
        copy = dir.file("damaged.img");
        ASSERT_TRUE(scenario->CopyTo(copy));
        struct stat st;
        ASSERT_EQ(::stat(copy.c_str(), &st), 0);
        originalSectors = (long long)(st.st_size / 512);
        // Where things are, from a scan of the intact volume.
        FastFatOpened intact = OpenFastFat(scenario->image().path());
        ASSERT_EQ(intact.engine->ScanDevice(nullptr), 0);
        intactTree = FastFatTree(*intact.engine);
    }

    // Scans the damaged copy (declared at its original size) and checks the
    // scan finished and listed nothing the intact volume does not hold.
    std::map<std::string, _FILE_NODE_> ScanDamaged() {
        FastFatOpened o = OpenFastFat(copy, 0, originalSectors);
        EXPECT_EQ(o.initResult, 0);
        if (o.initResult != 0) return {};
        EXPECT_EQ(o.engine->ScanDevice(nullptr), 0);
        std::map<std::string, _FILE_NODE_> tree = FastFatTree(*o.engine);
        for (auto& [path, node] : tree) {
            if (!allowRenamedFolders) {
                EXPECT_EQ(intactTree.count(path), 1u) << "invented: " << path;
            }
        }
        // Every listed file can be asked for; what is gone gives an error, not a crash.
        for (auto& [path, node] : tree) {
            if (node.bIsDir) continue;
            std::wstring out = Utf8ToWide(dir.file("probe.bin").c_str());
            int rc = o.engine->SaveFileData(&node, const_cast<wchar_t*>(out.c_str()), 0);
            if (rc == 0 && scenario->expected().count(path)) {
                EXPECT_EQ(Sha256File(dir.file("probe.bin")), Sha256Hex(scenario->expected().at(path))) << path;
            }
        }
        EXPECT_EQ(o.engine->BuildBitMapInfo(), 0);
        uint64_t sector = 0, count = 1;
        for (int i = 0; i < 1000000 && count != 0; ++i) {
            o.engine->GetUnUsedSectorCount(sector, count);
            sector += count;
        }
        EXPECT_EQ(count, 0u);
        engine = std::move(o.engine);
        return tree;
    }

    StoreTestEnv env;
    TempDir dir{"fastfatdamage"};
    FatImageScenario* scenario = nullptr;
    std::string copy;
    long long originalSectors = 0;
    std::map<std::string, _FILE_NODE_> intactTree;
    std::unique_ptr<CFastFatRecovery> engine;
    bool allowRenamedFolders = false;
};

} // namespace

namespace {
// Byte offset of the root directory's end mark (its first unused entry), and how
// many bytes of the root's storage follow from there.
std::pair<uint64_t, size_t> RootEnd(const FatImageBuilder& img, int fatBits, unsigned clusterBytes) {
    std::vector<std::pair<uint64_t, size_t>> areas;
    if (fatBits == 32) {
        const std::vector<uint32_t> fat = img.FatEntries();
        for (uint32_t c = 2; c >= 2 && c < 0x0FFFFFF8; c = fat[c]) areas.push_back({img.ClusterSector(c) * 512, clusterBytes});
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
} // namespace

TEST_P(FastFatDamage, TruncatedImage) {
    // Cut in the middle of the big deleted file's data.
    const _FILE_NODE_& big = intactTree.at("Trip/Beach archive.dat");
    const FatImageBuilder& img = scenario->image();
    const uint64_t cut = (img.ClusterSector(big.nClusterNO) + 64) * 512;
    ASSERT_EQ(::truncate(copy.c_str(), off_t(cut)), 0);
    std::map<std::string, _FILE_NODE_> tree = ScanDamaged();
    EXPECT_EQ(tree.count("Docs/Old draft.txt"), 1u);
    std::wstring out = Utf8ToWide(dir.file("big.bin").c_str());
    _FILE_NODE_ node = big;
    EXPECT_NE(engine->SaveFileData(&node, const_cast<wchar_t*>(out.c_str()), 0), 0);
}

TEST_P(FastFatDamage, DirectoryClusterOfRandomBytes) {
    // The root is trusted and read whatever it holds: after its last entry comes
    // noise instead of the end mark. A live sub-folder is wiped whole.
    const FatImageBuilder& img = scenario->image();
    FatImageBuilder damaged(copy, GetParam());
    const auto [end, room] = RootEnd(img, GetParam(), scenario->ClusterBytes());
    ASSERT_NE(end, 0u) << "no room after the root's entries";
    std::vector<uint8_t> noise = RandomBytes(std::min<size_t>(room, 4096), 31);
    for (size_t i = 0; i < noise.size(); i += 32) noise[i] = noise[i] ? noise[i] : 0x41;
    ASSERT_TRUE(damaged.Patch(end, noise));
    ASSERT_TRUE(damaged.Patch(img.ClusterSector(intactTree.at("Docs/Nested").nClusterNO) * 512,
                              RandomBytes(scenario->ClusterBytes(), 32)));

    std::map<std::string, _FILE_NODE_> tree = ScanDamaged();
    for (auto& [path, node] : intactTree) {
        const bool underNested = path.rfind("Docs/Nested", 0) == 0;
        EXPECT_EQ(tree.count(path), underNested ? 0u : 1u) << path;
    }
}

TEST_P(FastFatDamage, FatEntryPointingPastTheEnd) {
    // The live folder "Many" spans several clusters; its chain now points nowhere.
    FatImageBuilder damaged(copy, GetParam());
    const uint32_t many = intactTree.at("Many").nClusterNO;
    ASSERT_TRUE(damaged.SetFatEntry(many, GetParam() == 32 ? 0x0FFFFF00 : 0xFFF0));
    std::map<std::string, _FILE_NODE_> tree = ScanDamaged();
    EXPECT_EQ(tree.count("Docs/Old draft.txt"), 1u);
    // The bitmap stopped at the bad entry: behind it only clusters named as the
    // successor of an earlier cluster are marked, the rest count as free.
    const FAST_FAT_GEOMETRY& g = engine->Geometry();
    const uint8_t* bits = engine->GetBitMap();
    ASSERT_NE(bits, nullptr);
    const std::vector<uint32_t> fat = damaged.FatEntries();
    std::set<uint32_t> successors;
    for (uint32_t c = 2; c < many; ++c) successors.insert(fat[c]);
    uint32_t usedAfter = 0;
    for (uint32_t c = many + 1; c < g.nClusterCount + 2; ++c) {
        usedAfter += fat[c] != 0;
        const bool marked = (bits[(c - 2) / 8] >> ((c - 2) % 8)) & 1;
        EXPECT_EQ(marked, successors.count(c) == 1) << c;
    }
    EXPECT_GT(usedAfter, 0u);
}

TEST_P(FastFatDamage, ChainThatLoops) {
    // "Many": its second cluster leads back to its first. Each entry is listed once.
    FatImageBuilder damaged(copy, GetParam());
    const uint32_t many = intactTree.at("Many").nClusterNO;
    const std::vector<uint32_t> fat = damaged.FatEntries();
    const uint32_t second = fat[many];
    ASSERT_GT(second, 1u);
    ASSERT_LT(second, 0xFFF0u);
    ASSERT_TRUE(damaged.SetFatEntry(second, many));
    // And a live file whose chain loops back on itself.
    const uint32_t inside = intactTree.at("Kept/Inside live.txt").nClusterNO;
    ASSERT_TRUE(damaged.SetFatEntry(inside, inside));
    std::map<std::string, _FILE_NODE_> tree = ScanDamaged();
    ASSERT_EQ(tree.count("Kept/Inside live.txt"), 1u);
    std::wstring out = Utf8ToWide(dir.file("loop.bin").c_str());
    EXPECT_EQ(engine->SaveFileData(&tree.at("Kept/Inside live.txt"), const_cast<wchar_t*>(out.c_str()), 0),
              CFastFatRecovery::kChainEndedEarly);
    EXPECT_EQ(ReadFileBytes(dir.file("loop.bin")).size(), size_t(scenario->ClusterBytes()));
}

TEST_P(FastFatDamage, TwoEntriesForOneFolderReadItOnce) {
    // A second deleted entry for the deleted folder "Trip", in the root's first free slot.
    const FatImageBuilder& img = scenario->image();
    FatImageBuilder damaged(copy, GetParam());
    const uint64_t trip = img.FindShortEntry("\xE5" "RIP       ");
    ASSERT_NE(trip, 0u);
    std::vector<uint8_t> entry = img.ReadBytes(trip, 32);
    entry[1] = 'X';
    const auto [end, room] = RootEnd(img, GetParam(), scenario->ClusterBytes());
    ASSERT_GE(room, 32u);
    ASSERT_TRUE(damaged.Patch(end, entry));
    allowRenamedFolders = true; // the folder may be listed under either entry's name

    std::map<std::string, _FILE_NODE_> tree = ScanDamaged();
    int copies = 0;
    for (auto& [path, node] : tree)
        if (path.size() >= 17 && path.compare(path.size() - 17, 17, "Beach archive.dat") == 0) ++copies;
    EXPECT_EQ(copies, 1);
}

TEST_P(FastFatDamage, StaleDeletedEntryForALiveFolderChangesNothing) {
    // A deleted entry left from an older folder whose cluster the live "Docs" now uses.
    const FatImageBuilder& img = scenario->image();
    FatImageBuilder damaged(copy, GetParam());
    const uint64_t docs = img.FindShortEntry("DOCS       ");
    ASSERT_NE(docs, 0u);
    std::vector<uint8_t> entry = img.ReadBytes(docs, 32);
    entry[0] = 0xE5;
    entry[1] = 'L';
    const auto [end, room] = RootEnd(img, GetParam(), scenario->ClusterBytes());
    ASSERT_GE(room, 32u);
    ASSERT_TRUE(damaged.Patch(end, entry));

    std::map<std::string, _FILE_NODE_> tree = ScanDamaged();
    EXPECT_EQ(tree.size(), intactTree.size());
    EXPECT_EQ(tree.count("Docs/Report final.docx"), 0u) << "a live file is not a deleted one";
    ASSERT_EQ(tree.count("Docs"), 1u);
    EXPECT_EQ(tree.at("Docs").nReserved, 0u);
}

INSTANTIATE_TEST_SUITE_P(Fat16And32, FastFatDamage, ::testing::Values(16, 32),
                         [](const ::testing::TestParamInfo<int>& i) { return "FAT" + std::to_string(i.param); });
