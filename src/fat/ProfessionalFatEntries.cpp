// Deep FAT engine: the entries of one directory buffer, held records, the
// final folder tree and the store queries.
#include "fat/CProfessionalFatRecovery.h"
#include "fat/ProfessionalFatNames.h"

#include "platform/Log.h"
#include "platform/PathHelpers.h"

#include <cstdio>
#include <cstring>

namespace {
// Bound of every walk up a chain of ".." entries; the visited sets already stop
// loops, this stops absurdly deep chains of distinct clusters.
constexpr unsigned kMaxDirDepth = 1024;
constexpr unsigned kProbeHighWords = 257;

const FAT32_Entry* EntryAt(const unsigned char* buf, size_t off) { return reinterpret_cast<const FAT32_Entry*>(buf + off); }

bool IsLabel(const FAT32_Entry* e) { return e->DIR_Attr != FAT_ATTR_LONG_NAME && (e->DIR_Attr & FAT_ATTR_VOLUME_ID); }

// A directory's first sector: "." (followed by a blank) and ".." entries.
bool BeginsWithDots(const unsigned char* p) { return p[0] == '.' && p[1] == ' ' && p[32] == '.' && p[33] == '.'; }

__VIRTUAL_DBR_INFO__ NoDbr() { return __VIRTUAL_DBR_INFO__{0, 0, 0}; }
} // namespace

unsigned CProfessionalFatRecovery::ReadSectors(unsigned char* buf, unsigned count, uint64_t sector) {
    std::memset(buf, 0, size_t(count) * m_nBytesPerSector);
    if (sector >= AreaEnd() || count == 0) return 0;
    uint64_t avail = AreaEnd() - sector;
    unsigned want = avail < count ? static_cast<unsigned>(avail) : count;
    unsigned got = 0;
    m_DiskReader.ReadData(buf, int(want), static_cast<long long>(sector), int(m_nBytesPerSector), &got);
    return got;
}

void CProfessionalFatRecovery::GetParentClusterNO(const unsigned char* buf, int len, uint64_t& sector,
                                                  const __VIRTUAL_DBR_INFO__* d, uint32_t& cluster) {
    if (len < int(FAT_ENTRY_BYTES)) return;
    const FAT32_Entry* first = EntryAt(buf, 0);
    if (IsLabel(first)) {
        cluster = m_nRootClusterNO;
        if (HasGeometry(d)) {
            uint64_t s = VirtualDbrClusterSector(*d, m_nRootClusterNO);
            if (s != UINT64_MAX) sector = s;
        }
        return;
    }
    if (len >= int(2 * FAT_ENTRY_BYTES) && buf[0] == '.' && buf[32] == '.' && buf[33] == '.') {
        cluster = FatEntryCluster(first);
        return;
    }
    if (!HasGeometry(d)) return;

    unsigned char probe[512];
    uint64_t own = VirtualDbrClusterSector(*d, cluster);
    if (own == UINT64_MAX || ReadSectors(probe, 1, own) == 0 || BeginsWithDots(probe)) return;

    // The buffer is not the start of the cluster believed: a subdirectory listed
    // in it names, in its ".." entry, the directory the buffer really belongs to.
    ProfessionalFatLongName ln;
    for (size_t off = 0; off + FAT_ENTRY_BYTES <= size_t(len); off += FAT_ENTRY_BYTES) {
        const FAT32_Entry* e = EntryAt(buf, off);
        if (e->DIR_Name[0] == 0) return;
        if (!IsFatEntyValid(e, size_t(len) - off)) {
            ln.Reset();
            continue;
        }
        if (e->DIR_Attr == FAT_ATTR_LONG_NAME) {
            if (!ln.AddPiece(reinterpret_cast<const FAT_LONG_NAME_ENTRY*>(e))) return;
            continue;
        }
        ln.Reset();
        if (!(e->DIR_Attr & FAT_ATTR_DIRECTORY) || e->DIR_Name[0] == '.') continue;
        uint32_t sub = FatEntryCluster(e);
        if (e->DIR_Name[0] == FAT_DELETED_MARK && e->DIR_FstClusHI == 0) {
            uint16_t high = 0;
            GetDirRealHighClusterNO(e->DIR_FstClusLO, high, d);
            sub = (uint32_t(high) << 16) | e->DIR_FstClusLO;
        }
        if (sub < 2) continue;
        uint64_t subSector = VirtualDbrClusterSector(*d, sub);
        if (subSector >= AreaEnd() || ReadSectors(probe, 1, subSector) == 0 || !BeginsWithDots(probe)) continue;
        uint32_t parent = RootClusterOf(FatEntryCluster(EntryAt(probe, 32)));
        cluster = parent;
        uint64_t ps = VirtualDbrClusterSector(*d, parent);
        if (ps != UINT64_MAX) sector = ps;
        return;
    }
}

