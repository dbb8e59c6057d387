#include "engine/CScanResultFileManager.h"
#include "engine/FileCategories.h"

#include "fixtures/StoreTestEnv.h"
#include "fixtures/TestFiles.h"
#include "platform/DeviceMap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
uint64_t Key(uint32_t group, uint32_t cluster) { return (uint64_t(group) << 32) | cluster; }

// Creates one record the way the engines do: room from the store, every field filled.
uint32_t AddNode(CScanResultFileManager& store, const char* name, bool dir = false, uint32_t cluster = 0,
                 bool healthy = true) {
    auto* n = reinterpret_cast<_FILE_NODE_*>(store.CreateFileNode(sizeof(_FILE_NODE_)));
    EXPECT_NE(nullptr, n);
    if (!n) return 0;
    n->nDriveLetter = 'C';
    n->nFileSystemType = FS_TYPE_FAST_FAT;
    n->bIsDir = dir;
    n->bIsHealth = healthy;
    n->nFileIndex = store.GetFileIndex();
    n->nClusterNO = cluster;
    n->nClusterBytes = 4096;
    n->u64FileSize = 1000 + store.GetFileIndex();
    std::strncpy(n->szFileName, name, sizeof n->szFileName - 1);
    return n->nFileIndex;
}

// Adds a record and registers it under parent (group, parentCluster).
uint32_t AddChild(CScanResultFileManager& store, uint32_t group, uint32_t parentCluster, const char* name,
                  bool dir = false, uint32_t cluster = 0, bool healthy = true) {
    uint32_t index = AddNode(store, name, dir, cluster, healthy);
    store.AddChildren(parentCluster, group, index, cluster, dir ? name : nullptr);
    return index;
}

std::vector<std::string> Names(const std::vector<_FILE_NODE_>& nodes) {
    std::vector<std::string> names;
    for (const auto& n : nodes) names.push_back(n.szFileName);
    return names;
}

std::vector<std::string> Names(const std::vector<__SEARCH_FILE_INFO__>& hits) {
    std::vector<std::string> names;
    for (const auto& n : hits) names.push_back(n.szFileName);
    return names;
}

