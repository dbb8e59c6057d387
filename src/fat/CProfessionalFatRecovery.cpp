#include "fat/CProfessionalFatRecovery.h"

#include "disk/VolumeRecognizers.h"
#include "platform/DeviceMap.h"
#include "platform/Log.h"
#include "platform/Portability.h"
#include "platform/TextCodec.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Anchors kept for pairing; each new one is compared with all earlier ones, so
// a disk full of stray "." sectors must not make the intake quadratic without end.
constexpr size_t kMaxAnchors = 8192;
// A long-name run continues at most one cluster (128 sectors) after the buffer it opened in.
constexpr uint64_t kMaxContinuationDistance = 128;
// Joined continuations of one buffer; each consumes a held sector, this only bounds a pathological chain.
constexpr int kMaxJoins = 64;

const FAT32_Entry* EntryAt(const unsigned char* buf, size_t off) { return reinterpret_cast<const FAT32_Entry*>(buf + off); }

bool SameDbr(const __VIRTUAL_DBR_INFO__& a, const __VIRTUAL_DBR_INFO__& b) {
    return a.nSectorsPerCluster == b.nSectorsPerCluster && a.nDataStartSector == b.nDataStartSector &&
           a.u64VolumeStartSector == b.u64VolumeStartSector;
}
} // namespace

CProfessionalFatRecovery::CProfessionalFatRecovery()
    : m_hDevice(-1), m_nDiskNo(0), m_u64StartSector(0), m_u64SectorCount(0), m_nDriveLetter(0), m_nDotClusterNO(0),
      m_u64DotSector(0), m_pScanResult(nullptr), m_nPercent(0), m_pScanCallBack(nullptr), m_pRecoveryCallBack(nullptr),
      m_pParam(nullptr), m_pSearchCallBack(nullptr), m_pSearchParam(nullptr), m_nFileSystemType(FS_TYPE_PRO_FAT),
      m_bHasRealDbr(0), m_nRootClusterNO(2), m_nBytesPerSector(512) {}

CProfessionalFatRecovery::~CProfessionalFatRecovery() {
    delete m_pScanResult;
    if (m_hDevice >= 0) ::close(m_hDevice);
}

int CProfessionalFatRecovery::Init(int diskNo, long long startSector, long long sectorCount, wchar_t driveLetter) {
    if (m_hDevice >= 0) return 0;
    if (startSector < 0 || sectorCount < 0) return 87;
    int h = ::open(GetDiskDevicePath(diskNo).c_str(), O_RDONLY | O_CLOEXEC);
    if (h < 0) return errno;
    m_hDevice = h;
    m_nDiskNo = static_cast<uint32_t>(diskNo);
    m_u64StartSector = static_cast<uint64_t>(startSector);
    m_u64SectorCount = static_cast<uint64_t>(sectorCount);
    m_nDriveLetter = static_cast<uint32_t>(driveLetter);
    m_bHasRealDbr = 0;
    m_LastUnDealDbr = __LAST_PLACED_DBR__();
    m_LastFdtDbr = __LAST_PLACED_DBR__();
    return m_DiskReader.Init(diskNo, m_u64StartSector + m_u64SectorCount);
}

int CProfessionalFatRecovery::Init(wchar_t* devicePath, wchar_t driveLetter) {
    if (m_hDevice >= 0) return 0;
    if (!devicePath) return 87;
    std::string path = WideToUtf8(devicePath);
    int h = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (h < 0) return errno;
    struct stat st;
    if (::fstat(h, &st) != 0) {
        int e = errno;
        ::close(h);
        return e;
    }
    m_hDevice = h;
    m_u64StartSector = 0;
    m_u64SectorCount = static_cast<uint64_t>(st.st_size) / m_nBytesPerSector;
    m_nDriveLetter = static_cast<uint32_t>(driveLetter);
    m_bHasRealDbr = 0;
    m_LastUnDealDbr = __LAST_PLACED_DBR__();
    m_LastFdtDbr = __LAST_PLACED_DBR__();
    return m_DiskReader.Init(devicePath, m_u64SectorCount);
}

int CProfessionalFatRecovery::InitCallBack(ScanCallBack scanCb, RecoveryCallBack recoveryCb, void* pParam, int nPercent) {
    m_pScanCallBack = scanCb;
    m_pRecoveryCallBack = recoveryCb;
    m_pParam = pParam;
    m_nPercent = nPercent;
    return 0;
}