int CProfessionalFatRecovery::GetParentClusterNO(const __VIRTUAL_DBR_INFO__* d, uint32_t cluster, uint32_t& parent) {
    if (!HasGeometry(d) || cluster == 0) return 87;
    uint64_t s = VirtualDbrClusterSector(*d, cluster);
    if (s == UINT64_MAX || s >= AreaEnd()) return 87;
    unsigned char buf[4096];
    if (ReadSectors(buf, 8, s) == 0) return 30;
    const FAT32_Entry* first = EntryAt(buf, 0);
    uint32_t dotdot = FatEntryCluster(EntryAt(buf, 32));
    if (IsLabel(first) || !(buf[0] == '.' && buf[32] == '.' && buf[33] == '.') || dotdot == 0)
        parent = m_nRootClusterNO;
    else
        parent = dotdot;
    return 0;
}

int CProfessionalFatRecovery::GetRootParentDirIndex(const __VIRTUAL_DBR_INFO__* d, uint32_t cluster, unsigned& depth,
                                                    std::set<uint32_t>& visited) {
    unsigned char buf[4096];
    for (unsigned steps = 0; steps < kMaxDirDepth; ++steps) {
        if (!HasGeometry(d) || cluster == 0) return 0;
        visited.insert(cluster);
        uint64_t s = VirtualDbrClusterSector(*d, cluster);
        if (s == UINT64_MAX || s >= AreaEnd()) return 87;
        if (ReadSectors(buf, 8, s) == 0) return 30;
        if (IsLabel(EntryAt(buf, 0)) || cluster == m_nRootClusterNO) return 0;
        ++depth;
        if (!(buf[0] == '.' && buf[32] == '.' && buf[33] == '.')) return 0;
        uint32_t parent = FatEntryCluster(EntryAt(buf, 32));
        if (parent == 0 || visited.count(parent)) return 0;
        cluster = parent;
    }
    return 0;
}

unsigned CProfessionalFatRecovery::DepthOf(const __VIRTUAL_DBR_INFO__* d, uint32_t cluster) {
    if (!HasGeometry(d)) return 0;
    auto key = std::make_tuple(d->u64VolumeStartSector, d->nDataStartSector, d->nSectorsPerCluster, cluster);
    auto it = m_DepthCache.find(key);
    if (it != m_DepthCache.end()) return it->second;
    unsigned depth = 0;
    std::set<uint32_t> visited;
    GetRootParentDirIndex(d, cluster, depth, visited);
    m_DepthCache[key] = depth;
    return depth;
}

int CProfessionalFatRecovery::GetDirRealHighClusterNO(uint16_t low, uint16_t& high, const __VIRTUAL_DBR_INFO__* d,
                                                      uint32_t parent) {
    high = 0;
    if (!HasGeometry(d)) return 0;
    unsigned char sector[512];
    bool haveFirst = false;
    uint16_t first = 0;
    for (uint32_t h = 0; h < kProbeHighWords; ++h) {
        uint32_t c = (h << 16) | low;
        if (c < 2) continue;
        uint64_t s = VirtualDbrClusterSector(*d, c);
        if (s >= AreaEnd() || ReadSectors(sector, 1, s) == 0) break;
        if (!BeginsWithDots(sector)) continue;
        if (parent == kUnknownParent) {
            high = static_cast<uint16_t>(h);
            return 0;
        }
        // Any folder whose number shares the low word begins with dot entries;
        // the lost one is the folder whose ".." names the folder that listed it.
        if (RootClusterOf(FatEntryCluster(EntryAt(sector, 32))) == parent) {
            high = static_cast<uint16_t>(h);
            return 0;
        }
        if (!haveFirst) {
            haveFirst = true;
            first = static_cast<uint16_t>(h);
        }
    }
    if (haveFirst) high = first;
    return 0;
}

