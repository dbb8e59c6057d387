#include "fat/CFastFatRecovery.h"
#include "fat/FatNodeSectors.h"

#include "carving/CFileTypeJudge.h"
#include "engine/CLogFileManager.h"
#include "engine/CScanResultFileManager.h"
#include "platform/DeviceMap.h"
#include "platform/Log.h"
#include "platform/PathHelpers.h"
#include "platform/Portability.h"
#include "platform/TextCodec.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr long kReportIntervalMs = 5000;
constexpr unsigned kHighWordCandidates = 257;
constexpr size_t kFat16RootBytes = kFatRootFolderSectors * 512;
} // namespace

CFastFatRecovery::CFastFatRecovery() { std::memset(m_BootSector, 0, sizeof m_BootSector); }

CFastFatRecovery::~CFastFatRecovery() {
    m_pScanResult.reset();
    if (m_hDevice >= 0) ::close(m_hDevice);
    m_hDevice = -1;
}

int CFastFatRecovery::Init(int diskNo, long long startSector, long long sectorCount, wchar_t driveLetter) {
    if (m_hDevice >= 0) return 0;
    std::string path = GetDiskDevicePath(diskNo);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    m_hDevice = fd;
    m_u64StartSector = uint64_t(startSector);
    m_u64SectorCount = uint64_t(sectorCount);
    m_nDriveLetter = uint32_t(driveLetter);
    if (::lseek(fd, off_t(startSector) * 512, SEEK_SET) == off_t(-1)) return errno;
    unsigned got = 0;
    ReadData(fd, m_BootSector, sizeof m_BootSector, &got);
    if (got < sizeof m_BootSector) return 30;
    int rc = m_DiskReader.Init(diskNo, m_u64StartSector + m_u64SectorCount);
    if (rc != 0) return rc;
    return OpenGeometry();
}

// The path form reads the geometry too: without it a later scan would have nothing to stand on.
int CFastFatRecovery::Init(wchar_t* devicePath, wchar_t driveLetter) {
    if (m_hDevice >= 0) return 0;
    if (!devicePath) return 87;
    char path[256];
    inner_uni2str(path, devicePath, sizeof path, -1);
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    m_hDevice = fd;
    struct stat st;
    if (::fstat(fd, &st) != 0) return errno;
    uint64_t bytes = uint64_t(st.st_size);
    if (S_ISBLK(st.st_mode)) {
        off_t end = ::lseek(fd, 0, SEEK_END);
        if (end > 0) bytes = uint64_t(end);
    }
    m_u64StartSector = 0;
    m_u64SectorCount = bytes / 512;
    m_nDriveLetter = uint32_t(driveLetter);
    if (::lseek(fd, 0, SEEK_SET) == off_t(-1)) return errno;
    unsigned got = 0;
    ReadData(fd, m_BootSector, sizeof m_BootSector, &got);
    if (got < sizeof m_BootSector) return 30;
    int rc = m_DiskReader.Init(devicePath, m_u64SectorCount);
    if (rc != 0) return rc;
    return OpenGeometry();
}

int CFastFatRecovery::OpenGeometry() {
    FAST_FAT_GEOMETRY g;
    if (ParseFastFatGeometry(ByteView(m_BootSector, sizeof m_BootSector), g) != 0) {
        OrvaleLog("CFastFatRecovery: boot sector describes no usable FAT volume\n");
        return 87;
    }
    m_Geometry = g;
    m_bGeometryValid = true;
    m_nBytesPerSector = g.nBytesPerSector;
    m_nSectorsPerCluster = g.nSectorsPerCluster;
    m_nFatType = g.nFatType;
    m_nRootClusterNO = g.nRootClusterNO;
    m_nDataStartSector = g.nDataStartSector;
    m_u64FatStartSector = m_u64StartSector + g.nReservedSectors;
    m_pFatCache.reset(new (std::nothrow) uint8_t[m_nFatCacheSize]);
    if (!m_pFatCache) return 8;
    m_nFatCacheSector = 0;
    m_nFatCacheValid = 0;
    ReadFatWindow(0); // a failure here only costs a later refill
    return 0;
}

