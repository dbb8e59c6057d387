#include "ntfs/CFastNtfsRecovery.h"

#include "engine/CLogFileManager.h"
#include "engine/CScanResultFileManager.h"
#include "ntfs/NtfsRecordAccess.h"
#include "platform/ByteView.h"
#include "platform/DeviceMap.h"
#include "platform/Log.h"
#include "platform/Portability.h"
#include "platform/TextCodec.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr int kBootReadBytes = 4096;
constexpr int kEstimateIntervalMs = 5000;

// Sectors per cluster from the boot sector byte; values above 0x80 are powers of two.
int DecodeSectorsPerCluster(uint8_t v) {
    if (v == 0) return 0;
    if (v <= 0x80) return v;
    unsigned shift = 256u - v;
    return shift <= 16 ? int(1u << shift) : 0;
}
} // namespace

CFastNtfsRecovery::CFastNtfsRecovery()
    : m_hDevice(-1), m_u64StartSector(0), m_u64SectorCount(0), m_u64MftStartSector(0), m_nDriveLetter(0),
      m_nBytesPerSector(512), m_nFileRecordSize(1024), m_nSectorsPerFileRecord(2), m_nSectorsPerCluster(0),
      m_nRecordBufSize(0), m_nBitMapBytes(0), m_nFileSystemType(FS_TYPE_FAST_NTFS), m_pScanResult(nullptr),
      m_nPercent(100), m_pScanCallBack(nullptr), m_pRecoveryCallBack(nullptr), m_pSearchCallBack(nullptr),
      m_pSearchParam(nullptr), m_pParam(nullptr) {}

CFastNtfsRecovery::~CFastNtfsRecovery() {
    if (m_hDevice >= 0) ::close(m_hDevice);
    delete m_pScanResult;
}

int CFastNtfsRecovery::Init(int diskNo, long long startSector, long long sectorCount, wchar_t driveLetter) {
    if (startSector < 0 || sectorCount <= 0) return 87;
    if (m_hDevice >= 0) ::close(m_hDevice);
    std::string path = GetDiskDevicePath(diskNo);
    m_hDevice = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_hDevice < 0) return errno;
    if (::lseek(m_hDevice, static_cast<off_t>(startSector) * 512, SEEK_SET) == static_cast<off_t>(-1)) return errno;
    std::vector<unsigned char> boot(kBootReadBytes);
    unsigned got = 0;
    if (ReadData(m_hDevice, boot.data(), kBootReadBytes, &got) != 0 || got != kBootReadBytes) return 30;
    m_u64StartSector = static_cast<uint64_t>(startSector);
    m_u64SectorCount = static_cast<uint64_t>(sectorCount);
    m_nDriveLetter = static_cast<uint32_t>(driveLetter);
    int rc = InitGeometry(boot.data());
    if (rc != 0) return rc;
    rc = m_DiskReader.Init(diskNo, m_u64StartSector + m_u64SectorCount);
    if (rc != 0) return rc;
    m_vecMftRunList.clear();
    GetRunListInfo(static_cast<long long>(m_u64MftStartSector), NTFS_ATTR_DATA, m_vecMftRunList);
    return 0;
}

int CFastNtfsRecovery::Init(wchar_t* devicePath, wchar_t driveLetter) {
    if (!devicePath) return 87;
    if (m_hDevice >= 0) ::close(m_hDevice);
    char path[4096];
    inner_uni2str(path, devicePath, sizeof path, -1);
    m_hDevice = ::open(path, O_RDONLY | O_CLOEXEC);
    if (m_hDevice < 0) return errno;
    // lseek to the end also sizes block devices, whose status reports no size.
    off_t size = ::lseek(m_hDevice, 0, SEEK_END);
    if (size == static_cast<off_t>(-1) || ::lseek(m_hDevice, 0, SEEK_SET) == static_cast<off_t>(-1)) return errno;
    std::vector<unsigned char> boot(kBootReadBytes);
    unsigned got = 0;
    if (ReadData(m_hDevice, boot.data(), kBootReadBytes, &got) != 0 || got != kBootReadBytes) return 30;
    m_u64StartSector = 0;
    m_u64SectorCount = static_cast<uint64_t>(size) / 512;
    m_nDriveLetter = static_cast<uint32_t>(driveLetter);
    int rc = InitGeometry(boot.data());
    if (rc != 0) return rc;
    rc = m_DiskReader.Init(devicePath, m_u64StartSector + m_u64SectorCount);
    if (rc != 0) return rc;
    m_vecMftRunList.clear();
    GetRunListInfo(static_cast<long long>(m_u64MftStartSector), NTFS_ATTR_DATA, m_vecMftRunList);
    return 0;
}