int CProfessionalFatRecovery::GetFileRealHighClusterNO(uint16_t low, uint16_t& high, const char* name,
                                                       const __VIRTUAL_DBR_INFO__* d) {
    high = 0;
    char ext[256];
    if (!HasGeometry(d) || !name || std::strlen(name) >= sizeof ext || GetExtendName(name, ext) != 0) return 0;
    unsigned char sector[512];
    for (uint32_t h = 0; h < kProbeHighWords; ++h) {
        uint32_t c = (h << 16) | low;
        if (c < 2) continue;
        uint64_t s = VirtualDbrClusterSector(*d, c);
        if (s >= AreaEnd()) return 0;
        if (ReadSectors(sector, 1, s) == 0) return 0;
        if (SectorMatchesExtension(sector, ext, s)) {
            high = static_cast<uint16_t>(h);
            return 0;
        }
    }
    return 0;
}

void CProfessionalFatRecovery::StoreFileRecord(const _FILE_NODE_& node, uint32_t dirCluster, const __VIRTUAL_DBR_INFO__& d) {
    if (!m_pScanResult) return;
    unsigned depth = DepthOf(&d, dirCluster);
    unsigned char* mem = m_pScanResult->CreateFileNode(sizeof(_FILE_NODE_));
    if (!mem) return;
    _FILE_NODE_ rec = node;
    rec.nClusterBytes = m_nBytesPerSector * d.nSectorsPerCluster;
    rec.u64DataStartSector = d.nDataStartSector;
    rec.u64PartitionStartSector = d.u64VolumeStartSector;
    rec.nFileIndex = m_pScanResult->GetFileIndex();
    rec.bIsHealth = static_cast<uint32_t>(IsFileDataHealth(&rec, d.nSectorsPerCluster));
    std::memcpy(mem, &rec, sizeof rec);
    m_pScanResult->AddChildren(dirCluster, depth, rec.nFileIndex, rec.nClusterNO, nullptr);
}

void CProfessionalFatRecovery::RegisterDirsAbove(uint32_t dir, const __VIRTUAL_DBR_INFO__* d, uint64_t sector) {
    uint32_t p = dir;
    __VIRTUAL_DBR_INFO__ g = HasGeometry(d) ? *d : NoDbr();
    uint64_t t = sector;
    std::set<uint32_t> visited;
    while (p > m_nRootClusterNO && visited.size() < kMaxDirDepth) {
        if (!visited.insert(p).second) return;
        m_ProNeedAddDirMap.emplace(p, __PRO_NEED_ADD_DIR_INFO__{g, t});
        auto known = m_ProDirInfoMap.find(p);
        if (known != m_ProDirInfoMap.end()) {
            uint32_t parent = known->second.node.nFileIndex;
            if (parent == p) return;
            t = known->second.node.u64RecordSector;
            g = known->second.dbr;
            p = parent;
            continue;
        }
        uint32_t parent = 0;
        if (GetParentClusterNO(&g, p, parent) != 0 || parent == p) return;
        p = parent;
    }
}