int CProfessionalFatRecovery::InitSearchCallBack(SearchCallBack cb, void* pParam) {
    m_pSearchCallBack = cb;
    m_pSearchParam = pParam;
    if (!m_pScanResult) return 87;
    m_pScanResult->InitSearchCallBack(cb, pParam);
    return 0;
}

int CProfessionalFatRecovery::ClearProfessionalVec(wchar_t* resultName) {
    m_VirtualDbrVec.clear();
    m_FatSectorOffsetVec.clear();
    m_Tree.Clear();
    m_LongFileInfoVec.clear();
    m_UnDealFileMap.clear();
    m_DepthCache.clear();
    m_LastUnDealDbr = __LAST_PLACED_DBR__();
    m_LastFdtDbr = __LAST_PLACED_DBR__();
    m_bHasRealDbr = 0;
    m_nRootClusterNO = 2;

    delete m_pScanResult;
    m_pScanResult = new CScanResultFileManager();
    if (m_pSearchCallBack) m_pScanResult->InitSearchCallBack(m_pSearchCallBack, m_pSearchParam);
    if (resultName && resultName[0]) return m_pScanResult->Init(resultName);

    SYSTEMTIME t{};
    rsb_getLocalTime(&t);
    char name[128];
    std::snprintf(name, sizeof name, "Pro_Fat_%lld_%d%d%d%d%2d", static_cast<long long>(m_u64StartSector), t.wYear,
                  t.wMonth, t.wDay, t.wHour, t.wMinute);
    std::wstring wide = Ansi2Unicode(name);
    return m_pScanResult->Init(wide.c_str());
}

int CProfessionalFatRecovery::InitVirtualDbrInfo() {
    if (m_hDevice < 0) return 87;
    unsigned char boot[4096];
    ssize_t got = ::pread(m_hDevice, boot, sizeof boot, static_cast<off_t>(m_u64StartSector * m_nBytesPerSector));
    if (got < 0) return errno;
    if (got < 512 || !IsFat(boot)) return 0;

    uint32_t spc = boot[FAT_BPB_SEC_PER_CLUS];
    if (spc == 0 || spc > 128 || (spc & (spc - 1)) != 0) return 0;
    uint32_t rsvd = boot[FAT_BPB_RSVD_SEC_CNT] | (boot[FAT_BPB_RSVD_SEC_CNT + 1] << 8);
    uint32_t fats = boot[FAT_BPB_NUM_FATS];
    uint64_t dataStart;
    uint32_t root;
    if (std::memcmp(boot + FAT_BS_FIL_SYS_TYPE32, "FAT32   ", 8) == 0) {
        uint32_t fatSz;
        std::memcpy(&fatSz, boot + FAT_BPB_FAT_SZ32, 4);
        std::memcpy(&root, boot + FAT_BPB_ROOT_CLUS, 4);
        dataStart = rsvd + uint64_t(fats) * fatSz;
    } else {
        uint32_t fatSz = boot[FAT_BPB_FAT_SZ16] | (boot[FAT_BPB_FAT_SZ16 + 1] << 8);
        dataStart = rsvd + uint64_t(fatSz) * fats + kFatRootFolderSectors;
        root = 0;
    }
    if (dataStart > UINT32_MAX) return 0;
    __VIRTUAL_DBR_INFO__ d{spc, static_cast<uint32_t>(dataStart), m_u64StartSector};
    m_VirtualDbrVec.insert(m_VirtualDbrVec.begin(), d);
    m_nRootClusterNO = root;
    m_bHasRealDbr = 1;
    return 0;
}

int CProfessionalFatRecovery::CalcVirtualDbr(uint32_t c1, uint64_t s1, uint32_t c2, uint64_t s2) {
    __VIRTUAL_DBR_INFO__ d{};
    if (!CalcVirtualDbrFromAnchors(c1, s1, c2, s2, m_u64StartSector, &d)) return 0;
    for (const auto& known : m_VirtualDbrVec)
        if (SameDbr(known, d)) return 1;
    m_VirtualDbrVec.push_back(d);
    OrvaleLog("deep FAT geometry: spc %u data %u volume %llu\n", d.nSectorsPerCluster, d.nDataStartSector,
              static_cast<unsigned long long>(d.u64VolumeStartSector));
    return 1;
}