int CFastNtfsRecovery::InitGeometry(const unsigned char* boot) {
    ByteView bs(boot, kBootReadBytes);
    int bps = bs.le16(NTFS_BOOT_BYTES_PER_SECTOR);
    m_NtfsParse.Init(bps == 0 ? 512 : bps);
    m_nBytesPerSector = m_NtfsParse.GetBytesPerSector();
    m_nSectorsPerFileRecord = m_NtfsParse.GetSectorsPerRecord();
    m_nFileRecordSize = m_NtfsParse.GetRecordSize();
    m_nSectorsPerCluster = DecodeSectorsPerCluster(bs.u8(NTFS_BOOT_SECTORS_PER_CLUSTER));
    // Without a cluster size no cluster can be found: refuse instead of dividing by 0.
    if (m_nSectorsPerCluster == 0) return 87;
    m_u64MftStartSector = bs.le64(NTFS_BOOT_MFT_CLUSTER) * static_cast<uint64_t>(m_nSectorsPerCluster) + m_u64StartSector;
    m_nRecordBufSize = m_nFileRecordSize * 1024;
    m_pRecordBuf.assign(static_cast<size_t>(m_nRecordBufSize), 0);
    return 0;
}

int CFastNtfsRecovery::InitCallBack(ScanCallBack scanCb, RecoveryCallBack recoveryCb, void* pParam, int nPercent) {
    m_pScanCallBack = scanCb;
    m_pRecoveryCallBack = recoveryCb;
    m_pParam = pParam;
    m_nPercent = nPercent;
    return 0;
}

int CFastNtfsRecovery::ScanDevice(wchar_t* logName) {
    m_vecDirIndex.clear();
    m_setDirIndex.clear();
    m_mapDirDepth.clear();
    delete m_pScanResult;
    m_pScanResult = new CScanResultFileManager();
    if (m_pSearchCallBack) m_pScanResult->InitSearchCallBack(m_pSearchCallBack, m_pSearchParam);
    if (logName) return m_pScanResult->Init(logName);

    SYSTEMTIME now;
    std::memset(&now, 0, sizeof now);
    rsb_getLocalTime(&now);
    char name[128];
    std::snprintf(name, sizeof name, "Fast_%lld_%d%d%d%d%2d", static_cast<long long>(m_u64StartSector), now.wYear,
                  now.wMonth, now.wDay, now.wHour, now.wMinute);
    // A new scan starts from empty files: a store of the same name (a scan of the
    // same volume in the same minute) would otherwise mix old results into it.
    char dir[256] = {0};
    CLogFileManager::GetInstance()->GetLogFileDirPath(dir);
    const std::string base = std::string(dir) + name;
    for (const char* suffix : {"", "_Relation", "_DirInfo"}) ::unlink((base + suffix).c_str());
    std::wstring wideName = Ansi2Unicode(name);
    int rc = m_pScanResult->Init(wideName.c_str());
    if (rc != 0) return rc;
    rc = FastScanDevice();
    int flush = m_pScanResult->FlushBufToFile();
    if (rc == 0 && flush != 0) rc = flush;
    return rc;
}

