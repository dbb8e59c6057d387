#include "engine/CScanResultFileManager.h"
#include "engine/FileCategories.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <unistd.h>

namespace {
using Names = std::vector<std::string>;
uint64_t Key(uint32_t group, uint32_t cluster) { return (uint64_t(group) << 32) | cluster; }

// Adds one record the way the engines do and registers it under (group, parentCluster).
uint32_t Add(CScanResultFileManager& store, uint32_t group, uint32_t parentCluster, const char* name,
             bool dir = false, uint32_t cluster = 0, bool healthy = true, bool link = true) {
    auto* n = reinterpret_cast<_FILE_NODE_*>(store.CreateFileNode(sizeof(_FILE_NODE_)));
    EXPECT_NE(nullptr, n);
    if (!n) return 0;
    n->nDriveLetter = 'C', n->nFileSystemType = FS_TYPE_FAST_FAT, n->bIsDir = dir, n->bIsHealth = healthy;
    n->nFileIndex = store.GetFileIndex(), n->nClusterNO = cluster, n->u64FileSize = 1000 + store.GetFileIndex();
    std::strncpy(n->szFileName, name, sizeof n->szFileName - 1);
    if (link) store.AddChildren(parentCluster, group, n->nFileIndex, cluster, dir ? name : nullptr);
    return n->nFileIndex;
}

template <class T> Names NamesOf(const std::vector<T>& records) {
    Names names;
    for (const auto& r : records) names.push_back(r.szFileName);
    return names;
}

Names Children(CScanResultFileManager& store, uint64_t key) {
    std::vector<_FILE_NODE_> out;
    EXPECT_EQ(0, store.GetChildrenFileNode(key, out));
    return NamesOf(out);
}

// The indexes of a record's folders, nearest first.
std::vector<uint32_t> Chain(CScanResultFileManager& store, uint32_t index, int expectedRc = 0) {
    _FILE_NODE_ n{};
    n.nFileIndex = index;
    std::vector<_FILE_NODE_> chain;
    EXPECT_EQ(expectedRc, store.GetParentFileNode(&n, chain)) << index;
    std::vector<uint32_t> out;
    for (const auto& c : chain) out.push_back(c.nFileIndex);
    return out;
}

std::wstring ParentPath(CScanResultFileManager& store, uint32_t index, int room = 64) {
    _FILE_NODE_ n{};
    n.nFileIndex = index;
    wchar_t path[64] = L"?";
    store.GetParentDirPath(&n, path, room);
    return path;
}

std::string ReadText(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// Root (0,2) holds f1.txt and A; A holds f2.doc, an overwritten bad.jpg and B; B holds C; C holds deep.txt.
struct Tree {
    uint32_t a, b, c, deep;
    explicit Tree(CScanResultFileManager& s) {
        Add(s, 0, 2, "f1.txt"), a = Add(s, 0, 2, "A", true, 10);
        Add(s, 1, 10, "f2.doc"), Add(s, 1, 10, "bad.jpg", false, 0, false), b = Add(s, 1, 10, "B", true, 11);
        c = Add(s, 2, 11, "C", true, 12), deep = Add(s, 3, 12, "deep.txt");
    }
};
} // namespace

TEST(Store, BrowsingCountsParentPathsCyclesAndLookupsByCluster) {
    StoreTestEnv env;
    CScanResultFileManager store;
    ASSERT_EQ(0, store.Init(L"tree"));
    Tree tree(store);
    EXPECT_EQ((Names{"f1.txt", "A"}), Children(store, Key(0, 2))) << "buffered, files first";
    ASSERT_EQ(0, store.FlushBufToFile());
    EXPECT_EQ((Names{"f2.doc", "B"}), Children(store, Key(1, 10))) << "the overwritten photo is hidden";
    EXPECT_EQ(Children(store, Key(0, 2)), Children(store, 0)) << "key 0 stands for the smallest key";
    EXPECT_TRUE(Children(store, Key(1, 99)).empty());
    for (auto [key, expected] : {std::pair{Key(0, 2), 4u}, {Key(1, 10), 3u}, {Key(2, 11), 1u}, {Key(5, 5), 0u}}) {
        unsigned count = 99;
        EXPECT_TRUE(store.GetChildrenFileCount(key, count) == 0 && count == expected) << key << ": " << count;
    }
    EXPECT_TRUE(ParentPath(store, tree.deep) == L"A/B/C/" && ParentPath(store, tree.a) == L"");
    EXPECT_EQ(L"A/B", ParentPath(store, tree.deep, 4)) << "cut to the caller's room, never overrun";
    EXPECT_EQ((std::vector<uint32_t>{tree.c, tree.b, tree.a}), Chain(store, tree.deep));
    std::vector<_FILE_NODE_> chain;
    EXPECT_EQ(87, store.GetParentFileNode(nullptr, chain));
    // A folder the engine never registered as a directory is found in the node file.
    const uint32_t dir = Add(store, 0, 2, "Unlisted", true, 40, true, false);
    store.AddChildren(2, 0, dir, 40, nullptr);
    EXPECT_EQ(L"Unlisted/", ParentPath(store, Add(store, 1, 40, "inner.txt")));
    // Folders X (cluster 50) and Y (cluster 51) listed inside each other: the chain ends.
    const uint32_t x = Add(store, 3, 51, "X", true, 50), y = Add(store, 3, 50, "Y", true, 51);
    EXPECT_EQ((std::vector<uint32_t>{x, y}), Chain(store, Add(store, 4, 50, "leaf.txt")));
    EXPECT_TRUE(Chain(store, Add(store, 1, 77, "orphan.txt"), 87).empty()) << "a parent that exists nowhere";
    for (int i = 0; i < 250; ++i) Add(store, 0, 0, "filler.bin", false, 0, true, false);
    Add(store, 0, 0, "Lost", true, 33, true, false);
    _FILE_NODE_ found{};
    for (bool flushed : {false, true}) {
        EXPECT_EQ(0, flushed ? store.FlushBufToFile() : 0);
        EXPECT_TRUE(store.GetFileNodeByClusterNO(33, &found) == 0 && std::string(found.szFileName) == "Lost") << flushed;
    }
    EXPECT_EQ(87, store.GetFileNodeByClusterNO(34, &found));
    EXPECT_EQ(87, store.GetFileNodeByClusterNO(0, &found)) << "cluster 0 names no folder";
}

TEST(Store, SearchByCategoryProgressAndStop) {
    StoreTestEnv env;
    CScanResultFileManager store;
    ASSERT_EQ(0, store.Init(L"search"));
    Add(store, 0, 0, "a.jpg"), Add(store, 0, 0, "b.JPG", false, 0, false); // overwritten photo
    for (const char* name : {"c.xyz", "readme", "d.DOC", "clip.rm", "part.jp"}) Add(store, 0, 0, name);
    Add(store, 0, 0, "Folder.txt", true, 9), Add(store, 0, 0, "broken.txt", false, 0, false); // unhealthy but no photo
    auto search = [&](const std::wstring& key) {
        std::vector<__SEARCH_FILE_INFO__> hits;
        EXPECT_EQ(0, store.SearchFileNodeInfo(key.c_str(), hits));
        return NamesOf(hits);
    };
    // The substring rule; unhealthy photos and folders left out; a name in two categories listed once.
    EXPECT_EQ((Names{"a.jpg", "part.jp"}), search(g_wszPhotoTypes));
    EXPECT_EQ((Names{"c.xyz", "readme"}), search(g_wszOtherTypes));
    EXPECT_EQ((Names{"a.jpg", "broken.txt", "c.xyz", "clip.rm", "d.DOC", "part.jp", "readme"}), search(BuildSearchKey(CATEGORY_ALL)));
    EXPECT_TRUE(search(L"").empty());
    // Past 128 MiB of records the catch-all category is switched off.
    ASSERT_EQ(0, store.FlushBufToFile());
    ASSERT_EQ(0, ::truncate(store.GetNodeFilePath().c_str(), 134217728 + 344 * 10));
    EXPECT_TRUE(search(g_wszOtherTypes).empty());
    EXPECT_EQ((Names{"a.jpg", "part.jp"}), search(g_wszPhotoTypes));

    CScanResultFileManager big;
    ASSERT_EQ(0, big.Init(L"progress"));
    for (int i = 0; i < 1000; ++i) Add(big, 0, 0, i % 2 ? "x.jpg" : "y.zip");
    struct Seen { std::vector<int> progress; int stopAfter; } seen{{}, 1000};
    big.InitSearchCallBack([](void* p, int progress, wchar_t*) -> int {
        auto* s = static_cast<Seen*>(p);
        s->progress.push_back(progress);
        return int(s->progress.size()) >= s->stopAfter;
    }, &seen);
    std::vector<__SEARCH_FILE_INFO__> hits;
    ASSERT_EQ(0, big.SearchFileNodeInfo(g_wszPhotoTypes, hits));
    EXPECT_EQ(500u, hits.size());
    EXPECT_EQ((std::vector<int>{20, 40, 60, 80, 100}), seen.progress) << "1000 records are five pieces of 200";
    seen = {{}, 1}, hits.clear();
    EXPECT_EQ(-9527, big.SearchFileNodeInfo(g_wszPhotoTypes, hits)) << "stopped by the callback";
    EXPECT_EQ(100u, hits.size()) << "what was found before the stop is kept";
}

TEST(Store, ReopenRestoresRelationsFoldersAndNumbering) {
    StoreTestEnv env;
    std::string relationText;
    uint32_t deep;
    {
        CScanResultFileManager store;
        ASSERT_EQ(0, store.Init(L"Pro_Fat_0"));
        deep = Tree(store).deep;
        for (int i = 0; i < 300; ++i) Add(store, 0, 500, "lost.bin");
        ASSERT_EQ(0, store.FlushBufToFile());
        relationText = ReadText(store.GetRelationFilePath());
    } // the destructor flushes and closes
    CScanResultFileManager store;
    ASSERT_EQ(0, store.Init(L"Pro_Fat_0"));
    EXPECT_EQ(307u, store.GetFileIndex()) << "numbering goes on from the records on disk";
    ASSERT_EQ(3u, store.GetDirInfoList().size());
    EXPECT_STREQ("C", store.GetDirInfoList()[2].szDirName);
    EXPECT_TRUE(store.GetRelationMap().at(500).size() == 300 && ParentPath(store, deep) == L"A/B/C/");
    EXPECT_EQ(308u, Add(store, 3, 12, "new.txt"));
    ASSERT_EQ(0, store.FlushBufToFile());
    EXPECT_EQ((Names{"deep.txt", "new.txt"}), Children(store, Key(3, 12)));
    // The restored map writes back the same text, with the new child in its list.
    const std::string group = " | 12884901900 - [7]";
    ASSERT_NE(std::string::npos, relationText.find(group));
    relationText.replace(relationText.find(group), group.size(), " | 12884901900 - [7,308]");
    EXPECT_EQ(relationText, ReadText(store.GetRelationFilePath()));
}

TEST(Store, TornTailDamagedRelationFileAndFailedWrites) {
    StoreTestEnv env;
    std::string node, relation;
    {
        CScanResultFileManager store;
        ASSERT_EQ(0, store.Init(L"torn"));
        for (int i = 0; i < 3; ++i) Add(store, 0, 5, "ok.txt");
        node = store.GetNodeFilePath(), relation = store.GetRelationFilePath();
    }
    ASSERT_EQ(0, ::truncate(node.c_str(), 3 * 344 - 100));
    WriteFileBytes(relation, {' ', '|', ' ', '5', ' ', '-', ' ', '[', '1', ',', '2', ',', 'x', ']'});
    CScanResultFileManager store;
    ASSERT_EQ(0, store.Init(L"torn"));
    EXPECT_EQ(2u, store.GetFileIndex()) << "only whole records count";
    EXPECT_EQ((std::vector<uint32_t>{1, 2}), store.GetRelationMap().at(5));
    EXPECT_EQ(3u, Add(store, 0, 5, "next.txt")) << "the torn record's place is reused";
    ASSERT_EQ(0, store.FlushBufToFile());
    EXPECT_EQ(3u * 344, ReadFileBytes(node).size());
    EXPECT_EQ((Names{"next.txt", "ok.txt", "ok.txt"}), Children(store, 5));

    ASSERT_EQ(0, ::symlink("/dev/full", (env.resultDir() + "full").c_str()));
    CScanResultFileManager full;
    ASSERT_EQ(0, full.Init(L"full"));
    for (int i = 0; i < 201; ++i) Add(full, 0, 0, "lost.txt");
    EXPECT_TRUE(full.GetWriteError() == ENOSPC && full.GetFileIndex() == 201) << "numbering is not disturbed";
    EXPECT_TRUE(full.FlushBufToFile() == ENOSPC && full.FlushBufToFile() == ENOSPC) << "a flush never reports success after lost records";
    CScanResultFileManager bad;
    EXPECT_NE(0, bad.Init(L"no/such/sub/folder/../x"));
    EXPECT_EQ(87, bad.Init(L""));
}

TEST(Store, RecordsAfterACheckpointAreForgottenOnResume) {
    const Names all = {"a.jpg", "b.jpg", "c.jpg", "d.jpg"};
    for (uint32_t keep : {0u, 3u, 4u, 9u}) {
        SCOPED_TRACE(keep);
        StoreTestEnv env;
        {
            CScanResultFileManager store;
            ASSERT_EQ(0, store.Init(L"File_Type_0"));
            for (const std::string& name : all) Add(store, 0, 0, name.c_str());
        }
        CScanResultFileManager resumed;
        ASSERT_EQ(0, resumed.Init(L"File_Type_0"));
        EXPECT_EQ(0, resumed.KeepFirstRecords(keep));
        Add(resumed, 0, 0, "e.jpg"); // found again after the checkpoint: numbered on, listed once
        const uint32_t kept = std::min<uint32_t>(keep, 4);
        Names expected(all.begin(), all.begin() + kept), names = Children(resumed, 0);
        expected.push_back("e.jpg");
        std::sort(names.begin(), names.end());
        EXPECT_TRUE(names == expected && resumed.GetFileIndex() == kept + 1) << names.size();
        ASSERT_EQ(0, resumed.FlushBufToFile());
        EXPECT_EQ((kept + 1) * sizeof(_FILE_NODE_), ReadFileBytes(resumed.GetNodeFilePath()).size());
    }
}