const __VIRTUAL_DBR_INFO__* CProfessionalFatRecovery::GetVirtualDbrInfo(uint64_t sector, uint32_t cluster) const {
    int i = FindExactVirtualDbr(m_VirtualDbrVec, sector, cluster);
    return i < 0 ? nullptr : &m_VirtualDbrVec[size_t(i)];
}

const __VIRTUAL_DBR_INFO__* CProfessionalFatRecovery::GetNearestVirtualDbrInfo(uint64_t sector, uint32_t cluster) const {
    int i = FindNearestVirtualDbr(m_VirtualDbrVec, sector, cluster);
    return i < 0 ? nullptr : &m_VirtualDbrVec[size_t(i)];
}

const __VIRTUAL_DBR_INFO__* CProfessionalFatRecovery::GetBestVirtalDbr(uint64_t sector) const {
    int i = FindBestVirtualDbr(m_VirtualDbrVec, sector, m_bHasRealDbr != 0);
    return i < 0 ? nullptr : &m_VirtualDbrVec[size_t(i)];
}

int CProfessionalFatRecovery::ParseFatFileRecord(unsigned char* buf, uint64_t sector) {
    if (!buf) return 87;
    uint32_t c = FatEntryCluster(EntryAt(buf, 0));
    const __VIRTUAL_DBR_INFO__* found = GetVirtualDbrInfo(sector, c);
    if (!found) {
        bool known = false;
        for (const auto& a : m_FatSectorOffsetVec) {
            if (a.nClusterNO == c && a.u64SectorNO == sector) known = true;
            else if (CalcVirtualDbr(c, sector, a.nClusterNO, a.u64SectorNO)) break;
        }
        if (!known && m_FatSectorOffsetVec.size() < kMaxAnchors) m_FatSectorOffsetVec.push_back({c, sector});
        found = GetVirtualDbrInfo(sector, c);
    }
    __LONG_FILE_INFO__ pending{};
    if (found) {
        // Copied: the geometry list may grow while this buffer is dealt with.
        __VIRTUAL_DBR_INFO__ d = *found;
        m_Tree.PlaceHeldFiles(m_VirtualDbrVec, TreeTarget(), *this);
        DealProfessionalFatFileEntry(buf, int(m_nBytesPerSector), sector, c, &pending, &d);
        ContinuePendingLongName(pending, sector, c, &d);
    } else {
        DealProfessionalFatFileEntry(buf, int(m_nBytesPerSector), sector, c, &pending, nullptr);
        ContinuePendingLongName(pending, sector, c, nullptr);
    }
    return 0;
}

void CProfessionalFatRecovery::ContinuePendingLongName(__LONG_FILE_INFO__& pending, uint64_t sector, uint32_t cluster,
                                                       const __VIRTUAL_DBR_INFO__* d) {
    for (int joins = 0; pending.nSavedBytes != 0; ++joins) {
        auto hit = m_UnDealFileMap.end();
        if (joins < kMaxJoins) {
            for (auto it = m_UnDealFileMap.upper_bound(pending.u64SectorNO); it != m_UnDealFileMap.end(); ++it) {
                uint64_t t = it->first;
                if (t - pending.u64SectorNO > kMaxContinuationDistance) break;
                if (it->second.bDealt || it->second.buf.size() < FAT_ENTRY_BYTES) continue;
                const FAT32_Entry* e = EntryAt(it->second.buf.data(), 0);
                if (e->DIR_Attr == FAT_ATTR_LONG_NAME) {
                    if (reinterpret_cast<const FAT_LONG_NAME_ENTRY*>(e)->LDIR_Chksum != pending.nCheckSum) continue;
                    if (pending.nSectorsPerCluster) {
                        uint64_t data = (uint64_t(pending.nVolumeStartSectorHigh) << 32 | pending.nVolumeStartSector) +
                                        pending.nDataStartSector;
                        if (t < data || (t - data) / pending.nSectorsPerCluster + 2 != pending.nDirClusterNO) continue;
                    }
                } else if (e->DIR_Name[0] == FAT_DELETED_MARK || e->DIR_Name[0] == 0 ||
                           GetShortNameCheckSum(reinterpret_cast<const char*>(e->DIR_Name)) != pending.nCheckSum) {
                    continue;
                }
                hit = it;
                break;
            }
        }
        if (hit == m_UnDealFileMap.end()) {
            m_LongFileInfoVec.push_back(pending);
            return;
        }
        std::vector<uint8_t> joined(pending.szBuf, pending.szBuf + pending.nSavedBytes);
        joined.insert(joined.end(), hit->second.buf.begin(), hit->second.buf.end());
        hit->second.bDealt = 1;
        std::vector<uint8_t>().swap(hit->second.buf);
        pending = __LONG_FILE_INFO__{};
        DealProfessionalFatFileEntry(joined.data(), int(joined.size()), sector, cluster, &pending, d);
    }
}

