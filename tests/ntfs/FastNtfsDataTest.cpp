#include "ntfs/CFastNtfsRecovery.h"

#include "platform/DeviceMap.h"
#include "platform/PathHelpers.h"
#include "platform/TextCodec.h"

#include "FastNtfsTestSupport.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

namespace {
std::wstring Wide(const std::string& utf8) { return Utf8ToWide(utf8.c_str()); }

struct ScannedVolume {
    CFastNtfsRecovery engine;
    std::vector<ListedNode> files, folders;
    std::map<std::string, ListedNode> byPath;

    bool Scan(const std::string& image) {
        std::wstring path = Wide(image);
        if (engine.Init(&path[0], L'C') != 0 || engine.ScanDevice(nullptr) != 0) return false;
        WalkResultTree(engine, nullptr, 0, "", files, folders);
        for (auto& f : files) byPath[f.path] = f;
        for (auto& f : folders) byPath[f.path] = f;
        return true;
    }
};

struct SaveLog {
    std::vector<int> progress;
    int stopWith = 0;
};
int OnSave(void* p, int progress, int, int, wchar_t*) {
    auto* log = static_cast<SaveLog*>(p);
    log->progress.push_back(progress);
    return log->stopWith;
}
int OnPreview(void* p, int progress, int) {
    static_cast<std::vector<int>*>(p)->push_back(progress);
    return 0;
}
} // namespace

TEST(FastNtfsData, SavesEveryDeletedFileByteForByte) {
    ORVALE_REQUIRE_NTFS_SCENARIO(sc);
    StoreTestEnv env;
    ScannedVolume vol;
    ASSERT_TRUE(vol.Scan(sc->imagePath));
    SaveLog log;
    vol.engine.InitCallBack(nullptr, OnSave, &log, 100);
    TempDir out("orvale-ntfs-save");
    int saved = 0;
    for (const auto& f : sc->deleted) {
        if (!f.visible) continue;
        ASSERT_EQ(1u, vol.byPath.count(f.path)) << f.path;
        _FILE_NODE_ node = vol.byPath[f.path].node;
        std::wstring target = Wide(out.file("file" + std::to_string(saved++)));
        log.progress.clear();
        ASSERT_EQ(0, vol.engine.SaveFileData(&node, &target[0], 0)) << f.path;
        EXPECT_EQ(f.sha256, Sha256File(WideToUtf8(target.c_str()))) << f.path;
        ASSERT_FALSE(log.progress.empty()) << f.path;
        EXPECT_EQ(100, log.progress.back()) << f.path;
    }
    EXPECT_EQ(int(sc->deleted.size()) - 1, saved);

    // The fragmented file really is: a runlist far longer than one sector's worth.
    _FILE_NODE_ frag = vol.byPath[sc->fragmentedPath].node;
    std::vector<__RUNLIST__> runs;
    ASSERT_EQ(0, vol.engine.GetRunListInfo(static_cast<long long>(frag.u64RecordSector), 0x80, runs));
    EXPECT_GT(runs.size(), 100u);
}

TEST(FastNtfsData, FolderSaveWritesTheWholeTreeBreadthFirst) {
    ORVALE_REQUIRE_NTFS_SCENARIO(sc);
    StoreTestEnv env;
    ScannedVolume vol;
    ASSERT_TRUE(vol.Scan(sc->imagePath));
    TempDir out("orvale-ntfs-tree");
    for (const char* top : {"docs", "gone"}) {
        ASSERT_EQ(1u, vol.byPath.count(top));
        _FILE_NODE_ folder = vol.byPath[top].node;
        std::wstring target = Wide(out.file(top));
        int depth = 0;
        GetPathDirIndex(target.c_str(), depth);
        // The folder is listed at level 0, so its children are level 1.
        ASSERT_EQ(0, vol.engine.SaveFileData(&folder, &target[0], depth - 1)) << top;
    }
    int checked = 0;
    for (const auto& f : sc->deleted) {
        if (f.path.compare(0, 5, "docs/") != 0 && f.path.compare(0, 5, "gone/") != 0) continue;
        const std::string saved = out.file(f.path);
        if (!f.visible) {
            EXPECT_FALSE(FileExists(saved)) << "hidden files are not saved with their folder";
            continue;
        }
        EXPECT_EQ(f.sha256, Sha256File(saved)) << f.path;
        ++checked;
    }
    EXPECT_GE(checked, 9);

    // Stopping ends the folder save at once.
    SaveLog log;
    log.stopWith = RECOVERY_STOPPED;
    vol.engine.InitCallBack(nullptr, OnSave, &log, 100);
    _FILE_NODE_ docs = vol.byPath["docs"].node;
    std::wstring again = Wide(out.file("again"));
    int depth = 0;
    GetPathDirIndex(again.c_str(), depth);
    EXPECT_EQ(RECOVERY_STOPPED, vol.engine.SaveFileData(&docs, &again[0], depth - 1));
}