int CFastNtfsRecovery::FastScanDevice() {
    if (m_pRecordBuf.empty() || m_nSectorsPerCluster <= 0) return 87;
    const uint64_t spc = static_cast<uint64_t>(m_nSectorsPerCluster);
    uint64_t total = 0;
    for (const __RUNLIST__& run : m_vecMftRunList) total += run.u64RunLength * spc;
    int estimate = -1;
    const long start = rsb_getTickCount();
    long lastEstimate = start;
    uint64_t done = 0;

    int64_t runCluster = 0;
    for (const __RUNLIST__& run : m_vecMftRunList) {
        runCluster += run.n64RunOffset;
        const uint64_t runSectors = run.u64RunLength * spc;
        if (IsSparseRun(run) || runCluster < 0) {
            done += runSectors;
            continue;
        }
        const uint64_t runSector = m_u64StartSector + static_cast<uint64_t>(runCluster) * spc;
        const uint64_t chunkSectors = static_cast<uint64_t>(m_nRecordBufSize / m_nBytesPerSector);
        // A damaged runlist may claim clusters beyond the volume: those are not walked.
        const uint64_t volumeEnd = m_u64StartSector + m_u64SectorCount;
        const uint64_t inside = runSector < volumeEnd ? std::min(runSectors, volumeEnd - runSector) : 0;
        done += runSectors - inside;
        for (uint64_t read = 0; read < inside;) {
            const uint64_t count = std::min(chunkSectors, inside - read);
            // An unreadable chunk (bad sectors, a truncated image) costs its records
            // only: the scan goes on and finishes with what it found.
            int rc = ReadFileAndParseRecordInfo(static_cast<long long>(runSector + read), static_cast<int>(count));
            if (rc != 0) OrvaleLog("CFastNtfsRecovery: MFT chunk at sector %llu unreadable (%d)\n",
                                   static_cast<unsigned long long>(runSector + read), rc);
            read += count;
            done += count;

            const long tick = rsb_getTickCount();
            if (tick - lastEstimate >= kEstimateIntervalMs && m_nPercent == 100) {
                lastEstimate = tick;
                const uint64_t seconds = static_cast<uint64_t>((tick - start) / 1000);
                uint64_t rate = seconds ? static_cast<uint64_t>(m_nBytesPerSector) * done / seconds : 0;
                if (rate == 0) rate = 1;
                estimate = static_cast<int>((total - std::min(total, done)) * m_nBytesPerSector / rate);
            }
            if (m_pScanCallBack && total) {
                int stop = m_pScanCallBack(m_pParam, static_cast<int>(std::min(done, total) * 100 / total), m_nPercent,
                                           estimate, 0, 0, 0, nullptr);
                if (stop != 0) return stop;
            }
        }
    }

    // Folders on the parent chains; the list grows while it is walked.
    std::vector<unsigned char> record(NTFS_RECORD_READ_BYTES);
    for (size_t i = 0; i < m_vecDirIndex.size(); ++i) {
        const uint32_t dirIndex = m_vecDirIndex[i];
        std::fill(record.begin(), record.end(), 0);
        GetFileRecordBuf(dirIndex, record.data());
        ParseRecordInfo(record.data(), 1, dirIndex, GetFileRecordIndexSectorOffset(dirIndex));
    }

    if (m_pScanCallBack) return m_pScanCallBack(m_pParam, 100, m_nPercent, estimate, 0, 0, 0, nullptr);
    return 0;
}

