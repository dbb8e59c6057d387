// Deep FAT engine: the entries of one directory buffer, and what the disk must
// tell about them (a folder's parent and depth, the high word of a deleted
// entry's cluster). Records go to the folder tree.
#include "fat/CProfessionalFatRecovery.h"
#include "fat/ProfessionalFatNames.h"

#include "platform/Log.h"
#include "platform/PathHelpers.h"

#include <cstdio>
#include <cstring>

namespace {
constexpr unsigned kProbeHighWords = 257;

const FAT32_Entry* EntryAt(const unsigned char* buf, size_t off) { return reinterpret_cast<const FAT32_Entry*>(buf + off); }

bool IsLabel(const FAT32_Entry* e) { return e->DIR_Attr != FAT_ATTR_LONG_NAME && (e->DIR_Attr & FAT_ATTR_VOLUME_ID); }

// A directory's first sector: "." (followed by a blank) and ".." entries.
bool BeginsWithDots(const unsigned char* p) { return p[0] == '.' && p[1] == ' ' && p[32] == '.' && p[33] == '.'; }

__VIRTUAL_DBR_INFO__ NoDbr() { return __VIRTUAL_DBR_INFO__{0, 0, 0}; }

// Bound of every walk up a chain of ".." entries; the visited sets already stop
// loops, this stops absurdly deep chains of distinct clusters.
constexpr unsigned kMaxDirDepth = 1024;
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
            m_Tree.AddDir(sub, info);
            continue;
        }

        uint32_t first = FatEntryCluster(e);
        if (d && deleted && e->DIR_FstClusHI == 0) {
            uint16_t high = 0;
            GetFileRealHighClusterNO(e->DIR_FstClusLO, high, name, d);
            first = (uint32_t(high) << 16) | e->DIR_FstClusLO;
        }
        node.nClusterNO = first;
        node.nReserved = deleted ? 1 : 0; // a long name hides the deleted mark
        node.u64FileSize = e->DIR_FileSize;
        node.u64RecordSector = s;
        if (d) {
            node.bIsHealth = 1;
            m_Tree.StoreFile(node, dir, *d, TreeTarget(), *this);
        } else {
            m_Tree.HoldFile(node, dir);
        }
        m_Tree.NeedDirsAbove(dir, d, s, TreeTarget(), *this);
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