TEST(FastNtfsData, PreviewFillsTheBufferOrWritesPhotosToTheLogFolder) {
    ORVALE_REQUIRE_NTFS_SCENARIO(sc);
    StoreTestEnv env;
    ScannedVolume vol;
    ASSERT_TRUE(vol.Scan(sc->imagePath));
    std::map<std::string, const NtfsImageDeletedFile*> expected;
    for (const auto& f : sc->deleted) expected[f.path] = &f;
    std::vector<uint8_t> original;

    // Resident, small: all of it.
    std::vector<unsigned char> buf(10240);
    wchar_t tmp[512] = {0};
    int len = int(buf.size());
    std::vector<int> progress;
    _FILE_NODE_ small = vol.byPath["small.txt"].node;
    ASSERT_EQ(0, vol.engine.PreView(&small, tmp, buf.data(), len, OnPreview, &progress));
    EXPECT_EQ(300, len);
    EXPECT_EQ(expected["small.txt"]->sha256, Sha256Hex(std::vector<uint8_t>(buf.begin(), buf.begin() + len)));
    EXPECT_EQ(100, progress.back());

    // Non-resident, large: exactly the buffer's capacity.
    const std::string big = "docs/nested/deeper/\xE4\xB8\xAD\xE6\x96\x87\xE6\x96\x87\xE4\xBB\xB6\xE5\x90\x8D.bin";
    _FILE_NODE_ large = vol.byPath[big].node;
    len = 10000;
    ASSERT_EQ(0, vol.engine.PreView(&large, tmp, buf.data(), len, nullptr, nullptr));
    EXPECT_EQ(10000, len);
    TempDir out("orvale-ntfs-prev");
    std::wstring whole = Wide(out.file("whole"));
    ASSERT_EQ(0, vol.engine.SaveFileData(&large, &whole[0], 0));
    original = ReadFileBytes(WideToUtf8(whole.c_str()));
    ASSERT_GE(original.size(), 10000u);
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 10000, original.begin()));

    // A photo goes whole to tmp.jpg in the scan-log folder.
    _FILE_NODE_ photo = vol.byPath["docs/photo.jpg"].node;
    len = int(buf.size());
    ASSERT_EQ(0, vol.engine.PreView(&photo, tmp, buf.data(), len, nullptr, nullptr));
    EXPECT_EQ(0, len);
    EXPECT_EQ(GetScanLogDirPath() + "tmp.jpg", WideToUtf8(tmp));
    EXPECT_EQ(expected["docs/photo.jpg"]->sha256, Sha256File(GetScanLogDirPath() + "tmp.jpg"));

    len = 100;
    EXPECT_EQ(87, vol.engine.PreView(nullptr, tmp, buf.data(), len, nullptr, nullptr));
    EXPECT_EQ(0, len);
}

TEST(FastNtfsData, FreeExtentsCoverExactlyTheClustersTheBitmapMarksFree) {
    ORVALE_REQUIRE_NTFS_SCENARIO(sc);
    ORVALE_REQUIRE_TOOL("ntfscat");
    TempDir tmp("orvale-ntfs-bitmap");
    ASSERT_EQ(0, RunCommand("ntfscat '" + sc->imagePath + "' '$Bitmap' > '" + tmp.file("bitmap") + "'"));
    const std::vector<uint8_t> bitmap = ReadFileBytes(tmp.file("bitmap"));
    ASSERT_FALSE(bitmap.empty());

    CFastNtfsRecovery engine;
    uint64_t sector = 7, count = 99;
    std::wstring path = Wide(sc->imagePath);
    ASSERT_EQ(0, engine.Init(&path[0], L'C'));
    EXPECT_EQ(1, engine.GetUnUsedSectorCount(sector, count));
    EXPECT_EQ(7u, sector) << "no bitmap yet: nothing moves";
    EXPECT_EQ(0u, count);
    ASSERT_EQ(0, engine.BuildBitMapInfo());

    const uint64_t spc = 8;
    const uint64_t sectors = engine.GetSectorCount();
    std::vector<bool> covered(sectors, false);
    sector = 0;
    int extents = 0;
    for (;;) {
        count = 1;
        engine.GetUnUsedSectorCount(sector, count);
        if (count == 0) break;
        ASSERT_LE(sector + count, sectors);
        for (uint64_t s = sector; s < sector + count; ++s) covered[s] = true;
        sector += count;
        ++extents;
    }
    EXPECT_GT(extents, 1);
    uint64_t mismatches = 0, freeClusters = 0;
    for (uint64_t c = 0; c * spc + spc <= sectors; ++c) {
        const bool isFree = c / 8 < bitmap.size() && ((bitmap[c / 8] >> (c % 8)) & 1) == 0;
        freeClusters += isFree;
        for (uint64_t s = c * spc; s < c * spc + spc; ++s) mismatches += covered[s] != isFree;
    }
    EXPECT_EQ(0u, mismatches);
    EXPECT_GT(freeClusters, 0u);

    sector = sectors + 5;
    engine.GetUnUsedSectorCount(sector, count);
    EXPECT_EQ(sectors, sector);
    EXPECT_EQ(0u, count);
}
