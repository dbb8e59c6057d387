#pragma once
// The folder tree of the deep FAT engine. Files and folders met in directory
// sectors anywhere on a disk are held here until a geometry places them, then
// filed into the result store under their folders ("LostFolder%u" for folders
// known only by number). It reads nothing itself: what only the disk can tell
// is asked of the FatTreeDisk it is handed.
#include "engine/CScanResultFileManager.h"
#include "fat/ProfessionalFatTypes.h"

#include <cstdint>
#include <map>
#include <vector>

// What the tree asks of the disk.
class FatTreeDisk {
public:
    virtual ~FatTreeDisk() = default;
    // The folder a folder's ".." entry names (the root for the root or a volume
    // label). 0, or an error number when its first cluster cannot be read.
    virtual int ParentOf(const __VIRTUAL_DBR_INFO__& d, uint32_t cluster, uint32_t& parent) = 0;
    // Depth of a folder below the root.
    virtual unsigned DepthOf(const __VIRTUAL_DBR_INFO__& d, uint32_t cluster) = 0;
    // 1 when a file's first data sector matches its extension or nothing can be judged.
    virtual int Health(const _FILE_NODE_& node, unsigned sectorsPerCluster) = 0;
};

// Where the tree files its records and what it stamps them with.
struct FatTreeTarget {
    CScanResultFileManager* store = nullptr;
    uint32_t bytesPerSector = 512;
    uint32_t rootCluster = 2;
    uint32_t driveLetter = 0;
    uint32_t fileSystemType = 0;
};

class ProfessionalFatTree {
public:
    void Clear();

    // A subdirectory entry (node.nFileIndex: the listing folder, nClusterNO: its own cluster).
    void AddDir(uint32_t cluster, const __PRO_DIR_INFO__& info) { m_Dirs[cluster] = info; }
    // A file entry no geometry explains yet, filed under the folder of cluster dir.
    void HoldFile(const _FILE_NODE_& node, uint32_t dir);
    size_t HeldFileCount() const { return m_Held.size(); }

    // Files a record under the folder of cluster dir with the geometry d.
    void StoreFile(const _FILE_NODE_& node, uint32_t dir, const __VIRTUAL_DBR_INFO__& d, const FatTreeTarget& to,
                   FatTreeDisk& disk);
    // Marks dir and the folders above it as needed in the tree.
    void NeedDirsAbove(uint32_t dir, const __VIRTUAL_DBR_INFO__* d, uint64_t sector, const FatTreeTarget& to,
                       FatTreeDisk& disk);
    // Files the held records whose folder begins, under one of the geometries, where they were found.
    void PlaceHeldFiles(const std::vector<__VIRTUAL_DBR_INFO__>& dbrs, const FatTreeTarget& to, FatTreeDisk& disk);
    // The end of the pass: the needed folders, then every held file under the best geometry left.
    void Build(const std::vector<__VIRTUAL_DBR_INFO__>& dbrs, bool hasRealDbr, const FatTreeTarget& to,
               FatTreeDisk& disk);

private:
    std::vector<__NO_DBR_FILE_NODE__> m_Held;
    std::map<uint32_t, __PRO_DIR_INFO__> m_Dirs;
    std::map<uint32_t, __PRO_NEED_ADD_DIR_INFO__> m_Needed;
};