bool CProfessionalFatRecovery::GetParentDirCluster(const unsigned char* buf, uint64_t sector, std::vector<uint8_t>& joined,
                                                   uint64_t& outSector, uint32_t& outCluster,
                                                   __VIRTUAL_DBR_INFO__* outDbr) {
    const FAT32_Entry* e = EntryAt(buf, 0);
    for (auto it = m_LongFileInfoVec.begin(); it != m_LongFileInfoVec.end(); ++it) {
        // A continuation lies after the buffer that opened the run, and within one cluster of it.
        if (sector <= it->u64SectorNO || sector - it->u64SectorNO > kMaxContinuationDistance) continue;
        bool continues;
        if (e->DIR_Attr == FAT_ATTR_LONG_NAME)
            continues = reinterpret_cast<const FAT_LONG_NAME_ENTRY*>(e)->LDIR_Chksum == it->nCheckSum;
        else if (e->DIR_Name[0] == FAT_DELETED_MARK)
            continues = sector - it->u64SectorNO < it->nSectorsPerCluster;
        else
            continues = e->DIR_Name[0] != 0 &&
                        GetShortNameCheckSum(reinterpret_cast<const char*>(e->DIR_Name)) == it->nCheckSum;
        if (!continues) continue;
        outSector = it->u64SectorNO;
        outCluster = it->nDirClusterNO;
        // The run's own geometry travels with it, so the joined buffer is filed as precisely as its start was.
        *outDbr = __VIRTUAL_DBR_INFO__{it->nSectorsPerCluster, it->nDataStartSector,
                                       uint64_t(it->nVolumeStartSectorHigh) << 32 | it->nVolumeStartSector};
        joined.assign(it->szBuf, it->szBuf + it->nSavedBytes);
        joined.insert(joined.end(), buf, buf + m_nBytesPerSector);
        m_LongFileInfoVec.erase(it);
        return true;
    }
    return false;
}

int CProfessionalFatRecovery::ParseFDTFileRecord(unsigned char* buf, uint64_t sector) {
    if (!buf) return 87;
    std::vector<uint8_t> joined;
    uint64_t s = 0;
    uint32_t c = 0;
    __VIRTUAL_DBR_INFO__ pendingDbr{};
    if (GetParentDirCluster(buf, sector, joined, s, c, &pendingDbr)) {
        ParseFatFDTRecord(joined.data(), int(joined.size()), s, c, HasGeometry(&pendingDbr) ? &pendingDbr : nullptr);
        return 0;
    }
    if (m_LastFdtDbr.nSectorsPerCluster && sector >= m_LastFdtDbr.u64SectorNO &&
        sector - m_LastFdtDbr.u64SectorNO <= m_LastFdtDbr.nSectorsPerCluster) {
        __VIRTUAL_DBR_INFO__ d{m_LastFdtDbr.nSectorsPerCluster, m_LastFdtDbr.nDataStartSector,
                               m_LastFdtDbr.u64VolumeStartSector};
        ParseFatFDTRecord(buf, int(m_nBytesPerSector), m_LastFdtDbr.u64SectorNO, m_LastFdtDbr.nClusterNO, &d);
        return 0;
    }
    DoParseFileOrAddUndelFileMap(buf, int(m_nBytesPerSector), sector);
    return 0;
}

void CProfessionalFatRecovery::DoParseFileOrAddUndelFileMap(const unsigned char* buf, int len, uint64_t sector) {
    for (const auto& known : m_VirtualDbrVec) {
        uint32_t cluster = 0;
        if (!VirtualDbrClusterAt(known, sector, &cluster)) continue;
        __VIRTUAL_DBR_INFO__ d = known;
        m_LastFdtDbr = {d.nSectorsPerCluster, d.nDataStartSector, cluster, d.u64VolumeStartSector, sector};
        ParseFatFDTRecord(buf, len, sector, cluster, &d);
        return;
    }
    __UNDEAL_FILE__& held = m_UnDealFileMap[sector];
    held.bDealt = 0;
    held.buf.assign(buf, buf + len);
}