off_t FileSize(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

std::string ReadText(const std::string& path) {
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// A small FAT-like tree: root (key 0,2) holds f1.txt and folder A; A holds
// f2.doc, an overwritten photo bad.jpg and folder B; B holds C; C holds deep.txt.
struct Tree {
    uint32_t a, b, c, deep, bad;
    explicit Tree(CScanResultFileManager& s) {
        AddChild(s, 0, 2, "f1.txt");
        a = AddChild(s, 0, 2, "A", true, 10);
        AddChild(s, 1, 10, "f2.doc");
        bad = AddChild(s, 1, 10, "bad.jpg", false, 0, false);
        b = AddChild(s, 1, 10, "B", true, 11);
        c = AddChild(s, 2, 11, "C", true, 12);
        deep = AddChild(s, 3, 12, "deep.txt");
    }
};
} // namespace

TEST(StoreBuffer, The201stRecordWritesTheFirst200) {
    StoreTestEnv env;
    CScanResultFileManager store;
    ASSERT_EQ(0, store.Init(L"Fast_0_buffer"));
    EXPECT_EQ(env.resultDir() + "Fast_0_buffer", store.GetNodeFilePath());
    for (int i = 1; i <= 200; ++i) AddNode(store, ("r" + std::to_string(i) + ".txt").c_str());
    EXPECT_EQ(0, FileSize(store.GetNodeFilePath())) << "200 records fit the buffer";
    EXPECT_EQ(200u, store.GetFileIndex());

    AddNode(store, "r201.txt");
    EXPECT_EQ(201u, store.GetFileIndex());
    EXPECT_EQ(68800, FileSize(store.GetNodeFilePath()));
    std::vector<uint8_t> bytes = ReadFileBytes(store.GetNodeFilePath());
    _FILE_NODE_ last;
    std::memcpy(&last, bytes.data() + 199 * sizeof(_FILE_NODE_), sizeof last);
    EXPECT_EQ(200u, last.nFileIndex);
    EXPECT_STREQ("r200.txt", last.szFileName);

    EXPECT_EQ(0, store.FlushBufToFile());
    EXPECT_EQ(201 * 344, FileSize(store.GetNodeFilePath()));
    EXPECT_EQ(201u * 344u, store.GetByteCount());
    EXPECT_EQ(0, store.GetWriteError());
}

TEST(StoreRelation, TextFormatByteForByte) {
    StoreTestEnv env;
    CScanResultFileManager store;
    ASSERT_EQ(0, store.Init(L"rel"));
    for (int i = 1; i <= 5; ++i) AddNode(store, "x");
    store.AddChildren(2, 0, 1, 0, nullptr);
    store.AddChildren(2, 0, 2, 0, nullptr);
    store.AddChildren(5, 1, 3, 0, nullptr);
    store.AddChildren(5, 1, 4, 0, nullptr);
    store.AddChildren(2, 0, 5, 0, nullptr);
    ASSERT_EQ(0, store.FlushBufToFile());
    EXPECT_EQ(" | 2 - [1,2,5] | 4294967301 - [3,4]", ReadText(store.GetRelationFilePath()));

    // Rewritten whole on the next flush, from position 0.
    store.AddChildren(0, 0, 5, 0, nullptr);
    ASSERT_EQ(0, store.FlushBufToFile());
    EXPECT_EQ(" | 0 - [5] | 2 - [1,2,5] | 4294967301 - [3,4]", ReadText(store.GetRelationFilePath()));
}

TEST(StoreRelation, DirectoryFileHoldsRegisteredFolders) {
    StoreTestEnv env;
    CScanResultFileManager store;
    ASSERT_EQ(0, store.Init(L"dirs"));
    Tree tree(store);
    ASSERT_EQ(0, store.FlushBufToFile());
    std::vector<uint8_t> bytes = ReadFileBytes(store.GetDirInfoFilePath());
    ASSERT_EQ(3u * 264u, bytes.size());
    _DIR_FILE_INFO_ second;
    std::memcpy(&second, bytes.data() + 264, sizeof second);
    EXPECT_EQ(11u, second.nClusterNO);
    EXPECT_EQ(tree.b, second.nFileIndex);
    EXPECT_STREQ("B", second.szDirName);
}

TEST(StoreBrowse, ListingCountingAndPaths) {
    StoreTestEnv env;
    CScanResultFileManager store;
    ASSERT_EQ(0, store.Init(L"tree"));
    Tree tree(store);
    // Browsing sees records still in the write buffer.
    std::vector<_FILE_NODE_> root;
    ASSERT_EQ(0, store.GetChildrenFileNode(Key(0, 2), root));
    EXPECT_EQ((std::vector<std::string>{"f1.txt", "A"}), Names(root)) << "files come before folders";
    ASSERT_EQ(0, store.FlushBufToFile());

    std::vector<_FILE_NODE_> inA;
    ASSERT_EQ(0, store.GetChildrenFileNode(Key(1, 10), inA));
    EXPECT_EQ((std::vector<std::string>{"f2.doc", "B"}), Names(inA)) << "the overwritten photo is hidden";

    std::vector<_FILE_NODE_> root0;
    ASSERT_EQ(0, store.GetChildrenFileNode(0, root0));
    EXPECT_EQ(Names(root), Names(root0)) << "key 0 stands for the smallest key";

    std::vector<_FILE_NODE_> none;
    ASSERT_EQ(0, store.GetChildrenFileNode(Key(1, 99), none));
    EXPECT_TRUE(none.empty());

    unsigned count = 0;
    ASSERT_EQ(0, store.GetChildrenFileCount(Key(0, 2), count));
    EXPECT_EQ(4u, count) << "f1, f2, deep and the hidden bad.jpg";
    ASSERT_EQ(0, store.GetChildrenFileCount(Key(1, 10), count));
    EXPECT_EQ(3u, count);
    ASSERT_EQ(0, store.GetChildrenFileCount(Key(2, 11), count));
    EXPECT_EQ(1u, count);
    ASSERT_EQ(0, store.GetChildrenFileCount(Key(5, 5), count));
    EXPECT_EQ(0u, count);

    _FILE_NODE_ deep{};
    deep.nFileIndex = tree.deep;
    wchar_t path[64];
    EXPECT_EQ(0, store.GetParentDirPath(&deep, path, 64));
    EXPECT_EQ(std::wstring(L"A/B/C/"), path);
    std::vector<_FILE_NODE_> chain;
    ASSERT_EQ(0, store.GetParentFileNode(&deep, chain));
    ASSERT_EQ(3u, chain.size());
    EXPECT_EQ(tree.c, chain[0].nFileIndex) << "nearest ancestor first";
    EXPECT_EQ(tree.a, chain[2].nFileIndex);

    _FILE_NODE_ top{};
    top.nFileIndex = tree.a;
    EXPECT_EQ(0, store.GetParentDirPath(&top, path, 64));
    EXPECT_EQ(std::wstring(), path) << "a root entry has no folder path";
    EXPECT_EQ(87, store.GetParentFileNode(nullptr, chain));
    EXPECT_EQ(87, store.GetParentDirPath(nullptr, path, 64));

    // A path longer than the caller's room is cut, never overrun.
    wchar_t small[4];
    store.GetParentDirPath(&deep, small, 4);
    EXPECT_EQ(std::wstring(L"A/B"), small);
}

TEST(StoreBrowse, CarvedListAndLookupsByCluster) {
    StoreTestEnv env;
    CScanResultFileManager store;
    ASSERT_EQ(0, store.Init(L"File_Type_0"));
    AddChild(store, 0, 7, "7.txt");
    std::vector<_FILE_NODE_> out;
    ASSERT_EQ(0, store.GetChildrenFileNode(0, out));
    EXPECT_EQ((std::vector<std::string>{"7.txt"}), Names(out)) << "without key 0 the smallest key answers";

    AddChild(store, 0, 0, "2048.jpg");
    AddChild(store, 0, 0, "100.zip");
    out.clear();
    ASSERT_EQ(0, store.GetChildrenFileNode(0, out));
    EXPECT_EQ((std::vector<std::string>{"100.zip", "2048.jpg"}), Names(out));

    // Folder records are found by cluster both in the node file and in the buffer.
    for (int i = 0; i < 250; ++i) AddNode(store, "filler.bin");
    AddNode(store, "Lost", true, 33);
    _FILE_NODE_ found{};
    EXPECT_EQ(0, store.GetFileNodeByClusterNO(33, &found)) << "still buffered";
    EXPECT_STREQ("Lost", found.szFileName);
    ASSERT_EQ(0, store.FlushBufToFile());
    EXPECT_EQ(0, store.GetFileNodeByClusterNO(33, &found));
    EXPECT_EQ(store.GetFileIndex(), found.nFileIndex);
    EXPECT_EQ(87, store.GetFileNodeByClusterNO(34, &found));
    EXPECT_EQ(87, store.GetFileNodeByClusterNO(0, &found)) << "files with cluster 0 are not folders";
}

TEST(StoreBrowse, ParentFoundInNodeFileAndCyclesEnd) {
    StoreTestEnv env;
    CScanResultFileManager store;
    ASSERT_EQ(0, store.Init(L"cycle"));
    // A folder the engine never registered as a directory is found in the node file.
    AddChild(store, 0, 2, "first.txt");
    uint32_t dir = AddNode(store, "Unlisted", true, 40);
    store.AddChildren(2, 0, dir, 40, nullptr);
    uint32_t inner = AddChild(store, 1, 40, "inner.txt");
    _FILE_NODE_ n{};
    n.nFileIndex = inner;
    wchar_t path[64];
    EXPECT_EQ(0, store.GetParentDirPath(&n, path, 64));
    EXPECT_EQ(std::wstring(L"Unlisted/"), path);

    // Folders X (cluster 50) and Y (cluster 51) listed inside each other.
    uint32_t x = AddChild(store, 3, 51, "X", true, 50);
    uint32_t y = AddChild(store, 3, 50, "Y", true, 51);
    uint32_t leaf = AddChild(store, 4, 50, "leaf.txt");
    n.nFileIndex = leaf;
    std::vector<_FILE_NODE_> chain;
    EXPECT_EQ(0, store.GetParentFileNode(&n, chain));
    ASSERT_EQ(2u, chain.size());
    EXPECT_EQ(x, chain[0].nFileIndex);
    EXPECT_EQ(y, chain[1].nFileIndex);

    // A list whose parent folder exists nowhere ends the chain with 87.
    uint32_t orphan = AddChild(store, 1, 77, "orphan.txt");
    n.nFileIndex = orphan;
    chain.clear();
    EXPECT_EQ(87, store.GetParentFileNode(&n, chain));
    EXPECT_TRUE(chain.empty());
}

namespace {
struct SearchFixture {
    StoreTestEnv env;
    CScanResultFileManager store;
    SearchFixture() {
        EXPECT_EQ(0, store.Init(L"search"));
        AddChild(store, 0, 0, "a.jpg");
        AddChild(store, 0, 0, "b.JPG", false, 0, false); // overwritten photo
        AddChild(store, 0, 0, "c.xyz");
        AddChild(store, 0, 0, "readme");
        AddChild(store, 0, 0, "d.DOC");
        AddChild(store, 0, 0, "clip.rm");
        AddChild(store, 0, 0, "part.jp");
        AddChild(store, 0, 0, "Folder.txt", true, 9);
        AddChild(store, 0, 0, "broken.txt", false, 0, false); // unhealthy but not a photo
    }
    std::vector<std::string> Search(const std::wstring& key) {
        std::vector<__SEARCH_FILE_INFO__> hits;
        EXPECT_EQ(0, store.SearchFileNodeInfo(key.c_str(), hits));
        return Names(hits);
    }
};
} // namespace

TEST(StoreSearch, CategoriesOtherAndVisibility) {
    SearchFixture f;
    EXPECT_EQ((std::vector<std::string>{"a.jpg", "part.jp"}), f.Search(g_wszPhotoTypes))
        << "substring rule; unhealthy photos and folders are left out";
    EXPECT_EQ((std::vector<std::string>{"c.xyz", "readme"}), f.Search(g_wszOtherTypes));
    EXPECT_EQ((std::vector<std::string>{"clip.rm"}), f.Search(g_wszAudioTypes));
    EXPECT_EQ((std::vector<std::string>{"clip.rm"}), f.Search(g_wszVideoTypes));
    EXPECT_EQ((std::vector<std::string>{"broken.txt", "d.DOC"}), f.Search(g_wszDocumentTypes));
    EXPECT_EQ((std::vector<std::string>{"a.jpg", "broken.txt", "c.xyz", "clip.rm", "d.DOC", "part.jp", "readme"}),
              f.Search(BuildSearchKey(CATEGORY_ALL)));
    EXPECT_TRUE(f.Search(L"").empty());

    // Hits are byte copies of the node records.
    std::vector<__SEARCH_FILE_INFO__> hits;
    ASSERT_EQ(0, f.store.SearchFileNodeInfo(L"*.xyz", hits));
    ASSERT_EQ(1u, hits.size());
    EXPECT_EQ(3u, hits[0].nFileIndex);
    EXPECT_EQ(1003u, hits[0].u64FileSize);
    EXPECT_EQ(uint32_t('C'), hits[0].nDriveLetter);
}

TEST(StoreSearch, OtherIsSwitchedOffForLargeNodeFiles) {
    SearchFixture f;
    ASSERT_EQ(0, f.store.FlushBufToFile());
    // Grow the node file past 134217727 bytes with zero records (sparse, so fast).
    ASSERT_EQ(0, ::truncate(f.store.GetNodeFilePath().c_str(), 134217728 + 344 * 10));
    EXPECT_TRUE(f.Search(g_wszOtherTypes).empty());
    EXPECT_EQ((std::vector<std::string>{"a.jpg", "part.jp"}), f.Search(g_wszPhotoTypes));
}

TEST(StoreSearch, ProgressAndStop) {
    StoreTestEnv env;
    CScanResultFileManager store;
    ASSERT_EQ(0, store.Init(L"progress"));
    for (int i = 0; i < 1000; ++i) AddChild(store, 0, 0, i % 2 ? "x.jpg" : "y.zip");
    struct Seen {
        std::vector<int> progress;
        int stopAfter;
    } seen{{}, 1000};
    auto cb = [](void* p, int progress, wchar_t* name) -> int {
        auto* s = static_cast<Seen*>(p);
        EXPECT_EQ(nullptr, name);
        s->progress.push_back(progress);
        return int(s->progress.size()) >= s->stopAfter;
    };
    store.InitSearchCallBack(cb, &seen);
    std::vector<__SEARCH_FILE_INFO__> hits;
    ASSERT_EQ(0, store.SearchFileNodeInfo(g_wszPhotoTypes, hits));
    EXPECT_EQ(500u, hits.size());
    ASSERT_EQ(5u, seen.progress.size()) << "1000 records are five pieces of 200";
    EXPECT_EQ(100, seen.progress.back());
    EXPECT_TRUE(std::is_sorted(seen.progress.begin(), seen.progress.end()));

    seen = {{}, 1};
    hits.clear();
    EXPECT_EQ(-9527, store.SearchFileNodeInfo(g_wszPhotoTypes, hits)) << "stopped by the callback";
    EXPECT_EQ(100u, hits.size()) << "what was found before the stop is kept";
}

TEST(StoreReopen, RestoresRelationsFoldersAndNumbering) {
    StoreTestEnv env;
    std::string relationText;
    uint32_t deepIndex;
    {
        CScanResultFileManager store;
        ASSERT_EQ(0, store.Init(L"Pro_Fat_0"));
        Tree tree(store);
        deepIndex = tree.deep;
        for (int i = 0; i < 300; ++i) AddChild(store, 0, 500, "lost.bin");
        ASSERT_EQ(0, store.FlushBufToFile());
        relationText = ReadText(store.GetRelationFilePath());
    } // the destructor flushes and closes

    CScanResultFileManager store;
    ASSERT_EQ(0, store.Init(L"Pro_Fat_0"));
    EXPECT_EQ(307u, store.GetFileIndex()) << "numbering goes on from the records on disk";
    ASSERT_EQ(3u, store.GetDirInfoList().size());
    EXPECT_STREQ("C", store.GetDirInfoList()[2].szDirName);
    EXPECT_EQ(300u, store.GetRelationMap().at(500).size());

    _FILE_NODE_ deep{};
    deep.nFileIndex = deepIndex;
    wchar_t path[64];
    EXPECT_EQ(0, store.GetParentDirPath(&deep, path, 64));
    EXPECT_EQ(std::wstring(L"A/B/C/"), path);

    uint32_t added = AddChild(store, 3, 12, "new.txt");
    EXPECT_EQ(308u, added);
    ASSERT_EQ(0, store.FlushBufToFile());
    EXPECT_EQ(308 * 344, FileSize(store.GetNodeFilePath()));
    std::vector<_FILE_NODE_> inC;
    ASSERT_EQ(0, store.GetChildrenFileNode(Key(3, 12), inC));
    EXPECT_EQ((std::vector<std::string>{"deep.txt", "new.txt"}), Names(inC));
    // The restored map writes back the same text, with the new child in its list.
    const std::string group = " | 12884901900 - [7]";
    ASSERT_NE(std::string::npos, relationText.find(group));
    std::string expected = relationText;
    expected.replace(expected.find(group), group.size(), " | 12884901900 - [7,308]");
    EXPECT_EQ(expected, ReadText(store.GetRelationFilePath()));
}

TEST(StoreReopen, TornTailAndDamagedCompanionFiles) {
    StoreTestEnv env;
    std::string node, relation;
    {
        CScanResultFileManager store;
        ASSERT_EQ(0, store.Init(L"torn"));
        for (int i = 0; i < 3; ++i) AddChild(store, 0, 5, "ok.txt");
        node = store.GetNodeFilePath();
        relation = store.GetRelationFilePath();
    }
    // A torn last record and a relation file cut in the middle of a list.
    ASSERT_EQ(0, ::truncate(node.c_str(), 3 * 344 - 100));
    WriteFileBytes(relation, {' ', '|', ' ', '5', ' ', '-', ' ', '[', '1', ',', '2', ',', 'x', ']'});
    CScanResultFileManager store;
    ASSERT_EQ(0, store.Init(L"torn"));
    EXPECT_EQ(2u, store.GetFileIndex()) << "only whole records count";
    EXPECT_EQ((std::vector<uint32_t>{1, 2}), store.GetRelationMap().at(5));
    uint32_t next = AddChild(store, 0, 5, "next.txt");
    EXPECT_EQ(3u, next) << "the torn record's place is reused";
    ASSERT_EQ(0, store.FlushBufToFile());
    EXPECT_EQ(3 * 344, FileSize(node));
    std::vector<_FILE_NODE_> out;
    ASSERT_EQ(0, store.GetChildrenFileNode(5, out));
    EXPECT_EQ((std::vector<std::string>{"next.txt", "ok.txt", "ok.txt"}), Names(out));
}

TEST(StoreErrors, FailedWritesAreReported) {
    StoreTestEnv env;
    ASSERT_EQ(0, MakeDirectories(env.resultDir()));
    ASSERT_EQ(0, ::symlink("/dev/full", (env.resultDir() + "full").c_str()));
    CScanResultFileManager store;
    ASSERT_EQ(0, store.Init(L"full"));
    for (int i = 0; i < 201; ++i) AddChild(store, 0, 0, "lost.txt");
    EXPECT_EQ(ENOSPC, store.GetWriteError());
    EXPECT_EQ(201u, store.GetFileIndex()) << "numbering is not disturbed";
    EXPECT_EQ(ENOSPC, store.FlushBufToFile()) << "a flush never reports success after lost records";
    EXPECT_EQ(ENOSPC, store.FlushBufToFile());

    CScanResultFileManager bad;
    EXPECT_NE(0, bad.Init(L"no/such/sub/folder/../x")) << "a node file that cannot be created";
    EXPECT_EQ(87, bad.Init(L""));
}

TEST(StoreReopen, RecordsAfterACheckpointAreForgottenOnResume) {
    struct Case {
        uint32_t keep;
        std::vector<std::string> listed;
    } cases[] = {
        {0, {}},
        {2, {"a.jpg", "b.jpg"}},
        {4, {"a.jpg", "b.jpg", "c.jpg", "d.jpg"}},
        {9, {"a.jpg", "b.jpg", "c.jpg", "d.jpg"}},
    };
    for (const Case& c : cases) {
        StoreTestEnv env;
        {
            CScanResultFileManager store;
            ASSERT_EQ(0, store.Init(L"File_Type_0"));
            for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"}) AddChild(store, 0, 0, name);
            ASSERT_EQ(0, store.FlushBufToFile());
        }
        CScanResultFileManager resumed;
        ASSERT_EQ(0, resumed.Init(L"File_Type_0"));
        EXPECT_EQ(0, resumed.KeepFirstRecords(c.keep));
        // Found again after the checkpoint: numbered on from what was kept, listed once.
        AddChild(resumed, 0, 0, "e.jpg");
        std::vector<_FILE_NODE_> nodes;
        ASSERT_EQ(0, resumed.GetChildrenFileNode(0, nodes));
        std::vector<std::string> expected = c.listed;
        expected.push_back("e.jpg");
        std::vector<std::string> names = Names(nodes);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(expected, names) << c.keep;
        EXPECT_EQ(std::min<uint32_t>(c.keep, 4) + 1, resumed.GetFileIndex());
        ASSERT_EQ(0, resumed.FlushBufToFile());
        EXPECT_EQ(off_t((std::min<uint32_t>(c.keep, 4) + 1) * sizeof(_FILE_NODE_)), FileSize(resumed.GetNodeFilePath()));
    }
}
