#include "ntfs/CProfessionalNtfsRecovery.h"

#include "disk/VolumeRecognizers.h"
#include "engine/CLogFileManager.h"
#include "ntfs/ProfessionalNtfsGeometry.h"
#include "ntfs/ProfessionalNtfsRecord.h"
#include "platform/ByteView.h"
#include "platform/DeviceMap.h"
#include "platform/Log.h"
#include "platform/Portability.h"
#include "platform/TextCodec.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace pro_ntfs;

namespace {
constexpr uint32_t kNoParent = 0xFFFFFFFF;
constexpr int kBootReadBytes = 4096;

// Parent link of a folder record as read during the pass.
struct FolderLink {
    uint32_t nRecordNo;
    uint32_t nParent;  // kNoParent when the record is no usable folder
};

uint64_t PackLink(const FolderLink& l) { return (uint64_t(l.nRecordNo) << 32) | l.nParent; }
FolderLink UnpackLink(uint64_t v) { return FolderLink{uint32_t(v >> 32), uint32_t(v)}; }
}  // namespace

CProfessionalNtfsRecovery::CProfessionalNtfsRecovery()
    : m_hDevice(-1),
      m_nDiskNo(0),
      m_u64StartSector(0),
      m_u64SectorCount(0),
      m_nDriveLetter(0),
      m_nBytesPerSector(512),
      m_nFileRecordSize(kRecordBytes),
      m_nSectorsPerFileRecord(kSectorsPerRecord),
      m_pScanResult(nullptr),
      m_nPercent(0),
      m_pScanCallBack(nullptr),
      m_pRecoveryCallBack(nullptr),
      m_pSearchCallBack(nullptr),
      m_pSearchParam(nullptr),
      m_pParam(nullptr),
      m_nFileSystemType(FS_TYPE_PRO_NTFS),
      m_nSectorsPerCluster(8) {
    m_NtfsParse.Init(512);
}

CProfessionalNtfsRecovery::~CProfessionalNtfsRecovery() {
    delete m_pScanResult;
    if (m_hDevice >= 0) ::close(m_hDevice);
}

int CProfessionalNtfsRecovery::Init(int diskNo, long long startSector, long long sectorCount, wchar_t driveLetter) {
    if (startSector < 0 || sectorCount < 0) return 87;
    m_nDriveLetter = static_cast<uint32_t>(driveLetter);
    const std::string path = GetDiskDevicePath(diskNo);
    return OpenCommon(path.c_str(), static_cast<uint64_t>(startSector), static_cast<uint64_t>(sectorCount), true,
                      diskNo);
}

int CProfessionalNtfsRecovery::Init(wchar_t* devicePath, wchar_t driveLetter) {
    if (!devicePath) return 87;
    m_nDriveLetter = static_cast<uint32_t>(driveLetter);
    char path[256];
    inner_uni2str(path, devicePath, sizeof path, -1);
    uint64_t bytes = 0;
    const int rc = GetDeviceSize(path, bytes);
    if (rc != 0) return rc;
    return OpenCommon(path, 0, bytes / 512, false, 128);
}

