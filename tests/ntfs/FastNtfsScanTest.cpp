#include "ntfs/CFastNtfsRecovery.h"

#include "engine/CFileRecoveryFactory.h"
#include "engine/FileCategories.h"
#include "platform/TextCodec.h"

#include "FastNtfsTestSupport.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <dirent.h>
#include <map>
#include <memory>
#include <set>

namespace {
struct Progress {
    std::vector<int> values;
    int stopAt = -1;
};
int OnScan(void* p, int progress, int, int, uint64_t, uint64_t, uint64_t, wchar_t*) {
    auto* pr = static_cast<Progress*>(p);
    pr->values.push_back(progress);
    return pr->stopAt >= 0 && int(pr->values.size()) > pr->stopAt ? 1 : 0;
}

std::wstring Wide(const std::string& utf8) { return Utf8ToWide(utf8.c_str()); }

int ScanByPath(CFastNtfsRecovery& engine, const std::string& image, Progress* progress = nullptr) {
    std::wstring path = Wide(image);
    int rc = engine.Init(&path[0], L'C');
    if (rc != 0) return rc;
    if (progress) engine.InitCallBack(OnScan, nullptr, progress, 100);
    return engine.ScanDevice(nullptr);
}

std::map<std::string, ListedNode> FilesByPath(CFastNtfsRecovery& engine) {
    std::vector<ListedNode> files, folders;
    WalkResultTree(engine, nullptr, 0, "", files, folders);
    std::map<std::string, ListedNode> byPath;
    for (auto& f : files) byPath[f.path] = f;
    return byPath;
}
} // namespace

TEST(FastNtfsScan, ListsExactlyTheDeletedFilesUnderTheirFolders) {
    ORVALE_REQUIRE_NTFS_SCENARIO(sc);
    StoreTestEnv env;
    CFastNtfsRecovery engine;
    Progress progress;
    ASSERT_EQ(0, ScanByPath(engine, sc->imagePath, &progress));
    ASSERT_FALSE(progress.values.empty());
    EXPECT_EQ(100, progress.values.back());
    for (size_t i = 1; i < progress.values.size(); ++i) EXPECT_GE(progress.values[i], progress.values[i - 1]);

    std::map<std::string, ListedNode> listed = FilesByPath(engine);
    std::set<std::string> expected;
    for (const auto& f : sc->deleted) {
        if (!f.visible) continue;
        expected.insert(f.path);
        EXPECT_EQ(1u, listed.count(f.path)) << "missing " << f.path;
    }
    for (const auto& kv : listed) {
        const bool filler = kv.first.compare(0, sc->fillerFolder.size() + 1, sc->fillerFolder + "/") == 0;
        EXPECT_TRUE(expected.count(kv.first) || filler) << "unexpected " << kv.first;
        EXPECT_EQ(0u, kv.second.node.nFileSystemType);
        EXPECT_EQ(uint32_t('C'), kv.second.node.nDriveLetter);
        EXPECT_GE(kv.second.node.nClusterNO, 12u);
        EXPECT_EQ(4096u, kv.second.node.nClusterBytes);
        // The store's own folder path agrees with the tree.
        wchar_t parentPath[1024] = {0};
        ASSERT_EQ(0, engine.GetFileNodeParentDirPath(&listed[kv.first].node, parentPath, 1024));
        EXPECT_EQ(kv.first, WideToUtf8(parentPath) + NodeNameUtf8(kv.second.node));
    }
    for (const auto& live : sc->liveFiles) EXPECT_EQ(0u, listed.count(live)) << live;

    // Sizes and the health verdicts: the photo whose bytes are not a JPEG is hidden
    // from the listing but still counted.
    for (const auto& f : sc->deleted) {
        if (listed.count(f.path)) {
            EXPECT_EQ(f.size, listed[f.path].node.u64FileSize) << f.path;
        }
    }
    EXPECT_EQ(1u, listed["docs/photo.jpg"].node.bIsHealth);
    EXPECT_EQ(0u, listed["docs/empty.dat"].node.bIsHealth) << "an empty resident value is judged unhealthy";

    std::vector<ListedNode> files, folders;
    WalkResultTree(engine, nullptr, 0, "", files, folders);
    const ListedNode* docs = nullptr;
    const ListedNode* lost = nullptr;
    for (const auto& d : folders) {
        if (d.path == "docs") docs = &d;
        if (d.path == "LostFolder" + std::to_string(sc->lostFolderRecord)) lost = &d;
    }
    ASSERT_NE(nullptr, docs);
    ASSERT_NE(nullptr, lost) << "a folder whose record holds a live file becomes a lost folder";
    EXPECT_EQ(0xFFFFFFFFu, lost->node.nClusterBytes);
    EXPECT_EQ(1u, lost->node.bIsHealth);
    EXPECT_EQ(0u, lost->node.u64FileSize);
    EXPECT_EQ(0u, lost->node.u64CreateTime);
    unsigned count = 0;
    _FILE_NODE_ docsNode = docs->node;
    ASSERT_EQ(0, engine.GetChildrenFileCount(&docsNode, 1, count));
    size_t docsFiles = 0;
    for (const auto& f : sc->deleted)
        if (f.path.compare(0, 5, "docs/") == 0) ++docsFiles;
    EXPECT_EQ(docsFiles, count) << "the hidden photo is counted";
    EXPECT_GE(engine.GetLostFileCount(), int(sc->deleted.size()));

    std::vector<_FILE_NODE_> none;
    EXPECT_EQ(87, engine.GetChildrenFileNode(nullptr, 1, none));
    EXPECT_TRUE(none.empty());
}

