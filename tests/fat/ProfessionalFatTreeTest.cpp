// The deep FAT folder tree on its own, with the disk's answers made up: loops
// and unreadable folders on a damaged disk must end in a finite tree in which
// no folder is its own parent.
#include "fat/ProfessionalFatTree.h"

#include "fixtures/StoreTestEnv.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

namespace {
class FakeDisk : public FatTreeDisk {
public:
    std::map<uint32_t, uint32_t> parents; // folders missing here cannot be read
    int ParentOf(const __VIRTUAL_DBR_INFO__&, uint32_t cluster, uint32_t& parent) override {
        auto it = parents.find(cluster);
        if (it == parents.end()) return 30;
        parent = it->second;
        return 0;
    }
    unsigned DepthOf(const __VIRTUAL_DBR_INFO__&, uint32_t) override { return 0; }
    int Health(const _FILE_NODE_&, unsigned) override { return 1; }
};

_FILE_NODE_ File(const char* name, uint64_t recordSector) {
    _FILE_NODE_ n;
    std::memset(&n, 0, sizeof n);
    std::strncpy(n.szFileName, name, sizeof n.szFileName - 1);
    n.nClusterNO = 100;
    n.u64RecordSector = recordSector;
    return n;
}

// Parent cluster of each folder the tree filed, by the folder's cluster.
std::map<uint32_t, uint32_t> FiledFolders(const CScanResultFileManager& store) {
    std::map<uint32_t, uint32_t> byIndex;
    for (const auto& rel : store.GetRelationMap())
        for (uint32_t index : rel.second) byIndex[index] = static_cast<uint32_t>(rel.first);
    std::map<uint32_t, uint32_t> out;
    for (const auto& dir : store.GetDirInfoList()) out[dir.nClusterNO] = byIndex.at(dir.nFileIndex);
    return out;
}
} // namespace

TEST(ProfessionalFatTree, FoldersKnownOnlyByNumberEndUnderARealParent) {
    const __VIRTUAL_DBR_INFO__ d{8, 1000, 0};
    struct Case {
        const char* what;
        std::map<uint32_t, uint32_t> parents;
        std::map<uint32_t, uint32_t> filed; // folder -> parent it is filed under
    } cases[] = {
        {"a chain up to the root", {{7, 6}, {6, 2}}, {{7, 6}, {6, 2}}},
        // The walk up ends; each is filed under the other, as their ".." entries say.
        {"a loop of two folders", {{7, 6}, {6, 7}}, {{7, 6}, {6, 7}}},
        {"a folder naming itself", {{7, 7}}, {{7, 2}}},
        {"an unreadable folder", {}, {{7, 2}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StoreTestEnv env;
        CScanResultFileManager store;
        ASSERT_EQ(0, store.Init(L"Pro_Fat_tree"));
        FakeDisk disk;
        disk.parents = c.parents;
        FatTreeTarget to;
        to.store = &store;
        ProfessionalFatTree tree;
        tree.StoreFile(File("a.txt", 5000), 7, d, to, disk);
        tree.NeedDirsAbove(7, &d, 5000, to, disk);
        tree.Build({d}, false, to, disk);
        EXPECT_EQ(c.filed, FiledFolders(store));
    }
}

TEST(ProfessionalFatTree, HeldFilesWaitForTheGeometryThatPlacesTheirFolder) {
    StoreTestEnv env;
    CScanResultFileManager store;
    ASSERT_EQ(0, store.Init(L"Pro_Fat_held"));
    FakeDisk disk;
    FatTreeTarget to;
    to.store = &store;
    ProfessionalFatTree tree;
    // Folder 10 found at sector 1064: under 8 sectors per cluster from 1000 it begins there.
    tree.HoldFile(File("held.jpg", 1064), 10);
    tree.PlaceHeldFiles({{4, 1000, 0}}, to, disk);
    EXPECT_EQ(1u, tree.HeldFileCount()) << "a geometry that puts folder 10 elsewhere";
    tree.PlaceHeldFiles({{4, 1000, 0}, {8, 1000, 0}}, to, disk);
    EXPECT_EQ(0u, tree.HeldFileCount());
    ASSERT_EQ(1u, store.GetRelationMap().count(10));
    EXPECT_EQ(1u, store.GetRelationMap().at(10).size());
}