int CProfessionalNtfsRecovery::OpenCommon(const char* path, uint64_t startSector, uint64_t sectorCount, bool byDisk,
                                          int diskNo) {
    if (m_hDevice >= 0) ::close(m_hDevice);
    m_hDevice = ::open(path, O_RDONLY | O_CLOEXEC);
    if (m_hDevice < 0) return errno;
    m_nDiskNo = diskNo;
    m_u64StartSector = startSector;
    m_u64SectorCount = sectorCount;
    m_nBytesPerSector = 512;
    m_nSectorsPerFileRecord = kSectorsPerRecord;
    m_nFileRecordSize = kRecordBytes;
    m_nSectorsPerCluster = static_cast<int>(GetDefaultNtfsSectorPerCluster(sectorCount, 512));
    m_NtfsParse.Init(512);
    m_mapMftRunList.clear();
    m_mapMftSectorsPerCluster.clear();

    const uint64_t limit = startSector + sectorCount;
    int rc = byDisk ? m_DiskReader.Init(diskNo, limit) : m_DiskReader.Init(Utf8ToWide(path).c_str(), limit);

    // The boot area only seeds the $MFT registry. A deep scan is often wanted
    // precisely because it is unreadable or too short, so that is no failure.
    std::vector<unsigned char> boot(kBootReadBytes, 0);
    unsigned got = 0;
    const int bootSectors = static_cast<int>(std::min<uint64_t>(kBootReadBytes / 512, sectorCount));
    if (rc == 0 && bootSectors > 0)
        m_DiskReader.ReadData(boot.data(), bootSectors, static_cast<long long>(startSector), 512, &got);
    if (rc == 0 && got == 0) OrvaleLog("ProfessionalNtfs: boot area of sector %llu unreadable\n",
                                       static_cast<unsigned long long>(startSector));
    if (rc == 0 && got > 0 && IsNtfs(boot.data())) {
        // An intact boot sector knows where its $MFT is and how big its clusters are.
        ByteView b(boot.data(), boot.size());
        const unsigned spc = b.u8(NTFS_BOOT_SECTORS_PER_CLUSTER);
        const uint64_t key = spc * b.le64(NTFS_BOOT_MFT_CLUSTER) + startSector;
        m_nSectorsPerCluster = static_cast<int>(spc);
        std::vector<__RUNLIST__> runs;
        GetRunListInfo(static_cast<long long>(key), NTFS_ATTR_DATA, runs);
        m_mapMftRunList[key] = runs;
        m_mapMftSectorsPerCluster[key] = spc;
    }
    return rc;
}

int CProfessionalNtfsRecovery::InitCallBack(ScanCallBack scanCb, RecoveryCallBack recoveryCb, void* pParam,
                                            int nPercent) {
    m_pScanCallBack = scanCb;
    m_pRecoveryCallBack = recoveryCb;
    m_pParam = pParam;
    m_nPercent = nPercent;
    return 0;
}

int CProfessionalNtfsRecovery::InitProfessionalScan(wchar_t* logName) {
    m_vecSpecialRecoveryDir.clear();
    m_setQueuedDirs.clear();
    m_mapParentBySector.clear();
    delete m_pScanResult;
    m_pScanResult = new CScanResultFileManager();
    m_bStoreDirty = false;
    if (m_pSearchCallBack) m_pScanResult->InitSearchCallBack(m_pSearchCallBack, m_pSearchParam);
    if (logName && logName[0]) {
        m_strStoreName = Unicode2Ansi(logName);
        return m_pScanResult->Init(logName);
    }
    SYSTEMTIME st{};
    rsb_getLocalTime(&st);
    char name[128];
    std::snprintf(name, sizeof name, "Pro_Ntfs_%lld_%d%d%d%d%2d", static_cast<long long>(m_u64StartSector), st.wYear,
                  st.wMonth, st.wDay, st.wHour, st.wMinute);
    m_strStoreName = name;
    // A fresh result must not append to one left under the same name by a scan
    // of the same area in the same minute: record numbers would point into it.
    char dir[256] = {};
    CLogFileManager::GetInstance()->GetLogFileDirPath(dir);
    for (const char* suffix : {"", "_Relation", "_DirInfo"}) ::unlink((std::string(dir) + name + suffix).c_str());
    return m_pScanResult->Init(Ansi2Unicode(name).c_str());
}

int CProfessionalNtfsRecovery::ReadRecord(uint64_t sector, unsigned char* record) {
    // Only the record itself is read: a record in the last sectors of the area
    // must stay readable.
    unsigned got = 0;
    const int rc = m_DiskReader.ReadData(record, kSectorsPerRecord, static_cast<long long>(sector), 512, &got);
    if (rc == 0 && got == kSectorsPerRecord) return 0;
    return rc != 0 ? rc : 30;
}

int CProfessionalNtfsRecovery::ParseNtfsFileRecord(unsigned char* record, unsigned long long sector) {
    if (!record) return 87;
    // The caller's buffer is the pass's own: the fix-up works on a copy.
    unsigned char copy[kRecordBytes];
    std::memcpy(copy, record, sizeof copy);
    if (RecordFlags(copy) & NTFS_REC_FLAG_DIRECTORY) return 0;
    return ParseProfessionalRecordInfo(copy, sector, 0, 0);
}