int CFastNtfsRecovery::ReadFileAndParseRecordInfo(long long sector, int sectorCount) {
    if (sectorCount <= 0 || sector < 0) return 0;
    const int maxSectors = m_nRecordBufSize / m_nBytesPerSector;
    if (sectorCount > maxSectors) sectorCount = maxSectors;
    // The part of a run that lies inside the volume is still read.
    const uint64_t limit = m_DiskReader.GetSectorLimit();
    const uint64_t first = static_cast<uint64_t>(sector);
    if (first >= limit) return 87;
    if (first + static_cast<uint64_t>(sectorCount) > limit) sectorCount = static_cast<int>(limit - first);

    const unsigned perRecord = static_cast<unsigned>(m_nSectorsPerFileRecord);
    unsigned got = 0;
    const int rc = m_DiskReader.ReadData(m_pRecordBuf.data(), sectorCount, sector, m_nBytesPerSector, &got);
    const unsigned records = static_cast<unsigned>(sectorCount) / perRecord;
    unsigned readable = rc == 0 ? records : got / perRecord;
    if (rc != 0) {
        // A bad sector costs the records it holds: read the rest one record at a time.
        for (unsigned i = readable; i < records; ++i) {
            unsigned char* record = m_pRecordBuf.data() + static_cast<size_t>(i) * m_nFileRecordSize;
            unsigned one = 0;
            if (m_DiskReader.ReadData(record, static_cast<int>(perRecord), sector + static_cast<long long>(i) * perRecord,
                                      m_nBytesPerSector, &one) != 0)
                std::memset(record, 0, static_cast<size_t>(m_nFileRecordSize));
        }
        readable = records;
    }
    for (unsigned i = 0; i < readable; ++i) {
        unsigned char* record = m_pRecordBuf.data() + static_cast<size_t>(i) * m_nFileRecordSize;
        ParseRecordInfo(record, 0, 0, first + uint64_t(i) * perRecord);
    }
    return 0;
}

void CFastNtfsRecovery::AddLostFolder(uint32_t number) {
    unsigned char* mem = m_pScanResult->CreateFileNode(sizeof(_FILE_NODE_));
    if (!mem) return;
    _FILE_NODE_* node = reinterpret_cast<_FILE_NODE_*>(mem);
    std::memset(node, 0, sizeof *node);
    node->nDriveLetter = m_nDriveLetter;
    node->nFileSystemType = m_nFileSystemType;
    node->bIsDir = 1;
    node->bIsHealth = 1;
    node->nFileIndex = m_pScanResult->GetFileIndex();
    node->nClusterNO = number;
    node->nClusterBytes = 0xFFFFFFFF;
    std::snprintf(node->szFileName, sizeof node->szFileName, "LostFolder%d", static_cast<int>(number));
    m_pScanResult->AddChildren(NTFS_ROOT_RECORD, 0, node->nFileIndex, number, node->szFileName);
}

_FILE_NODE_* CFastNtfsRecovery::FillFileNode(const unsigned char* attribute, size_t attrLength, int isDir) {
    NTFS_FILE_NAME_INFO fn;
    if (!ReadFileNameAttribute(attribute, attrLength, fn)) return nullptr;
    unsigned char* mem = m_pScanResult->CreateFileNode(sizeof(_FILE_NODE_));
    if (!mem) return nullptr;
    _FILE_NODE_* node = reinterpret_cast<_FILE_NODE_*>(mem);
    std::memset(node, 0, sizeof *node);
    node->nFileIndex = m_pScanResult->GetFileIndex();
    node->bIsDir = isDir ? 1 : 0;
    node->bIsHealth = 1;
    node->nFileSystemType = m_nFileSystemType;
    node->nDriveLetter = m_nDriveLetter;
    node->nClusterBytes = 0xFFFFFFFF;
    node->u64CreateTime = fn.u64CreateTime;
    node->u64AccessTime = fn.u64AccessTime;
    node->u64ModifyTime = fn.u64ModifyTime;
    node->u64FileSize = fn.u64RealSize;
    Utf16leToAnsi(fn.pName, fn.nNameLength, node->szFileName, sizeof node->szFileName);
    return node;
}