TEST(FastNtfsScan, MftRunsAndRecordMapping) {
    ORVALE_REQUIRE_NTFS_SCENARIO(sc);
    StoreTestEnv env;
    CFastNtfsRecovery engine;
    std::wstring path = Wide(sc->imagePath);
    ASSERT_EQ(0, engine.Init(&path[0], L'C'));
    EXPECT_EQ(512, engine.GetBytesPerSector());
    EXPECT_EQ(8, engine.GetSectorsPerCluster());
    EXPECT_EQ(sc->imageBytes / 512, engine.GetSectorCount());
    ASSERT_FALSE(engine.GetMftRunList().empty());

    // Every mapped record of the lost folder carries its own number.
    std::vector<unsigned char> record(8192);
    ASSERT_EQ(0, engine.GetFileRecordBuf(sc->lostFolderRecord, record.data()));
    EXPECT_EQ(0, std::memcmp(record.data(), "FILE", 4));
    uint32_t number = record[0x2C] | (record[0x2D] << 8) | (record[0x2E] << 16) | (uint32_t(record[0x2F]) << 24);
    EXPECT_EQ(sc->lostFolderRecord, number);
    EXPECT_EQ(0u, engine.GetFileRecordIndexSectorOffset(1u << 30)) << "an unmapped record maps to the volume start";

    unsigned long long bitmapBytes = 0;
    ASSERT_EQ(0, engine.GetBitMapRealBytesSize(engine.GetFileRecordIndexSectorOffset(6), bitmapBytes));
    EXPECT_GE(bitmapBytes * 8, sc->imageBytes / 4096 - 1) << "one bit per cluster";
    EXPECT_LE(bitmapBytes, sc->imageBytes / 4096 / 8 + 8);
    std::vector<__RUNLIST__> runs;
    EXPECT_EQ(-1, engine.GetRunListInfo(0, 0x80, runs)) << "the boot sector is no record";
    unsigned int length = 0;
    EXPECT_EQ(-101, engine.GetAttr0x80Data(0, record.data(), length));
}