void CProfessionalFatRecovery::DealProfessionalFatFileEntry(const unsigned char* buf, int len, uint64_t sector,
                                                            uint32_t cluster, __LONG_FILE_INFO__* pending,
                                                            const __VIRTUAL_DBR_INFO__* d) {
    if (!buf || len < int(FAT_ENTRY_BYTES)) return;
    if (!HasGeometry(d)) d = nullptr;
    uint32_t dir = cluster;
    uint64_t s = sector;
    GetParentClusterNO(buf, len, s, d, dir);
    if (dir == 0) dir = m_nRootClusterNO;

    ProfessionalFatLongName ln;
    size_t runStart = 0;
    uint8_t runCheckSum = 0;
    size_t off = 0;
    bool runCut = false;
    for (; off + FAT_ENTRY_BYTES <= size_t(len); off += FAT_ENTRY_BYTES) {
        const FAT32_Entry* e = EntryAt(buf, off);
        if (e->DIR_Name[0] == 0) return;
        if (!IsFatEntyValid(e, size_t(len) - off)) {
            ln.Reset();
            continue;
        }
        if (e->DIR_Attr == FAT_ATTR_LONG_NAME) {
            const auto* piece = reinterpret_cast<const FAT_LONG_NAME_ENTRY*>(e);
            if (ln.Empty()) {
                runStart = off;
                runCheckSum = piece->LDIR_Chksum;
            }
            if (!ln.AddPiece(piece)) {
                runCut = true;
                break;
            }
            continue;
        }

        const bool isDir = (e->DIR_Attr & FAT_ATTR_DIRECTORY) != 0;
        const bool deleted = e->DIR_Name[0] == FAT_DELETED_MARK;
        if (!isDir && !(e->DIR_Attr & FAT_ATTR_ARCHIVE)) {
            ln.Reset();
            continue;
        }
        char name[256];
        // A live entry whose checksum disagrees with the collected run is not that run's owner.
        if (!ln.Empty() && (deleted || GetShortNameCheckSum(reinterpret_cast<const char*>(e->DIR_Name)) == ln.CheckSum()))
            ln.ToAnsi(name, sizeof name);
        else
            FatShortEntryName(e, isDir, name, sizeof name);
        ln.Reset();
        if (!name[0]) continue;

        _FILE_NODE_ node;
        std::memset(&node, 0, sizeof node);
        node.nDriveLetter = m_nDriveLetter;
        node.nFileSystemType = m_nFileSystemType;
        _FILETIME ft;
        Fat32GetFileCreateTime(e, &ft);
        node.u64CreateTime = FileTimeToU64(ft);
        Fat32GetFileLastAccessTime(e, &ft);
        node.u64AccessTime = FileTimeToU64(ft);
        Fat32GetFileLastChangeTime(e, &ft);
        node.u64ModifyTime = FileTimeToU64(ft);
        std::memcpy(node.szFileName, name, sizeof node.szFileName);
        node.szFileName[sizeof node.szFileName - 1] = 0;

        if (isDir) {
            if (std::strcmp(name, ".") == 0) {
                dir = FatEntryCluster(e) ? FatEntryCluster(e) : m_nRootClusterNO;
                m_nDotClusterNO = dir;
                m_u64DotSector = sector + off / m_nBytesPerSector;
                continue;
            }
            if (std::strcmp(name, "..") == 0) continue;
            uint32_t sub = FatEntryCluster(e);
            if (d && deleted && e->DIR_FstClusHI == 0) {
                uint16_t high = 0;
                GetDirRealHighClusterNO(e->DIR_FstClusLO, high, d, dir);
                sub = (uint32_t(high) << 16) | e->DIR_FstClusLO;
            }
            if (sub == 0 || sub == dir) continue;
            __PRO_DIR_INFO__ info;
            info.node = node;
            info.node.bIsDir = 1;
            info.node.bIsHealth = 1;
            info.node.nFileIndex = dir;
            info.node.nClusterNO = sub;
            info.node.u64RecordSector = s;
            info.dbr = d ? *d : NoDbr();
            if (d) {
                info.node.nClusterBytes = m_nBytesPerSector * d->nSectorsPerCluster;
                info.node.u64DataStartSector = d->nDataStartSector;
                info.node.u64PartitionStartSector = d->u64VolumeStartSector;
            }
            m_ProDirInfoMap[sub] = info;
            continue;
        }

        uint32_t first = FatEntryCluster(e);
        if (d && deleted && e->DIR_FstClusHI == 0) {
            uint16_t high = 0;
            GetFileRealHighClusterNO(e->DIR_FstClusLO, high, name, d);
            first = (uint32_t(high) << 16) | e->DIR_FstClusLO;
        }
        node.nClusterNO = first;
        node.u64FileSize = e->DIR_FileSize;
        node.u64RecordSector = s;
        if (d) {
            node.bIsHealth = 1;
            StoreFileRecord(node, dir, *d);
        } else {
            __NO_DBR_FILE_NODE__ held;
            held.bDealt = 0;
            held.node = node;
            held.node.bIsHealth = 1;
            held.node.nFileIndex = dir;
            m_NoDbrFileVec.push_back(held);
        }
        RegisterDirsAbove(dir, d, s);
    }
    if ((off + FAT_ENTRY_BYTES > size_t(len) || runCut) && !ln.Empty() && pending) {
        size_t saved = size_t(len) - runStart;
        // A run longer than one sector cannot be carried; its name is lost, nothing else is.
        if (saved == 0 || saved > sizeof pending->szBuf) return;
        std::memset(pending, 0, sizeof *pending);
        pending->nCheckSum = runCheckSum;
        if (d) {
            pending->nSectorsPerCluster = d->nSectorsPerCluster;
            pending->nVolumeStartSector = static_cast<uint32_t>(d->u64VolumeStartSector);
            pending->nVolumeStartSectorHigh = static_cast<uint32_t>(d->u64VolumeStartSector >> 32);
            pending->nDataStartSector = d->nDataStartSector;
        }
        pending->nDirClusterNO = dir;
        pending->nSavedBytes = static_cast<uint32_t>(saved);
        pending->u64SectorNO = sector;
        std::memcpy(pending->szBuf, buf + runStart, saved);
    }
}

