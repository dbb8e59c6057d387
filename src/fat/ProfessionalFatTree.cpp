#include "fat/ProfessionalFatTree.h"

#include <cstdio>
#include <cstring>
#include <set>

namespace {
// Bound of every walk up a chain of folders; the visited sets already stop
// loops, this stops absurdly deep chains of distinct clusters.
constexpr unsigned kMaxDirDepth = 1024;

__VIRTUAL_DBR_INFO__ NoDbr() { return __VIRTUAL_DBR_INFO__{0, 0, 0}; }

const __VIRTUAL_DBR_INFO__* At(const std::vector<__VIRTUAL_DBR_INFO__>& dbrs, int i) {
    return i < 0 ? nullptr : &dbrs[size_t(i)];
}
} // namespace

void ProfessionalFatTree::Clear() {
    m_Held.clear();
    m_Dirs.clear();
    m_Needed.clear();
}

void ProfessionalFatTree::HoldFile(const _FILE_NODE_& node, uint32_t dir) {
    __NO_DBR_FILE_NODE__ held;
    held.bDealt = 0;
    held.node = node;
    held.node.bIsHealth = 1;
    held.node.nFileIndex = dir;
    m_Held.push_back(held);
}

void ProfessionalFatTree::StoreFile(const _FILE_NODE_& node, uint32_t dir, const __VIRTUAL_DBR_INFO__& d,
                                    const FatTreeTarget& to, FatTreeDisk& disk) {
    if (!to.store) return;
    unsigned depth = disk.DepthOf(d, dir);
    unsigned char* mem = to.store->CreateFileNode(sizeof(_FILE_NODE_));
    if (!mem) return;
    _FILE_NODE_ rec = node;
    rec.nClusterBytes = to.bytesPerSector * d.nSectorsPerCluster;
    rec.u64DataStartSector = d.nDataStartSector;
    rec.u64PartitionStartSector = d.u64VolumeStartSector;
    rec.nFileIndex = to.store->GetFileIndex();
    rec.bIsHealth = static_cast<uint32_t>(disk.Health(rec, d.nSectorsPerCluster));
    std::memcpy(mem, &rec, sizeof rec);
    to.store->AddChildren(dir, depth, rec.nFileIndex, rec.nClusterNO, nullptr);
}

void ProfessionalFatTree::NeedDirsAbove(uint32_t dir, const __VIRTUAL_DBR_INFO__* d, uint64_t sector,
                                        const FatTreeTarget& to, FatTreeDisk& disk) {
    uint32_t p = dir;
    __VIRTUAL_DBR_INFO__ g = HasGeometry(d) ? *d : NoDbr();
    uint64_t t = sector;
    std::set<uint32_t> visited;
    while (p > to.rootCluster && visited.size() < kMaxDirDepth) {
        if (!visited.insert(p).second) return;
        m_Needed.emplace(p, __PRO_NEED_ADD_DIR_INFO__{g, t});
        auto known = m_Dirs.find(p);
        if (known != m_Dirs.end()) {
            uint32_t parent = known->second.node.nFileIndex;
            if (parent == p) return;
            t = known->second.node.u64RecordSector;
            g = known->second.dbr;
            p = parent;
            continue;
        }
        uint32_t parent = 0;
        if (!HasGeometry(&g) || disk.ParentOf(g, p, parent) != 0 || parent == p) return;
        p = parent;
    }
}

void ProfessionalFatTree::PlaceHeldFiles(const std::vector<__VIRTUAL_DBR_INFO__>& dbrs, const FatTreeTarget& to,
                                         FatTreeDisk& disk) {
    if (m_Held.empty() || dbrs.empty()) return;
    for (const auto& d : dbrs) {
        for (auto& held : m_Held) {
            if (held.bDealt) continue;
            if (VirtualDbrClusterSector(d, held.node.nFileIndex) != held.node.u64RecordSector) continue;
            StoreFile(held.node, held.node.nFileIndex, d, to, disk);
            held.bDealt = 1;
        }
    }
    // Placed records are done with; keeping them would make every later update rescan them.
    std::vector<__NO_DBR_FILE_NODE__> rest;
    for (const auto& held : m_Held)
        if (!held.bDealt) rest.push_back(held);
    m_Held.swap(rest);
}