int CProfessionalNtfsRecovery::ParseProfessionalRecordInfo(unsigned char* record, unsigned long long sector, int pass,
                                                           unsigned int dirIndex) {
    if (!m_pScanResult) return 87;
    const uint16_t flags = RecordFlags(record);
    if (pass == 0 && (flags & NTFS_REC_FLAG_DIRECTORY)) return 0;
    bool lost = pass == 1 && !(flags & NTFS_REC_FLAG_DIRECTORY);
    // A queued folder must end up as some folder node, or every file filed
    // under its number would be unreachable in the tree.
    const bool mustNameFolder = pass == 1 && dirIndex >= NTFS_FIRST_USER_RECORD;

    if (!HasFileSignature(record, kRecordBytes)) {
        if (lost || mustNameFolder) AddLostFolder(dirIndex);
        return NTFS_ERR_NO_SIGNATURE;
    }
    m_NtfsParse.FileRecordFixUp(record);
    if (CheckRecordHeader(record, kRecordBytes) != 0) {
        if (mustNameFolder) AddLostFolder(dirIndex);
        return NTFS_ERR_INVALID;
    }
    const uint32_t recordNo = RecordNumber(record);
    // The record now at the folder's place belongs to something else.
    if (pass == 1 && recordNo != dirIndex) lost = true;

    ByteView rec(record, kRecordBytes);
    _FILE_NODE_* node = nullptr;
    bool named = false;
    NTFS_ATTR_POS attr;
    while (NextNtfsAttribute(record, rec.le32(NTFS_REC_BYTES_IN_USE), attr)) {
        if (attr.nType == NTFS_ATTR_DATA && node && AttrNameLength(record, attr) == 0) {
            if (!IsNonResident(record, attr)) node->u64FileSize = rec.le32(attr.nPos + NTFS_ATTR_VALUE_LENGTH);
            else if (attr.nLength >= 49) node->u64FileSize = rec.le64(attr.nPos + NTFS_ATTR_REAL_SIZE);
            continue;
        }
        if (attr.nType != NTFS_ATTR_FILE_NAME) continue;
        if (lost) {
            AddLostFolder(dirIndex != 0 ? dirIndex : recordNo);
            return 0;
        }
        if (recordNo >= 1 && recordNo < NTFS_FIRST_USER_RECORD) continue;
        NTFS_FILE_NAME_INFO fn;
        if (!ReadFileNameAttribute(record + attr.nPos, attr.nLength, fn)) continue;
        if (recordNo == NTFS_MFT_RECORD) {
            char name[256];
            NarrowFileName(fn, name, sizeof name);
            if (!named && strcasecmp(name, "$MFT") == 0) RegisterMftRecord(record, sector);
            named = true;
            continue;
        }
        if (node) {
            if (fn.nNameSpace == NTFS_NAME_SPACE_WIN32) NarrowFileName(fn, node->szFileName, sizeof node->szFileName);
            continue;
        }
        if (named) continue;
        named = true;
        // Children of the system folders ($Extend and the like) are volume
        // metadata, not user files.
        if (fn.nParent < NTFS_FIRST_USER_RECORD && fn.nParent != NTFS_ROOT_RECORD) continue;

        node = FillFileNode(fn, pass);
        if (!node) return 8;
        if (pass == 0 && (flags & NTFS_REC_FLAG_IN_USE)) node->nReserved = 1; // a live file: the window says so
        const unsigned inferred = InferSectorsPerCluster(m_NtfsParse, record, kRecordBytes);
        if (inferred) m_nSectorsPerCluster = static_cast<int>(inferred);
        unsigned spc = static_cast<unsigned>(m_nSectorsPerCluster);
        std::vector<__RUNLIST__> runs;
        const uint64_t start = GetSpecialFileRecordPartitionStartSector(sector, recordNo, spc, runs);
        m_nSectorsPerCluster = static_cast<int>(spc);
        node->u64DataStartSector = 0;
        node->nClusterBytes = 512u * spc;
        node->nClusterNO = recordNo;
        node->u64RecordSector = sector;
        node->u64PartitionStartSector = start;
        int depth = 0;
        GetProfessionalRootParentDirIndex(fn.nParent, start, spc, runs, depth);
        if (pass == 1) {
            m_pScanResult->AddChildren(fn.nParent, static_cast<uint32_t>(depth), node->nFileIndex, recordNo,
                                       node->szFileName);
        } else {
            m_pScanResult->AddChildren(fn.nParent, static_cast<uint32_t>(depth), node->nFileIndex, recordNo, nullptr);
            // The record is at hand: no need to read it again.
            node->bIsHealth = static_cast<uint32_t>(HealthOfRecord(node, record));
        }
    }
    if (mustNameFolder && !named) AddLostFolder(dirIndex);
    return 0;
}