void CProfessionalFatRecovery::UpdateNoDbrFileVec() {
    if (m_NoDbrFileVec.empty() || m_VirtualDbrVec.empty()) return;
    const std::vector<__VIRTUAL_DBR_INFO__> dbrs = m_VirtualDbrVec;
    for (const auto& d : dbrs) {
        for (auto& held : m_NoDbrFileVec) {
            if (held.bDealt) continue;
            if (VirtualDbrClusterSector(d, held.node.nFileIndex) != held.node.u64RecordSector) continue;
            StoreFileRecord(held.node, held.node.nFileIndex, d);
            held.bDealt = 1;
        }
    }
    // Placed records are done with; keeping them would make every later update rescan them.
    std::vector<__NO_DBR_FILE_NODE__> rest;
    for (const auto& held : m_NoDbrFileVec)
        if (!held.bDealt) rest.push_back(held);
    m_NoDbrFileVec.swap(rest);
}

int CProfessionalFatRecovery::DealProfessionalRecordVec() {
    ParseUnDealFileMap();
    if (m_pScanResult) {
        for (const auto& need : m_ProNeedAddDirMap) {
            const uint32_t p = need.first;
            auto known = m_ProDirInfoMap.find(p);
            if (known != m_ProDirInfoMap.end()) {
                const __PRO_DIR_INFO__& info = known->second;
                uint32_t parent = info.node.nFileIndex;
                __VIRTUAL_DBR_INFO__ g = info.dbr;
                if (!HasGeometry(&g)) {
                    const __VIRTUAL_DBR_INFO__* near = GetNearestVirtualDbrInfo(info.node.u64RecordSector, parent);
                    if (near) g = *near;
                }
                unsigned char* mem = m_pScanResult->CreateFileNode(sizeof(_FILE_NODE_));
                if (!mem) continue;
                _FILE_NODE_ rec = info.node;
                rec.bIsHealth = 1;
                rec.nFileIndex = m_pScanResult->GetFileIndex();
                if (HasGeometry(&g) && !HasGeometry(&info.dbr)) {
                    rec.nClusterBytes = m_nBytesPerSector * g.nSectorsPerCluster;
                    rec.u64DataStartSector = g.nDataStartSector;
                    rec.u64PartitionStartSector = g.u64VolumeStartSector;
                }
                std::memcpy(mem, &rec, sizeof rec);
                // A folder whose place no geometry explains is kept, but cannot be put in the tree.
                if (HasGeometry(&g) && parent != p)
                    m_pScanResult->AddChildren(parent, DepthOf(&g, parent), rec.nFileIndex, rec.nClusterNO, rec.szFileName);
                continue;
            }

            __VIRTUAL_DBR_INFO__ g = need.second.dbr;
            if (!HasGeometry(&g)) {
                const __VIRTUAL_DBR_INFO__* near = GetNearestVirtualDbrInfo(need.second.u64SectorNO, p);
                if (!near) continue;
                g = *near;
            }
            uint32_t parent = p;
            // A folder must never be its own parent: unreadable or self-naming ".." entries file it under the root.
            if (GetParentClusterNO(&g, p, parent) != 0 || parent == p) parent = m_nRootClusterNO;
            unsigned char* mem = m_pScanResult->CreateFileNode(sizeof(_FILE_NODE_));
            if (!mem) continue;
            _FILE_NODE_ rec;
            std::memset(&rec, 0, sizeof rec);
            rec.nDriveLetter = m_nDriveLetter;
            rec.nFileSystemType = m_nFileSystemType;
            rec.bIsDir = 1;
            rec.bIsHealth = 1;
            rec.nClusterNO = p;
            rec.nClusterBytes = 0xFFFFFFFFu;
            rec.nFileIndex = m_pScanResult->GetFileIndex();
            std::snprintf(rec.szFileName, sizeof rec.szFileName, "LostFolder%u", p);
            std::memcpy(mem, &rec, sizeof rec);
            m_pScanResult->AddChildren(parent, DepthOf(&g, parent), rec.nFileIndex, p, rec.szFileName);
        }
    }
    m_ProNeedAddDirMap.clear();
    m_ProDirInfoMap.clear();
    UpdateNoDbrFileVec();
    for (auto& held : m_NoDbrFileVec) {
        if (held.bDealt) continue;
        const __VIRTUAL_DBR_INFO__* best = GetBestVirtalDbr(held.node.u64RecordSector);
        if (!best) continue;
        __VIRTUAL_DBR_INFO__ d = *best;
        StoreFileRecord(held.node, held.node.nFileIndex, d);
        held.bDealt = 1;
    }
    m_NoDbrFileVec.clear();
    if (m_pScanResult) m_pScanResult->FlushBufToFile();
    return 0;
}