void ProfessionalFatTree::Build(const std::vector<__VIRTUAL_DBR_INFO__>& dbrs, bool hasRealDbr,
                                const FatTreeTarget& to, FatTreeDisk& disk) {
    if (to.store) {
        for (const auto& need : m_Needed) {
            const uint32_t p = need.first;
            auto known = m_Dirs.find(p);
            if (known != m_Dirs.end()) {
                const __PRO_DIR_INFO__& info = known->second;
                uint32_t parent = info.node.nFileIndex;
                __VIRTUAL_DBR_INFO__ g = info.dbr;
                if (!HasGeometry(&g)) {
                    const __VIRTUAL_DBR_INFO__* near =
                        At(dbrs, FindNearestVirtualDbr(dbrs, info.node.u64RecordSector, parent));
                    if (near) g = *near;
                }
                unsigned char* mem = to.store->CreateFileNode(sizeof(_FILE_NODE_));
                if (!mem) continue;
                _FILE_NODE_ rec = info.node;
                rec.bIsHealth = 1;
                rec.nFileIndex = to.store->GetFileIndex();
                if (HasGeometry(&g) && !HasGeometry(&info.dbr)) {
                    rec.nClusterBytes = to.bytesPerSector * g.nSectorsPerCluster;
                    rec.u64DataStartSector = g.nDataStartSector;
                    rec.u64PartitionStartSector = g.u64VolumeStartSector;
                }
                std::memcpy(mem, &rec, sizeof rec);
                // A folder whose place no geometry explains is kept, but cannot be put in the tree.
                if (HasGeometry(&g) && parent != p)
                    to.store->AddChildren(parent, disk.DepthOf(g, parent), rec.nFileIndex, rec.nClusterNO,
                                          rec.szFileName);
                continue;
            }

            __VIRTUAL_DBR_INFO__ g = need.second.dbr;
            if (!HasGeometry(&g)) {
                const __VIRTUAL_DBR_INFO__* near = At(dbrs, FindNearestVirtualDbr(dbrs, need.second.u64SectorNO, p));
                if (!near) continue;
                g = *near;
            }
            uint32_t parent = p;
            // A folder must never be its own parent: unreadable or self-naming ".." entries file it under the root.
            if (disk.ParentOf(g, p, parent) != 0 || parent == p) parent = to.rootCluster;
            unsigned char* mem = to.store->CreateFileNode(sizeof(_FILE_NODE_));
            if (!mem) continue;
            _FILE_NODE_ rec;
            std::memset(&rec, 0, sizeof rec);
            rec.nDriveLetter = to.driveLetter;
            rec.nFileSystemType = to.fileSystemType;
            rec.bIsDir = 1;
            rec.bIsHealth = 1;
            rec.nClusterNO = p;
            rec.nClusterBytes = 0xFFFFFFFFu;
            rec.nFileIndex = to.store->GetFileIndex();
            std::snprintf(rec.szFileName, sizeof rec.szFileName, "LostFolder%u", p);
            std::memcpy(mem, &rec, sizeof rec);
            to.store->AddChildren(parent, disk.DepthOf(g, parent), rec.nFileIndex, p, rec.szFileName);
        }
    }
    m_Needed.clear();
    m_Dirs.clear();
    PlaceHeldFiles(dbrs, to, disk);
    for (auto& held : m_Held) {
        if (held.bDealt) continue;
        const __VIRTUAL_DBR_INFO__* best = At(dbrs, FindBestVirtualDbr(dbrs, held.node.u64RecordSector, hasRealDbr));
        if (!best) continue;
        __VIRTUAL_DBR_INFO__ d = *best;
        StoreFile(held.node, held.node.nFileIndex, d, to, disk);
        held.bDealt = 1;
    }
    m_Held.clear();
}