TEST(FastNtfsScan, ByDiskNumberAtAnOffsetThroughTheFactory) {
    ORVALE_REQUIRE_NTFS_SCENARIO(sc);
    StoreTestEnv env;
    TempDir disks("orvale-ntfs-disk");
    // The volume as the partition at sector 2048 of disk 0.
    ASSERT_EQ(0, RunCommand("head -c 1048576 /dev/zero > '" + disks.file("disk0") + "' && cat '" + sc->imagePath +
                            "' >> '" + disks.file("disk0") + "'"));
    ScopedEnv diskDir("ORVALE_DISK_DIR", disks.path());

    std::unique_ptr<IFileRecoveryParse> engine(CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
        0, 2048, static_cast<long long>(sc->imageBytes / 512), L'C', RECOVERY_TYPE_FAST));
    ASSERT_NE(nullptr, engine);
    ASSERT_NE(nullptr, dynamic_cast<CFastNtfsRecovery*>(engine.get()));
    ASSERT_EQ(0, engine->ScanDevice(nullptr));

    // The store is named after the volume's first sector.
    bool named = false;
    if (DIR* d = opendir(env.resultDir().c_str())) {
        while (dirent* e = readdir(d)) named |= std::string(e->d_name).compare(0, 10, "Fast_2048_") == 0;
        closedir(d);
    }
    EXPECT_TRUE(named);

    std::vector<ListedNode> files, folders;
    WalkResultTree(*engine, nullptr, 0, "", files, folders);
    std::map<std::string, std::string> digests;
    for (const auto& f : sc->deleted) digests[f.path] = f.sha256;
    TempDir out("orvale-ntfs-out");
    int checked = 0;
    for (auto& f : files) {
        if (!digests.count(f.path)) continue;
        EXPECT_EQ(2048u, f.node.u64PartitionStartSector);
        EXPECT_GE(f.node.u64RecordSector, 2048u);
        std::wstring target = Wide(out.file("f" + std::to_string(checked++)));
        ASSERT_EQ(0, engine->SaveFileData(&f.node, &target[0], 0)) << f.path;
        EXPECT_EQ(digests[f.path], Sha256File(WideToUtf8(target.c_str()))) << f.path;
    }
    EXPECT_EQ(int(sc->deleted.size()) - 1, checked) << "all but the hidden photo";
}

TEST(FastNtfsScan, StopsWhenTheCallbackAsks) {
    ORVALE_REQUIRE_NTFS_SCENARIO(sc);
    StoreTestEnv env;
    CFastNtfsRecovery engine;
    Progress progress;
    progress.stopAt = 0;
    EXPECT_EQ(1, ScanByPath(engine, sc->imagePath, &progress));
    EXPECT_EQ(1u, progress.values.size());
}

TEST(FastNtfsScan, SearchFindsTheTickedCategories) {
    ORVALE_REQUIRE_NTFS_SCENARIO(sc);
    StoreTestEnv env;
    CFastNtfsRecovery engine;
    ASSERT_EQ(0, ScanByPath(engine, sc->imagePath));
    std::vector<int> progress;
    engine.InitSearchCallBack(
        [](void* p, int percent, wchar_t*) {
            static_cast<std::vector<int>*>(p)->push_back(percent);
            return 0;
        },
        &progress);
    std::wstring key = BuildSearchKey(CATEGORY_PHOTO);
    std::vector<__SEARCH_FILE_INFO__> hits;
    ASSERT_EQ(0, engine.SearchFileNode(&key[0], hits));
    std::vector<std::string> names;
    for (const auto& h : hits) names.push_back(NodeNameUtf8(h));
    EXPECT_EQ((std::vector<std::string>{"photo.jpg"}), names) << "the unhealthy fake photo stays hidden";
    EXPECT_FALSE(progress.empty());

    key = BuildSearchKey(CATEGORY_DOCUMENT);
    hits.clear();
    ASSERT_EQ(0, engine.SearchFileNode(&key[0], hits));
    std::set<std::string> documents;
    for (const auto& h : hits) documents.insert(NodeNameUtf8(h));
    EXPECT_EQ(1u, documents.count("small.txt"));
    EXPECT_EQ(1u, documents.count("r.txt"));
    EXPECT_EQ(0u, documents.count("photo.jpg"));
}