int CProfessionalFatRecovery::GetChildrenFileNode(_FILE_NODE_* parent, unsigned group, std::vector<_FILE_NODE_>& out) {
    if (!parent && group != 0) return 87;
    if (!m_pScanResult) return 0;
    m_pScanResult->FlushBufToFile();
    uint64_t key = parent ? (uint64_t(group) << 32 | parent->nClusterNO) : 0;
    return m_pScanResult->GetChildrenFileNode(key, out);
}

int CProfessionalFatRecovery::GetChildrenFileCount(_FILE_NODE_* parent, unsigned group, unsigned& count) {
    if (!parent && group != 0) return 87;
    if (!m_pScanResult) return 0;
    m_pScanResult->FlushBufToFile();
    uint64_t key = parent ? (uint64_t(group) << 32 | parent->nClusterNO) : 0;
    return m_pScanResult->GetChildrenFileCount(key, count);
}

int CProfessionalFatRecovery::GetLostFileCount() {
    return m_pScanResult ? static_cast<int>(m_pScanResult->GetFileIndex()) : 0;
}

int CProfessionalFatRecovery::GetFileNodeParentDirPath(_FILE_NODE_* node, wchar_t* path, int size) {
    if (!m_pScanResult) return 87;
    m_pScanResult->FlushBufToFile();
    return m_pScanResult->GetParentDirPath(node, path, size);
}

int CProfessionalFatRecovery::SearchFileNode(wchar_t* key, std::vector<__SEARCH_FILE_INFO__>& out) {
    if (!m_pScanResult) return 0;
    return m_pScanResult->SearchFileNodeInfo(key, out);
}