int CFastNtfsRecovery::ParseRecordInfo(unsigned char* record, int pass, unsigned int dirIndex, uint64_t recordSector) {
    const size_t recordSize = static_cast<size_t>(m_nFileRecordSize);
    ByteView rec(record, recordSize);
    const uint16_t flags = rec.le16(NTFS_REC_FLAGS);
    if (pass == 0 && flags != 0) return 0;
    const bool lost = pass == 1 && (flags & NTFS_REC_FLAG_DIRECTORY) == 0;
    if (!HasFileSignature(record, recordSize)) {
        if (pass == 1) AddLostFolder(dirIndex);
        return NTFS_ERR_NO_SIGNATURE;
    }
    m_NtfsParse.FileRecordFixUp(record);
    const uint32_t recordNumber = pass == 1 ? dirIndex : rec.le32(NTFS_REC_NUMBER);
    const size_t bound = std::min<size_t>(rec.le32(NTFS_REC_BYTES_IN_USE), recordSize);

    _FILE_NODE_* node = nullptr;
    uint32_t parent = 0;
    bool sawData = false;
    size_t attrListPos = 0;
    NTFS_ATTR_POS pos;
    while (NextNtfsAttribute(record, bound, pos)) {
        const unsigned char* attr = record + pos.nPos;
        if (pos.nType == NTFS_ATTR_ATTRIBUTE_LIST) attrListPos = pos.nPos;
        if (pos.nType == NTFS_ATTR_DATA && node && rec.u8(pos.nPos + NTFS_ATTR_NAME_LENGTH) == 0) {
            sawData = true;
            if (rec.u8(pos.nPos + NTFS_ATTR_NON_RESIDENT) != 0) {
                if (pos.nLength >= NTFS_ATTR_NON_RESIDENT_MIN) node->u64FileSize = rec.le64(pos.nPos + NTFS_ATTR_REAL_SIZE);
            } else {
                node->u64FileSize = rec.le32(pos.nPos + NTFS_ATTR_VALUE_LENGTH);
            }
            continue;
        }
        if (pos.nType != NTFS_ATTR_FILE_NAME) continue;
        if (lost) {
            AddLostFolder(recordNumber);
            return 0;
        }
        if (recordNumber < NTFS_FIRST_USER_RECORD) continue;
        if (node) {
            // A Win32 name replaces the short or POSIX name met first.
            NTFS_FILE_NAME_INFO fn;
            if (ReadFileNameAttribute(attr, pos.nLength, fn) && fn.nNameSpace == NTFS_NAME_SPACE_WIN32)
                Utf16leToAnsi(fn.pName, fn.nNameLength, node->szFileName, sizeof node->szFileName);
            continue;
        }
        node = FillFileNode(attr, pos.nLength, pass);
        if (!node) continue;
        parent = rec.le32(pos.nPos + NTFS_FN_PARENT);
        node->u64DataStartSector = 0;
        node->nClusterBytes = static_cast<uint32_t>(m_nBytesPerSector * m_nSectorsPerCluster);
        node->nClusterNO = recordNumber;
        // Where the record was read is where its data will be looked up again.
        node->u64RecordSector = recordSector;
        node->u64PartitionStartSector = m_u64StartSector;
    }
    if (!node) {
        // A folder on a chain that yields no folder of its own still holds the
        // files listed under it: keep them reachable.
        if (pass == 1) AddLostFolder(dirIndex);
        return 0;
    }

    // Registered after the walk, so folders are listed under their final (Win32) name.
    const int depth = ParentDepth(parent);
    if (pass == 1) {
        m_pScanResult->AddChildren(parent, static_cast<uint32_t>(depth), node->nFileIndex, node->nClusterNO,
                                   node->szFileName);
    } else {
        // Data moved to another record: its size is there, not in the (often stale) name.
        if (!sawData && attrListPos) ListedDataSize(record, bound, attrListPos, node->u64FileSize);
        m_pScanResult->AddChildren(parent, static_cast<uint32_t>(depth), node->nFileIndex, node->nClusterNO, nullptr);
        node->bIsHealth = static_cast<uint32_t>(HealthOfRecord(node, record));
    }
    return 0;
}

int CFastNtfsRecovery::ParentDepth(unsigned int parent) {
    if (parent == NTFS_ROOT_RECORD) return 0;
    auto it = m_mapDirDepth.find(parent);
    if (it != m_mapDirDepth.end()) return it->second;
    int depth = 0;
    std::map<unsigned, unsigned> seen;
    GetRootParentDirIndex(parent, depth, seen);
    m_mapDirDepth[parent] = depth;
    return depth;
}