void CProfessionalNtfsRecovery::RegisterMftRecord(const unsigned char* record, uint64_t sector) {
    // $MFT's own $DATA is a non-resident $DATA like any other: its cluster
    // size is the volume's, and it is kept with the registered runlist.
    const unsigned spc = InferSectorsPerCluster(m_NtfsParse, record, kRecordBytes);
    if (spc) m_nSectorsPerCluster = static_cast<int>(spc);
    std::vector<__RUNLIST__> runs;
    NTFS_ATTR_POS data;
    if (FindFirstAttribute(record, kRecordBytes, NTFS_ATTR_DATA, data) == 0) DecodeRuns(m_NtfsParse, record, data, runs);
    m_mapMftRunList[sector] = runs;
    m_mapMftSectorsPerCluster[sector] = static_cast<unsigned>(m_nSectorsPerCluster);
}

_FILE_NODE_* CProfessionalNtfsRecovery::FillFileNode(const NTFS_FILE_NAME_INFO& fn, int isDir) {
    m_bStoreDirty = true;
    _FILE_NODE_* node = reinterpret_cast<_FILE_NODE_*>(m_pScanResult->CreateFileNode(sizeof(_FILE_NODE_)));
    if (!node) return nullptr;
    std::memset(node, 0, sizeof *node);
    node->nFileIndex = m_pScanResult->GetFileIndex();
    node->bIsDir = isDir ? 1 : 0;
    node->bIsHealth = 1;
    node->nFileSystemType = m_nFileSystemType;
    node->nDriveLetter = m_nDriveLetter;
    node->nClusterBytes = 0xFFFFFFFF;
    node->u64CreateTime = fn.u64CreateTime;
    node->u64ModifyTime = fn.u64ModifyTime;
    node->u64AccessTime = fn.u64AccessTime;
    node->u64FileSize = fn.u64RealSize;
    NarrowFileName(fn, node->szFileName, sizeof node->szFileName);
    return node;
}

void CProfessionalNtfsRecovery::AddLostFolder(uint32_t number) {
    m_bStoreDirty = true;
    _FILE_NODE_* node = reinterpret_cast<_FILE_NODE_*>(m_pScanResult->CreateFileNode(sizeof(_FILE_NODE_)));
    if (!node) return;
    std::memset(node, 0, sizeof *node);
    node->nDriveLetter = m_nDriveLetter;
    node->nFileSystemType = m_nFileSystemType;
    node->bIsDir = 1;
    node->bIsHealth = 1;
    node->nFileIndex = m_pScanResult->GetFileIndex();
    node->nClusterNO = number;
    node->nClusterBytes = 512u * static_cast<uint32_t>(m_nSectorsPerCluster);
    std::snprintf(node->szFileName, sizeof node->szFileName, "LostFolder%d", static_cast<int>(number));
    m_pScanResult->AddChildren(NTFS_ROOT_RECORD, 0, node->nFileIndex, number, node->szFileName);
}

bool CProfessionalNtfsRecovery::GetFileRecordIndexMftRunList(uint64_t recordIndex, uint64_t recordSector,
                                                             unsigned& sectorsPerCluster,
                                                             std::vector<__RUNLIST__>& runs, uint64_t& key) {
    for (const auto& entry : m_mapMftRunList) {
        // Each $MFT is tried with its own volume's cluster size: the current one
        // may come from another volume of the disk.
        const auto spcIt = m_mapMftSectorsPerCluster.find(entry.first);
        const unsigned spc = spcIt != m_mapMftSectorsPerCluster.end() && spcIt->second ? spcIt->second
                                                                                        : sectorsPerCluster;
        if (MftHoldsRecordAt(entry.first, entry.second, spc, recordIndex, recordSector)) {
            runs = entry.second;
            sectorsPerCluster = spc;
            key = entry.first;
            return true;
        }
    }
    return false;
}