void CProfessionalFatRecovery::ParseFatFDTRecord(const unsigned char* buf, int len, uint64_t sector, uint32_t cluster,
                                                 const __VIRTUAL_DBR_INFO__* d) {
    __VIRTUAL_DBR_INFO__ local{};
    if (!d) {
        const __VIRTUAL_DBR_INFO__* found = GetVirtualDbrInfo(sector, cluster);
        if (found) {
            local = *found;
            d = &local;
        }
    }
    __LONG_FILE_INFO__ pending{};
    DealProfessionalFatFileEntry(buf, len, sector, cluster, &pending, d);
    ContinuePendingLongName(pending, sector, cluster, d);
}

void CProfessionalFatRecovery::ParseUnDealFileMap() {
    m_LastUnDealDbr = __LAST_PLACED_DBR__();
    for (auto it = m_UnDealFileMap.begin(); it != m_UnDealFileMap.end(); ++it) {
        if (it->second.bDealt || it->second.buf.size() < m_nBytesPerSector) continue;
        const uint64_t s = it->first;
        // Copied: placing it may join and release other held sectors, never this one.
        std::vector<uint8_t> copy = it->second.buf;

        std::vector<uint8_t> joined;
        uint64_t js = 0;
        uint32_t jc = 0;
        __VIRTUAL_DBR_INFO__ pendingDbr{};
        if (GetParentDirCluster(copy.data(), s, joined, js, jc, &pendingDbr)) {
            ParseFatFDTRecord(joined.data(), int(joined.size()), js, jc, HasGeometry(&pendingDbr) ? &pendingDbr : nullptr);
            continue;
        }
        bool placed = false;
        for (const auto& known : m_VirtualDbrVec) {
            uint32_t cluster = 0;
            if (!VirtualDbrClusterAt(known, s, &cluster)) continue;
            __VIRTUAL_DBR_INFO__ d = known;
            m_LastUnDealDbr = {d.nSectorsPerCluster, d.nDataStartSector, cluster, d.u64VolumeStartSector, s};
            ParseFatFDTRecord(copy.data(), int(m_nBytesPerSector), s, cluster, &d);
            placed = true;
            break;
        }
        if (placed) continue;
        // The last placed cluster only claims sectors that can still lie inside it.
        if (m_LastUnDealDbr.nSectorsPerCluster && s >= m_LastUnDealDbr.u64SectorNO &&
            s - m_LastUnDealDbr.u64SectorNO < m_LastUnDealDbr.nSectorsPerCluster) {
            __VIRTUAL_DBR_INFO__ d{m_LastUnDealDbr.nSectorsPerCluster, m_LastUnDealDbr.nDataStartSector,
                                   m_LastUnDealDbr.u64VolumeStartSector};
            ParseFatFDTRecord(copy.data(), int(m_nBytesPerSector), s, m_LastUnDealDbr.nClusterNO, &d);
            continue;
        }
        const __VIRTUAL_DBR_INFO__* best = GetBestVirtalDbr(s);
        if (!best) continue;
        __VIRTUAL_DBR_INFO__ d = *best;
        uint32_t cluster = 0;
        if (!VirtualDbrClusterContaining(d, s, &cluster)) continue;
        ParseFatFDTRecord(copy.data(), int(m_nBytesPerSector), VirtualDbrClusterSector(d, cluster), cluster, &d);
    }
    m_UnDealFileMap.clear();
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

int CProfessionalFatRecovery::DealProfessionalRecordVec() {
    ParseUnDealFileMap();
    m_Tree.Build(m_VirtualDbrVec, m_bHasRealDbr != 0, TreeTarget(), *this);
    if (m_pScanResult) m_pScanResult->FlushBufToFile();
    return 0;
}

FatTreeTarget CProfessionalFatRecovery::TreeTarget() const {
    FatTreeTarget to;
    to.store = m_pScanResult;
    to.bytesPerSector = m_nBytesPerSector;
    to.rootCluster = m_nRootClusterNO;
    to.driveLetter = m_nDriveLetter;
    to.fileSystemType = m_nFileSystemType;
    return to;
}