// Reads the cache window holding byte offset b of the first FAT, clipped to the
// FAT and to the readable area so small or truncated volumes still load.
int CFastFatRecovery::ReadFatWindow(uint64_t byteOffset) {
    const uint64_t bps = m_nBytesPerSector;
    const uint64_t first = byteOffset / bps;
    if (first >= m_Geometry.nFatSectors) return 87;
    uint64_t sectors = m_nFatCacheSize / bps;
    if (sectors > m_Geometry.nFatSectors - first) sectors = m_Geometry.nFatSectors - first;
    const uint64_t start = m_u64FatStartSector + first;
    const uint64_t limit = m_DiskReader.GetSectorLimit();
    if (start >= limit) return 87;
    if (sectors > limit - start) sectors = limit - start;
    unsigned got = 0;
    int rc = m_DiskReader.ReadData(m_pFatCache.get(), int(sectors), (long long)start, int(bps), &got);
    if (got == 0) {
        m_nFatCacheValid = 0;
        return rc != 0 ? rc : 30;
    }
    m_nFatCacheSector = uint32_t(first);
    m_nFatCacheValid = uint32_t(got * bps);
    return 0;
}

int CFastFatRecovery::GetNextClusterNO(uint32_t cluster, uint32_t& next) {
    if (!m_pFatCache) {
        next = cluster + 1;
        return 0;
    }
    const uint64_t width = m_nFatType == 1 ? 4 : 2;
    const uint64_t b = uint64_t(cluster) * width;
    const uint64_t windowStart = uint64_t(m_nFatCacheSector) * m_nBytesPerSector;
    if (b < windowStart || b + width > windowStart + m_nFatCacheValid) {
        int rc = ReadFatWindow(b);
        if (rc != 0) return rc;
    }
    const uint64_t off = b - uint64_t(m_nFatCacheSector) * m_nBytesPerSector;
    if (off + width > m_nFatCacheValid) return 30;
    const uint8_t* p = m_pFatCache.get() + off;
    next = width == 4 ? uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24)
                      : uint32_t(p[0]) | (uint32_t(p[1]) << 8);
    return 0;
}

int CFastFatRecovery::FindNextClusterNO(uint32_t cluster, uint32_t& next) {
    int rc = GetNextClusterNO(cluster, next);
    if (rc != 0) return rc;
    if (next != 0) {
        if (m_nFatType == 0) {
            next &= 0xFFFF;
            if (next >= 0xFFF8) next = 0;
        } else {
            next &= 0x0FFFFFFF;
            if (next >= 0x0FFFFFF8) next = 0;
        }
        // Reserved values, bad-cluster marks and numbers past the volume end a chain too.
        if (next != 0 && !IsDataCluster(next)) next = 0;
        return 0;
    }
    uint32_t after = 1;
    if (IsDataCluster(cluster + 1) && GetNextClusterNO(cluster + 1, after) == 0 && after == 0) next = cluster + 1;
    return 0;
}

uint64_t CFastFatRecovery::ClusterToSector(uint32_t cluster) const {
    // Cluster 1 names nothing; the quick engine reads the root folder for it as for 0.
    return FatClusterSector(m_u64StartSector + m_nDataStartSector, cluster < 2 ? 0 : cluster, m_nSectorsPerCluster);
}

int CFastFatRecovery::InitCallBack(ScanCallBack scanCb, RecoveryCallBack recoveryCb, void* pParam, int nPercent) {
    m_pScanCallBack = scanCb;
    m_pRecoveryCallBack = recoveryCb;
    m_pParam = pParam;
    m_nPercent = nPercent;
    return 0;
}

int CFastFatRecovery::InitSearchCallBack(SearchCallBack cb, void* pParam) {
    m_pSearchCallBack = cb;
    m_pSearchParam = pParam;
    if (m_pScanResult) m_pScanResult->InitSearchCallBack(cb, pParam);
    return 0;
}

int CFastFatRecovery::Report(int progress, int remaindSecond) {
    if (!m_pScanCallBack) return 0;
    return m_pScanCallBack(m_pParam, progress, m_nPercent, remaindSecond, 0, 0, 0, nullptr);
}