int CFastNtfsRecovery::GetRootParentDirIndex(unsigned int dirIndex, int& depth, std::map<unsigned, unsigned>& seen) {
    if (dirIndex == NTFS_ROOT_RECORD) return 0;
    seen[dirIndex] = dirIndex;
    if (m_setDirIndex.insert(dirIndex).second) m_vecDirIndex.push_back(dirIndex);
    depth += 1;

    std::vector<unsigned char> record(NTFS_RECORD_READ_BYTES, 0);
    const int rc = GetFileRecordBuf(dirIndex, record.data());
    const size_t recordSize = static_cast<size_t>(m_nFileRecordSize);
    if (!HasFileSignature(record.data(), recordSize)) return NTFS_ERR_NO_SIGNATURE;
    m_NtfsParse.FileRecordFixUp(record.data());
    ByteView rec(record.data(), recordSize);
    if ((rec.le16(NTFS_REC_FLAGS) & NTFS_REC_FLAG_DIRECTORY) == 0) return rc;
    const size_t bound = std::min<size_t>(rec.le32(NTFS_REC_BYTES_IN_USE), recordSize);
    NTFS_ATTR_POS pos;
    while (NextNtfsAttribute(record.data(), bound, pos)) {
        if (pos.nType != NTFS_ATTR_FILE_NAME) continue;
        if (!rec.has(pos.nPos + NTFS_FN_PARENT, 4) || pos.nLength < NTFS_FN_PARENT + 4) return rc;
        const uint32_t parent = rec.le32(pos.nPos + NTFS_FN_PARENT);
        if (seen.find(parent) == seen.end()) {
            record.clear();
            GetRootParentDirIndex(parent, depth, seen);
        }
        return rc;
    }
    return rc;
}

int CFastNtfsRecovery::GetChildrenFileNode(_FILE_NODE_* parent, unsigned level, std::vector<_FILE_NODE_>& out) {
    if (!parent && level != 0) return 87;
    if (!m_pScanResult) return 0;
    const uint32_t key = (!parent || parent->nClusterNO == 0) ? NTFS_ROOT_RECORD : parent->nClusterNO;
    m_pScanResult->FlushBufToFile();
    return m_pScanResult->GetChildrenFileNode((static_cast<uint64_t>(level) << 32) | key, out);
}

int CFastNtfsRecovery::GetChildrenFileCount(_FILE_NODE_* parent, unsigned level, unsigned& count) {
    count = 0;
    if (!parent && level != 0) return 87;
    if (!m_pScanResult) return 0;
    const uint32_t key = (!parent || parent->nClusterNO == 0) ? NTFS_ROOT_RECORD : parent->nClusterNO;
    m_pScanResult->FlushBufToFile();
    return m_pScanResult->GetChildrenFileCount((static_cast<uint64_t>(level) << 32) | key, count);
}

int CFastNtfsRecovery::GetLostFileCount() {
    return m_pScanResult ? static_cast<int>(m_pScanResult->GetFileIndex()) : 0;
}

int CFastNtfsRecovery::GetFileNodeParentDirPath(_FILE_NODE_* node, wchar_t* path, int size) {
    if (!m_pScanResult) return 87;
    m_pScanResult->FlushBufToFile();
    return m_pScanResult->GetParentDirPath(node, path, size);
}

int CFastNtfsRecovery::InitSearchCallBack(SearchCallBack cb, void* pParam) {
    m_pSearchCallBack = cb;
    m_pSearchParam = pParam;
    if (m_pScanResult) m_pScanResult->InitSearchCallBack(cb, pParam);
    return 0;
}

int CFastNtfsRecovery::SearchFileNode(wchar_t* key, std::vector<__SEARCH_FILE_INFO__>& out) {
    if (!m_pScanResult) return 0;
    return m_pScanResult->SearchFileNodeInfo(key, out);
}