uint64_t CProfessionalNtfsRecovery::GetSpecialFileRecordPartitionStartSector(uint64_t recordSector,
                                                                              uint64_t recordIndex,
                                                                              unsigned& sectorsPerCluster,
                                                                              std::vector<__RUNLIST__>& runs) {
    uint64_t key = 0;
    if (GetFileRecordIndexMftRunList(recordIndex, recordSector, sectorsPerCluster, runs, key))
        return VolumeStartFromMft(key, runs, sectorsPerCluster, m_u64StartSector);
    // No known $MFT holds it: assume a contiguous one on a volume starting where the scanned area does.
    __RUNLIST__ run{};
    if (ContiguousMftRun(recordSector, m_u64StartSector, recordIndex, sectorsPerCluster, run)) runs.push_back(run);
    return m_u64StartSector;
}

void CProfessionalNtfsRecovery::QueueSpecialDir(uint32_t dirIndex, unsigned sectorsPerCluster, uint64_t partitionStart,
                                                const std::vector<__RUNLIST__>& runs) {
    // Folders are told apart by record number only, across volumes, as the store's keys are.
    if (!m_setQueuedDirs.insert(dirIndex).second) return;
    __SPECIAL_RECOVERY_DIR__ entry;
    entry.nRecordIndex = dirIndex;
    entry.nSectorsPerCluster = sectorsPerCluster;
    entry.u64PartitionStartSector = partitionStart;
    entry.vecMftRunList = runs;
    m_vecSpecialRecoveryDir.push_back(std::move(entry));
}

int CProfessionalNtfsRecovery::LocateFolderRecord(uint32_t dirIndex, uint64_t partitionStart,
                                                  unsigned sectorsPerCluster, const std::vector<__RUNLIST__>& runs,
                                                  uint64_t& sector) {
    uint64_t rel = 0;
    if (!LocateRecordInMft(runs, sectorsPerCluster, dirIndex, rel)) return 87;
    sector = rel + partitionStart;
    return 0;
}

int CProfessionalNtfsRecovery::GetProfessionalRootParentDirIndex(uint32_t dirIndex, uint64_t partitionStart,
                                                                 unsigned sectorsPerCluster,
                                                                 const std::vector<__RUNLIST__>& runs, int& depth) {
    // Iterative and bounded: a chain on a damaged disk may loop or run on forever.
    std::set<uint32_t> seen;
    uint32_t dir = dirIndex;
    int result = 0;
    while (dir != NTFS_ROOT_RECORD && depth < kMaxChainDepth) {
        seen.insert(dir);
        QueueSpecialDir(dir, sectorsPerCluster, partitionStart, runs);
        depth += 1;
        uint64_t sector = 0;
        if (LocateFolderRecord(dir, partitionStart, sectorsPerCluster, runs, sector) != 0) break;

        FolderLink link{0, kNoParent};
        const auto cached = m_mapParentBySector.find(sector);
        if (cached != m_mapParentBySector.end()) {
            link = UnpackLink(cached->second);
        } else {
            unsigned char record[kRecordBytes];
            result = ReadRecord(sector, record);
            if (result == 0 && !HasFileSignature(record, kRecordBytes)) result = NTFS_ERR_NO_SIGNATURE;
            if (result == 0) {
                m_NtfsParse.FileRecordFixUp(record);
                link.nRecordNo = RecordNumber(record);
                if (CheckRecordHeader(record, kRecordBytes) != 0) {
                    result = NTFS_ERR_INVALID;
                } else if (RecordFlags(record) & NTFS_REC_FLAG_DIRECTORY) {
                    const size_t used = ByteView(record, kRecordBytes).le32(NTFS_REC_BYTES_IN_USE);
                    NTFS_ATTR_POS attr;
                    NTFS_FILE_NAME_INFO fn;
                    while (NextNtfsAttribute(record, used, attr)) {
                        if (attr.nType == NTFS_ATTR_FILE_NAME &&
                            ReadFileNameAttribute(record + attr.nPos, attr.nLength, fn)) {
                            link.nParent = fn.nParent;
                            break;
                        }
                    }
                }
            }
            m_mapParentBySector[sector] = PackLink(link);
        }
        if (link.nRecordNo != dir || link.nParent == kNoParent || seen.count(link.nParent)) break;
        dir = link.nParent;
    }
    return result;
}