int CFastFatRecovery::ScanDevice(wchar_t* resultName) {
    m_DirMap.clear();
    m_FoundDirVec.clear();
    m_FoundDirSet.clear();
    m_DepthCache.clear();
    m_DirQueue = std::queue<uint32_t>();
    m_pScanResult.reset(new CScanResultFileManager());
    m_pScanResult->InitSearchCallBack(m_pSearchCallBack, m_pSearchParam);
    if (resultName) return m_pScanResult->Init(resultName);
    if (!m_bGeometryValid) return 87;

    SYSTEMTIME st;
    std::memset(&st, 0, sizeof st);
    rsb_getSystemTime(&st);
    char name[128];
    std::snprintf(name, sizeof name, "Fast_%lld_%d%d%d%d%2d", (long long)m_u64StartSector, st.wYear, st.wMonth, st.wDay,
                  st.wHour, st.wMinute);
    // A fresh scan starts a fresh store: a result left under the same name (a scan
    // of the same area in the same minute) would otherwise be appended to.
    char logDir[256] = {0};
    CLogFileManager::GetInstance()->GetLogFileDirPath(logDir);
    for (const char* suffix : {"", "_Relation", "_DirInfo"}) ::unlink((std::string(logDir) + name + suffix).c_str());
    std::wstring wideName = Ansi2Unicode(name);
    int rc = m_pScanResult->Init(wideName.c_str());
    if (rc != 0) return rc;

    m_DirQueue.push(m_nRootClusterNO);
    int result = Report(1, -1);

    std::set<uint32_t> visited;
    long lastReport = rsb_getTickCount();
    int step100 = 2, remain100 = 99, step9 = 21;
    while (result == 0 && !m_DirQueue.empty()) {
        uint32_t cluster = m_DirQueue.front();
        m_DirQueue.pop();
        if (!visited.insert(cluster).second) continue;
        InitDirInfo(cluster); // an unreadable folder costs only that folder
        long now = rsb_getTickCount();
        if (now - lastReport >= kReportIntervalMs) {
            lastReport = now;
            if (m_nPercent == 100) result = Report(step100++, remain100--);
            else if (m_nPercent == 9) result = Report(step9++, -1);
        }
    }
    if (result == 0) {
        result = Report(80, 10);
        if (result == 0) StoreFoundDirs();
    }
    m_pScanResult->FlushBufToFile();
    if (result == 0) result = Report(100, 0);
    return result;
}

void CFastFatRecovery::FillCommonFields(_FILE_NODE_& node, const FAT32_Entry& e, uint64_t entrySector,
                                        const char* name) const {
    std::memset(&node, 0, sizeof node);
    node.nDriveLetter = m_nDriveLetter;
    node.nFileSystemType = m_nFileSystemType;
    node.nClusterBytes = m_nBytesPerSector * m_nSectorsPerCluster;
    _FILETIME t;
    Fat32GetFileCreateTime(&e, &t);
    node.u64CreateTime = FileTimeToU64(t);
    Fat32GetFileLastAccessTime(&e, &t);
    node.u64AccessTime = FileTimeToU64(t);
    Fat32GetFileLastChangeTime(&e, &t);
    node.u64ModifyTime = FileTimeToU64(t);
    node.u64DataStartSector = m_nDataStartSector;
    node.u64RecordSector = entrySector;
    node.u64PartitionStartSector = m_u64StartSector;
    std::snprintf(node.szFileName, sizeof node.szFileName, "%s", name);
}

void CFastFatRecovery::RecordFile(const FASTFAT_DIR_ITEM& item, uint32_t currentDir, uint64_t entrySector) {
    const FAT32_Entry& e = item.entry;
    uint32_t cluster = e.DIR_FstClusLO;
    if (m_nFatType == 1) {
        uint32_t high = e.DIR_FstClusHI;
        if (item.bDeleted && high == 0) GetFileRealHighClusterNO(e.DIR_FstClusLO, high, item.szName);
        cluster = (high << 16) + e.DIR_FstClusLO;
    }
    _FILE_NODE_ node;
    FillCommonFields(node, e, entrySector, item.szName);
    node.bIsDir = 0;
    node.nClusterNO = cluster;
    node.u64FileSize = e.DIR_FileSize;
    node.bIsHealth = 1;
    unsigned char* slot = m_pScanResult->CreateFileNode(sizeof(_FILE_NODE_));
    if (!slot) return;
    node.nFileIndex = m_pScanResult->GetFileIndex();
    unsigned depth = 0;
    _GetRootParentDirIndex(currentDir, depth);
    m_pScanResult->AddChildren(currentDir, depth, node.nFileIndex, node.nClusterNO, nullptr);
    node.bIsHealth = uint32_t(IsFileDataHealth(&node, m_nSectorsPerCluster));
    std::memcpy(slot, &node, sizeof node);
    MarkFoundDirChain(currentDir);
}

void CFastFatRecovery::RecordDir(const FASTFAT_DIR_ITEM& item, uint32_t currentDir, uint64_t entrySector,
                                 bool dirDeleted) {
    const FAT32_Entry& e = item.entry;
    uint32_t cluster = e.DIR_FstClusLO;
    if (m_nFatType == 1) {
        uint32_t high = e.DIR_FstClusHI;
        if (item.bDeleted && high == 0) GetDirRealHighClusterNO(e.DIR_FstClusLO, high);
        cluster = (high << 16) + e.DIR_FstClusLO;
    }
    if (cluster == 0 || cluster == currentDir || !IsDataCluster(cluster)) return;
    _FILE_NODE_ node;
    FillCommonFields(node, e, entrySector, item.szName);
    node.bIsDir = 1;
    node.nReserved = (item.bDeleted || dirDeleted) ? 1 : 0;
    node.bIsHealth = 1;
    node.nFileIndex = currentDir; // the parent's cluster until the folder is stored
    node.nClusterNO = cluster;
    // A live entry for the cluster outranks a stale deleted one: the cluster now
    // belongs to a live folder, whose live files must not be taken for deleted ones.
    auto known = m_DirMap.find(cluster);
    if (known != m_DirMap.end() && known->second.nReserved == 0 && node.nReserved == 1) return;
    m_DirQueue.push(cluster);
    m_DirMap[cluster] = node;
}

// Every folder from dir up to the root must appear in the result tree, once.
void CFastFatRecovery::MarkFoundDirChain(uint32_t dir) {
    uint32_t c = dir;
    for (size_t steps = 0; steps <= m_DirMap.size(); ++steps) {
        if (!m_FoundDirSet.insert(c).second) return; // its ancestors were added with it
        m_FoundDirVec.push_back(c);
        auto it = m_DirMap.find(c);
        if (it == m_DirMap.end()) return;
        uint32_t parent = it->second.nFileIndex;
        if (parent == c || parent <= m_nRootClusterNO) return;
        c = parent;
    }
}

int CFastFatRecovery::StoreFoundDirs() {
    for (uint32_t c : m_FoundDirVec) {
        auto it = m_DirMap.find(c);
        if (it == m_DirMap.end()) continue;
        _FILE_NODE_ node = it->second;
        const uint32_t parent = node.nFileIndex;
        unsigned char* slot = m_pScanResult->CreateFileNode(sizeof(_FILE_NODE_));
        if (!slot) continue;
        node.bIsHealth = 1;
        node.nFileIndex = m_pScanResult->GetFileIndex();
        unsigned depth = 0;
        _GetRootParentDirIndex(parent, depth);
        m_pScanResult->AddChildren(parent, depth, node.nFileIndex, node.nClusterNO, node.szFileName);
        std::memcpy(slot, &node, sizeof node);
    }
    return 0;
}