int CProfessionalNtfsRecovery::ParseProfessionalRecordVec() {
    if (!m_pScanResult) return 0;
    int result = 0;
    // Parsing a folder may queue its own parents: the list grows while it is walked.
    for (size_t i = 0; i < m_vecSpecialRecoveryDir.size(); ++i) {
        const __SPECIAL_RECOVERY_DIR__ entry = m_vecSpecialRecoveryDir[i];
        if (entry.nSectorsPerCluster) m_nSectorsPerCluster = static_cast<int>(entry.nSectorsPerCluster);
        uint64_t sector = 0;
        unsigned char record[kRecordBytes];
        int rc = LocateFolderRecord(entry.nRecordIndex, entry.u64PartitionStartSector, entry.nSectorsPerCluster,
                                    entry.vecMftRunList, sector);
        if (rc == 0) rc = ReadRecord(sector, record);
        if (rc != 0) {
            // One unreadable folder must not cost the folders queued after it.
            OrvaleLog("ProfessionalNtfs: folder %u unreadable (%d)\n", entry.nRecordIndex, rc);
            if (entry.nRecordIndex >= NTFS_FIRST_USER_RECORD) AddLostFolder(entry.nRecordIndex);
            result = rc;
            continue;
        }
        result = ParseProfessionalRecordInfo(record, sector, 1, entry.nRecordIndex);
    }
    FlushStore();
    return result;
}

void CProfessionalNtfsRecovery::FlushStore() {
    // A flush rewrites the whole relation map: only when something was added.
    if (!m_pScanResult || !m_bStoreDirty) return;
    m_pScanResult->FlushBufToFile();
    m_bStoreDirty = false;
}

int CProfessionalNtfsRecovery::GetChildrenFileNode(_FILE_NODE_* parent, unsigned level, std::vector<_FILE_NODE_>& out) {
    if (!m_pScanResult) return 0;
    if (!parent && level != 0) return 87;
    const uint32_t key = parent && parent->nClusterNO ? parent->nClusterNO : NTFS_ROOT_RECORD;
    FlushStore();
    return m_pScanResult->GetChildrenFileNode((uint64_t(level) << 32) | key, out);
}

int CProfessionalNtfsRecovery::GetChildrenFileCount(_FILE_NODE_* parent, unsigned level, unsigned& count) {
    if (!m_pScanResult) return 0;
    if (!parent && level != 0) return 87;
    const uint32_t key = parent && parent->nClusterNO ? parent->nClusterNO : NTFS_ROOT_RECORD;
    FlushStore();
    return m_pScanResult->GetChildrenFileCount((uint64_t(level) << 32) | key, count);
}

int CProfessionalNtfsRecovery::GetLostFileCount() {
    return m_pScanResult ? static_cast<int>(m_pScanResult->GetFileIndex()) : 0;
}

int CProfessionalNtfsRecovery::GetFileNodeParentDirPath(_FILE_NODE_* node, wchar_t* path, int size) {
    if (!m_pScanResult) return 87;
    FlushStore();
    return m_pScanResult->GetParentDirPath(node, path, size);
}

int CProfessionalNtfsRecovery::InitSearchCallBack(SearchCallBack cb, void* pParam) {
    m_pSearchCallBack = cb;
    m_pSearchParam = pParam;
    if (!m_pScanResult) return 87;
    m_pScanResult->InitSearchCallBack(cb, pParam);
    return 0;
}

int CProfessionalNtfsRecovery::SearchFileNode(wchar_t* key, std::vector<__SEARCH_FILE_INFO__>& out) {
    if (!m_pScanResult) return 0;
    return m_pScanResult->SearchFileNodeInfo(key, out);
}