int CFastFatRecovery::InitDirInfo(uint32_t dirCluster) {
    const bool fat16Root = m_nFatType == 0 && dirCluster == 0;
    if (!fat16Root && !IsDataCluster(dirCluster)) return 87;
    const uint32_t bps = m_nBytesPerSector;
    const size_t bufBytes = fat16Root ? kFat16RootBytes : size_t(bps) * m_nSectorsPerCluster;
    const int sectors = int(bufBytes / bps);

    auto known = m_DirMap.find(dirCluster);
    const bool trusted = known == m_DirMap.end() || !known->second.bIsDir;
    const bool deleted = !trusted && known->second.nReserved == 1;

    uint32_t currentDir = dirCluster;
    FASTFAT_LONG_NAME longName;
    std::vector<uint8_t> buf(bufBytes);
    std::vector<FASTFAT_DIR_ITEM> items;
    std::set<uint32_t> seen{dirCluster};
    uint32_t cluster = dirCluster;
    uint64_t sector = ClusterToSector(dirCluster);
    bool firstCluster = true;
    bool guessedNext = false;

    for (;;) {
        unsigned got = 0;
        int rc = m_DiskReader.ReadData(buf.data(), sectors, (long long)sector, int(bps), &got);
        if (got == 0) return rc != 0 ? rc : 30;
        ByteView view(buf.data(), size_t(got) * bps);
        if (firstCluster && !trusted && dirCluster != m_nRootClusterNO) {
            // A deleted folder's cluster may hold anything by now: it must still open with "." and "..".
            bool dotPair = view.u8(0) == '.' && view.u8(1) == ' ' && (view.u8(11) & FAT_ATTR_DIRECTORY) &&
                           view.u8(32) == '.' && view.u8(33) == '.';
            if (!dotPair) return 0;
        }
        // A freed chain is only guessed; the guessed cluster must look like folder content.
        if (guessedNext && !IsFatFDTRecord(view.data(), int(view.size()))) return 0;

        items.clear();
        const bool ended = ParseFastFatDirCluster(view, longName, items);
        for (const FASTFAT_DIR_ITEM& item : items) {
            const uint64_t entrySector = sector + item.nOffset / bps;
            switch (item.nKind) {
            case FASTFAT_ITEM_FILE:
                if (item.bDeleted || deleted) RecordFile(item, currentDir, entrySector);
                break;
            case FASTFAT_ITEM_DOT:
                currentDir = m_nFatType == 1 ? FatEntryCluster(&item.entry) : item.entry.DIR_FstClusLO;
                break;
            case FASTFAT_ITEM_DIR: RecordDir(item, currentDir, entrySector, deleted); break;
            default: break;
            }
        }
        if (ended || got < unsigned(sectors) || fat16Root) return 0;

        uint32_t raw = 0, next = 0;
        if (GetNextClusterNO(cluster, raw) != 0) return 0;
        if (FindNextClusterNO(cluster, next) != 0 || next == 0 || next == cluster) return 0;
        if (!seen.insert(next).second) return 0; // a chain that loops
        guessedNext = raw == 0;
        cluster = next;
        sector = ClusterToSector(next);
        firstCluster = false;
    }
}

int CFastFatRecovery::GetDirRealHighClusterNO(uint16_t low, uint32_t& high) {
    high = 0;
    std::vector<uint8_t> buf(m_nBytesPerSector);
    for (uint32_t h = 0; h < kHighWordCandidates; ++h) {
        const uint32_t cluster = (h << 16) | low;
        if (cluster < 2) continue;
        if (!IsDataCluster(cluster)) return 0;
        unsigned got = 0;
        m_DiskReader.ReadData(buf.data(), 1, (long long)ClusterToSector(cluster), int(m_nBytesPerSector), &got);
        if (got == 0) return 0;
        if (buf[0] == '.' && buf[1] == ' ' && buf[32] == '.' && buf[33] == '.') {
            high = h;
            return 0;
        }
    }
    return 0;
}

int CFastFatRecovery::GetFileRealHighClusterNO(uint16_t low, uint32_t& high, const char* name) {
    high = 0;
    char ext[256];
    if (!name || std::strlen(name) >= sizeof ext || GetExtendName(name, ext) != 0) return 0;
    // Without a signature every candidate would be accepted: the first one stands.
    if (!JudgeKnows(ext)) return 0;
    std::vector<uint8_t> buf(m_nBytesPerSector);
    for (uint32_t h = 0; h < kHighWordCandidates; ++h) {
        const uint32_t cluster = (h << 16) | low;
        if (cluster < 2) continue;
        if (!IsDataCluster(cluster)) return 0;
        const uint64_t sector = ClusterToSector(cluster);
        unsigned got = 0;
        m_DiskReader.ReadData(buf.data(), 1, (long long)sector, int(m_nBytesPerSector), &got);
        if (got == 0) return 0;
        if (CFileTypeJudge::IsFileTypeMatching(buf.data(), int(buf.size()), ext, &m_DiskReader, int(m_nBytesPerSector),
                                               sector)) {
            high = h;
            return 0;
        }
    }
    return 0;
}

int CFastFatRecovery::GetRootParentDirIndex(uint32_t cluster, unsigned& depth, std::map<uint32_t, int>& visited) {
    std::vector<uint8_t> buf(m_nBytesPerSector);
    uint32_t c = cluster;
    for (;;) {
        visited[c] = 1;
        if (c == m_nRootClusterNO) return 0;
        if (c != 0 && !IsDataCluster(c)) return 87;
        unsigned got = 0;
        int rc = m_DiskReader.ReadData(buf.data(), 1, (long long)ClusterToSector(c), int(m_nBytesPerSector), &got);
        if (got == 0) return rc != 0 ? rc : 30;
        const uint8_t attr0 = buf[11];
        if ((attr0 & FAT_ATTR_VOLUME_ID) && attr0 != FAT_ATTR_LONG_NAME) return 0;
        if (buf[0] != '.' || buf[32] != '.' || buf[33] != '.') return 0;
        ++depth;
        const FAT32_Entry* dotdot = reinterpret_cast<const FAT32_Entry*>(buf.data() + 32);
        const uint32_t parent = m_nFatType == 1 ? FatEntryCluster(dotdot) : dotdot->DIR_FstClusLO;
        // ".." holds 0 for a folder in the root, on FAT32 as on FAT16.
        if (c == 0 || parent == 0 || visited.count(parent)) return 0;
        c = parent;
    }
}

int CFastFatRecovery::_GetRootParentDirIndex(uint32_t cluster, unsigned& depth) {
    auto it = m_DepthCache.find(cluster);
    if (it != m_DepthCache.end()) {
        depth += it->second;
        return 0;
    }
    std::map<uint32_t, int> visited;
    unsigned d = 0;
    int rc = GetRootParentDirIndex(cluster, d, visited);
    m_DepthCache[cluster] = d;
    depth += d;
    return rc;
}

int CFastFatRecovery::GetChildrenFileNode(_FILE_NODE_* parent, unsigned depth, std::vector<_FILE_NODE_>& out) {
    if (!parent && depth != 0) return 87;
    if (!m_pScanResult) return 0;
    const uint32_t key = parent && parent->nClusterNO ? parent->nClusterNO : m_nRootClusterNO;
    m_pScanResult->FlushBufToFile();
    return m_pScanResult->GetChildrenFileNode((uint64_t(depth) << 32) | key, out);
}

int CFastFatRecovery::GetChildrenFileCount(_FILE_NODE_* parent, unsigned depth, unsigned& count) {
    if (!parent && depth != 0) return 87;
    if (!m_pScanResult) return 0;
    const uint32_t key = parent && parent->nClusterNO ? parent->nClusterNO : m_nRootClusterNO;
    m_pScanResult->FlushBufToFile();
    return m_pScanResult->GetChildrenFileCount((uint64_t(depth) << 32) | key, count);
}

int CFastFatRecovery::GetLostFileCount() { return m_pScanResult ? int(m_pScanResult->GetFileIndex()) : 0; }

int CFastFatRecovery::GetFileNodeParentDirPath(_FILE_NODE_* node, wchar_t* path, int size) {
    if (!m_pScanResult) return 87;
    return m_pScanResult->GetParentDirPath(node, path, size);
}

int CFastFatRecovery::SearchFileNode(wchar_t* key, std::vector<__SEARCH_FILE_INFO__>& out) {
    if (!m_pScanResult) return 0;
    return m_pScanResult->SearchFileNodeInfo(key, out);
}

int CFastFatRecovery::GetFileDataStartSector(_FILE_NODE_* node, uint64_t& absoluteSector) {
    if (!node) return 87;
    absoluteSector = FatNodeFirstSector(*node);
    return absoluteSector == UINT64_MAX ? 1 : 0;
}
