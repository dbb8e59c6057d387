#include "engine/CProfessionalRecovery.h"

#include "carving/CFileTypeJudge.h"
#include "disk/VolumeRecognizers.h"
#include "engine/CFileRecoveryFactory.h"
#include "fat/FatStructures.h"
#include "platform/DeviceMap.h"
#include "platform/Log.h"
#include "platform/PathHelpers.h"
#include "platform/Portability.h"
#include "platform/TextCodec.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr int kSectorBytes = 512;
constexpr int kChunkSectors = 65536 / kSectorBytes;
constexpr unsigned kRecordBytes = 1024;
constexpr int kRecordReadBytes = 8192;
constexpr long kEstimateIntervalMs = 5000;
constexpr int kDeepWeight = 90;
constexpr int kQuickWeight = 9;
// How often the deep pass records where it is, so that a process that is killed
// (not stopped) leaves a scan log that --resume continues from. ORVALE_CHECKPOINT_MS
// changes it (slow media, tests).
constexpr long kCheckpointIntervalMs = 5000;

long CheckpointIntervalMs() {
    const char* v = std::getenv("ORVALE_CHECKPOINT_MS");
    long ms = v ? std::strtol(v, nullptr, 10) : 0;
    return ms > 0 ? ms : kCheckpointIntervalMs;
}

std::string DiskText(int diskNo) { return "/dev/disk" + std::to_string(diskNo); }

std::wstring WideName(const char* name) { return Ansi2Unicode(name); }
} // namespace

CProfessionalRecovery::CProfessionalRecovery()
    : m_hDevice(-1), m_nDriveLetter('C'), m_nBytesPerSector(kSectorBytes), m_nDiskNo(0), m_u64StartSector(0),
      m_u64SectorCount(0), m_pFastRecovery(nullptr), m_nPercent(kDeepWeight), m_pScanCallBack(nullptr),
      m_pRecoveryCallBack(nullptr), m_pSearchCallBack(nullptr), m_pSearchParam(nullptr), m_pParam(nullptr),
      m_bFindLogFile(0), m_LogFileInfo(), m_u64UnreadableSectors(0) {}

CProfessionalRecovery::~CProfessionalRecovery() {
    delete m_pFastRecovery;
    if (m_hDevice >= 0) ::close(m_hDevice);
}

int CProfessionalRecovery::Init(int diskNo, long long startSector, long long sectorCount, wchar_t driveLetter) {
    m_nDiskNo = diskNo;
    m_u64StartSector = static_cast<uint64_t>(startSector);
    m_u64SectorCount = static_cast<uint64_t>(sectorCount);
    m_nDriveLetter = static_cast<uint32_t>(driveLetter);
    if (m_hDevice >= 0) ::close(m_hDevice);
    m_hDevice = ::open(GetDiskDevicePath(diskNo).c_str(), O_RDONLY | O_CLOEXEC);
    if (m_hDevice < 0) return errno; // a device that does not open cannot be scanned
    if (int rc = m_DiskReader.Init(diskNo, m_u64StartSector + m_u64SectorCount)) return rc;
    std::memset(&m_LogFileInfo, 0, sizeof m_LogFileInfo);
    std::string devicePath = DiskText(diskNo);
    m_bFindLogFile = CLogFileManager::GetInstance()->LoadRecoveryLogInfo(devicePath.c_str(), diskNo, m_u64StartSector,
                                                                         m_u64SectorCount, &m_LogFileInfo);
    m_ProfessionalFatRecovery.Init(diskNo, startSector, sectorCount, driveLetter);
    int rc = m_ProfessionalNtfsRecovery.Init(diskNo, startSector, sectorCount, driveLetter);
    delete m_pFastRecovery;
    m_pFastRecovery = CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(diskNo, startSector, sectorCount,
                                                                                     driveLetter, RECOVERY_TYPE_FAST);
    return rc;
}

int CProfessionalRecovery::Init(wchar_t* devicePath, wchar_t driveLetter) {
    if (!devicePath) return 87;
    char path[256];
    inner_uni2str(path, devicePath, sizeof path, -1);
    if (m_hDevice >= 0) ::close(m_hDevice);
    m_hDevice = ::open(path, O_RDONLY | O_CLOEXEC);
    if (m_hDevice < 0) return errno;
    uint64_t bytes = 0;
    if (int rc = GetDeviceSize(path, bytes)) return rc;
    m_nDriveLetter = static_cast<uint32_t>(driveLetter);
    m_nDiskNo = 128;
    m_u64StartSector = 0;
    m_u64SectorCount = bytes / kSectorBytes;
    m_strDevicePath = path;
    m_bFindLogFile = 0;
    std::memset(&m_LogFileInfo, 0, sizeof m_LogFileInfo);
    if (int rc = m_DiskReader.Init(devicePath, m_u64SectorCount)) return rc;
    m_ProfessionalFatRecovery.Init(devicePath, driveLetter);
    int rc = m_ProfessionalNtfsRecovery.Init(devicePath, driveLetter);
    delete m_pFastRecovery;
    m_pFastRecovery = CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(devicePath, driveLetter,
                                                                                     RECOVERY_TYPE_FAST);
    return rc;
}

int CProfessionalRecovery::InitCallBack(ScanCallBack scanCb, RecoveryCallBack recoveryCb, void* pParam, int) {
    m_pScanCallBack = scanCb;
    m_pRecoveryCallBack = recoveryCb;
    m_pParam = pParam;
    m_nPercent = kDeepWeight;
    if (m_pFastRecovery) m_pFastRecovery->InitCallBack(scanCb, recoveryCb, pParam, kQuickWeight);
    m_ProfessionalFatRecovery.InitCallBack(scanCb, recoveryCb, pParam, kDeepWeight);
    m_ProfessionalNtfsRecovery.InitCallBack(scanCb, recoveryCb, pParam, kDeepWeight);
    m_FileTypeRecovery.InitCallBack(scanCb, recoveryCb, pParam, kDeepWeight);
    return 0;
}

int CProfessionalRecovery::InitSearchCallBack(SearchCallBack cb, void* pParam) {
    m_pSearchCallBack = cb;
    m_pSearchParam = pParam;
    if (m_pFastRecovery) m_pFastRecovery->InitSearchCallBack(cb, pParam);
    m_ProfessionalFatRecovery.InitSearchCallBack(cb, pParam);
    m_ProfessionalNtfsRecovery.InitSearchCallBack(cb, pParam);
    m_FileTypeRecovery.InitSearchCallBack(cb, pParam);
    return 0;
}

void CProfessionalRecovery::SetNotLoadLogFile() {
    m_bFindLogFile = 0;
    if (m_LogFileInfo.szLogDirPath[0]) CLogFileManager::GetInstance()->DeleteLogFileDir(m_LogFileInfo.szLogDirPath);
    std::memset(&m_LogFileInfo, 0, sizeof m_LogFileInfo);
}

void CProfessionalRecovery::SetUpSubEngines(const char* foundDir) {
    CLogFileManager* log = CLogFileManager::GetInstance();
    wchar_t driveLetter = static_cast<wchar_t>(m_nDriveLetter);
    if (!foundDir) {
        if (m_strDevicePath.empty()) {
            m_FileTypeRecovery.Init(m_nDiskNo, static_cast<long long>(m_u64StartSector),
                                    static_cast<long long>(m_u64SectorCount), driveLetter);
        } else {
            std::wstring path = WideName(m_strDevicePath.c_str());
            m_FileTypeRecovery.Init(path.data(), driveLetter);
        }
        m_ProfessionalFatRecovery.ClearProfessionalVec(nullptr);
        m_ProfessionalNtfsRecovery.InitProfessionalScan(nullptr);
        return;
    }
    char name[256];
    char dir[256];
    std::strncpy(dir, foundDir, sizeof dir - 1);
    dir[sizeof dir - 1] = 0;
    name[0] = 0;
    log->GetLogFileNameByFileType(dir, const_cast<char*>("File_Type_"), name);
    std::wstring carved = WideName(name);
    uint64_t end = m_u64StartSector + m_u64SectorCount;
    if (m_strDevicePath.empty()) {
        m_FileTypeRecovery.InitLogFile(carved.data(), driveLetter, m_nDiskNo, kSectorBytes, end);
    } else {
        std::wstring path = WideName(m_strDevicePath.c_str());
        m_FileTypeRecovery.InitLogFile(carved.data(), driveLetter, path.data(), kSectorBytes, end);
    }
    name[0] = 0;
    log->GetLogFileNameByFileType(dir, const_cast<char*>("Pro_Fat_"), name);
    std::wstring fat = WideName(name);
    m_ProfessionalFatRecovery.ClearProfessionalVec(name[0] ? fat.data() : nullptr);
    name[0] = 0;
    log->GetLogFileNameByFileType(dir, const_cast<char*>("Pro_Ntfs_"), name);
    std::wstring ntfs = WideName(name);
    m_ProfessionalNtfsRecovery.InitProfessionalScan(name[0] ? ntfs.data() : nullptr);
}

bool CProfessionalRecovery::CollectFreeExtents(uint64_t& total) {
    // The free-run iterator must answer and move forward; an engine that leaves the
    // arguments alone (ext) or stops advancing gets the whole-area pass instead.
    constexpr uint64_t kUnanswered = ~uint64_t(0);
    total = 0;
    uint64_t sector = 0;
    uint64_t count = kUnanswered;
    m_pFastRecovery->GetUnUsedSectorCount(sector, count);
    if (count == kUnanswered) return false;
    uint64_t previousEnd = 0;
    for (uint64_t guard = 0; count != 0; ++guard) {
        if (count == kUnanswered || sector < previousEnd || sector + count > m_u64SectorCount || guard > m_u64SectorCount)
            return false;
        total += count;
        previousEnd = sector + count;
        sector = previousEnd;
        count = kUnanswered;
        m_pFastRecovery->GetUnUsedSectorCount(sector, count);
    }
    return true;
}

int CProfessionalRecovery::ScanDevice(wchar_t*) {
    CLogFileManager* log = CLogFileManager::GetInstance();
    bool done = m_bFindLogFile != 0;
    if (!m_bFindLogFile) log->AddDirIndex();
    const _LOG_FILE_INFO_ found = m_LogFileInfo;
    int result = 0;
    bool haveMap = false;
    uint64_t extentStart = 0, extentLength = 0, position = 0, scanned = 0, findFileCount = 0;
    m_u64UnreadableSectors = 0;

    if (m_pFastRecovery) {
        m_pFastRecovery->InitCallBack(m_pScanCallBack, m_pRecoveryCallBack, m_pParam, kQuickWeight);
        haveMap = m_pFastRecovery->BuildBitMapInfo() == 0;
        if (m_bFindLogFile) {
            char name[256] = {0};
            char dir[256];
            std::memcpy(dir, found.szLogDirPath, sizeof dir);
            log->GetLogFileNameByFileType(dir, const_cast<char*>("Fast_"), name);
            std::wstring wide = WideName(name);
            result = m_pFastRecovery->ScanDevice(wide.data());
        } else {
            result = m_pFastRecovery->ScanDevice(nullptr);
        }
    }

    if (result == 0) {
        SetUpSubEngines(m_bFindLogFile ? found.szLogDirPath : nullptr);
        OrvaleLog("InitVirtualDbrInfo Start\n");
        m_ProfessionalFatRecovery.InitVirtualDbrInfo();
        CFileTypeJudge::m_tsFileRangeVec.clear();
        std::vector<unsigned char> buffer(kChunkSectors * kSectorBytes);

        uint64_t total = 0;
        if (m_pFastRecovery && haveMap) haveMap = CollectFreeExtents(total);
        if (m_pFastRecovery && haveMap) {
            extentStart = 0;
            extentLength = 1;
            m_pFastRecovery->GetUnUsedSectorCount(extentStart, extentLength);
        } else {
            haveMap = false;
            total = m_u64SectorCount;
            extentStart = 0;
            extentLength = m_u64SectorCount;
        }
        uint64_t foundFromLog = 0;
        bool resumed = m_bFindLogFile != 0;
        if (resumed) {
            extentStart = found.u64ExtentStart;
            extentLength = found.u64ExtentLength;
            foundFromLog = found.u64FindFileCount;
        }
        findFileCount = foundFromLog;
        if (total == 0) total = 1;

        int estimate = -1;
        const long startTick = rsb_getTickCount();
        long lastEstimateTick = startTick;
        bool stopped = false;

        // A checkpoint writes the carved records found so far, then the position
        // reached, through "config"'s replace-by-rename, so a kill at any moment
        // leaves either the previous checkpoint or this one. Scans of a device
        // path are saved at their end only (each save adds a record for them).
        const long checkpointMs = CheckpointIntervalMs();
        long lastCheckpointTick = startTick;
        char checkpointDir[256];
        if (resumed) std::memcpy(checkpointDir, found.szLogDirPath, sizeof checkpointDir);
        else log->GetLogFileDirPath(checkpointDir);
        const std::string checkpointDevice = DiskText(m_nDiskNo);
        auto checkpoint = [&]() {
            unsigned carved = 0;
            m_FileTypeRecovery.GetChildrenFileCount(nullptr, 0, carved);  // flushes its store
            log->SaveLogFileInfo(checkpointDevice.c_str(), m_nDiskNo, m_u64StartSector, m_u64SectorCount, extentStart,
                                 extentLength, position, scanned, findFileCount, checkpointDir, "");
        };
        while (extentLength != 0 && !stopped) {
            position = 0;
            uint64_t remaining = extentLength;
            if (resumed) {
                position = found.u64ExtentOffset;
                scanned = found.u64ScannedSectors;
                remaining = position < extentLength ? extentLength - position : 0;
                m_bFindLogFile = 0;
                resumed = false;
            }
            while (remaining > 0) {
                int chunk = static_cast<int>(std::min<uint64_t>(kChunkSectors, remaining));
                uint64_t absolute = m_u64StartSector + extentStart + position;
                unsigned got = 0;
                int rc = m_DiskReader.ReadData(buffer.data(), chunk, static_cast<long long>(absolute), kSectorBytes, &got);
                if (rc != 0 && got < static_cast<unsigned>(chunk)) {
                    // Read the rest sector by sector: one bad sector costs only itself.
                    for (int s = static_cast<int>(got); s < chunk; ++s) {
                        unsigned one = 0;
                        unsigned char* p = buffer.data() + static_cast<size_t>(s) * kSectorBytes;
                        if (m_DiskReader.ReadData(p, 1, static_cast<long long>(absolute + s), kSectorBytes, &one) != 0 || one != 1) {
                            std::memset(p, 0, kSectorBytes);
                            ++m_u64UnreadableSectors;
                        } else {
                            ++got;
                        }
                    }
                }
                long long overshoot = 0;
                if (got > 0)
                    ParseProfessionalFileInfo(buffer.data(), chunk * kSectorBytes, absolute, scanned, total, estimate,
                                              overshoot, findFileCount);
                uint64_t step = static_cast<uint64_t>(chunk) + static_cast<uint64_t>(overshoot);
                position += step;
                scanned += std::min(step, remaining);
                remaining -= std::min(step, remaining);

                long now = rsb_getTickCount();
                if (m_strDevicePath.empty() && now - lastCheckpointTick >= checkpointMs) {
                    lastCheckpointTick = now;
                    checkpoint();
                }
                if (now - lastEstimateTick >= kEstimateIntervalMs && m_nPercent == kDeepWeight) {
                    lastEstimateTick = now;
                    uint64_t seconds = static_cast<uint64_t>(now - startTick) / 1000;
                    uint64_t rate = seconds ? uint64_t(kSectorBytes) * scanned / seconds : 0;
                    if (rate == 0) rate = 1;
                    estimate = static_cast<int>((total > scanned ? total - scanned : 0) * kSectorBytes / rate);
                }
                if (m_pScanCallBack) {
                    uint64_t files = static_cast<uint64_t>(GetLostFileCount()) + foundFromLog;
                    int r = m_pScanCallBack(m_pParam, static_cast<int>(scanned * 100 / total) + 10, m_nPercent, estimate,
                                            scanned, total, files, nullptr);
                    if (r != 0) {
                        result = r;
                        stopped = true;
                        break;
                    }
                }
            }
            if (stopped || !haveMap) break;
            uint64_t nextStart = extentStart + extentLength;
            uint64_t nextLength = 0;
            m_pFastRecovery->GetUnUsedSectorCount(nextStart, nextLength);
            if (nextLength != 0 && nextStart < extentStart + extentLength) break; // never walk backwards
            extentStart = nextStart;
            extentLength = nextLength;
            position = 0;
        }
        if (m_u64UnreadableSectors) OrvaleLog("unreadable sectors skipped: %llu\n", static_cast<unsigned long long>(m_u64UnreadableSectors));
        m_ProfessionalFatRecovery.DealProfessionalRecordVec();
        m_ProfessionalNtfsRecovery.ParseProfessionalRecordVec();
        done = true;
    }

    if (m_pScanCallBack && result == 0) m_pScanCallBack(m_pParam, 100, 100, 0, 0, 0, 0, nullptr);
    if (!done) {
        log->ReduceDirIndex();
        m_strDevicePath.clear();
        return result;
    }
    char dir[256];
    if (m_bFindLogFile) std::memcpy(dir, found.szLogDirPath, sizeof dir);
    else log->GetLogFileDirPath(dir);
    std::string devicePath = DiskText(m_nDiskNo);
    log->SaveLogFileInfo(devicePath.c_str(), m_nDiskNo, m_u64StartSector, m_u64SectorCount, extentStart, extentLength,
                         position, scanned, findFileCount, dir, m_strDevicePath.c_str());
    m_strDevicePath.clear();
    return result;
}

int CProfessionalRecovery::ParseProfessionalFileInfo(unsigned char* buffer, int bytes, uint64_t firstSector,
                                                     uint64_t scannedSectors, uint64_t totalSectors,
                                                     int remainingSeconds, long long& overshoot,
                                                     uint64_t& findFileCount) {
    overshoot = 0;
    if (!buffer || bytes < kSectorBytes) return 87;
    const uint64_t sectors = static_cast<uint64_t>(bytes) / kSectorBytes;
    int result = 0;
    uint64_t i = 0;
    std::vector<unsigned char> record;
    while (i < sectors) {
        unsigned char* p = buffer + i * kSectorBytes;
        const uint64_t absolute = firstSector + i;
        uint64_t step = 1;
        if (IsNtfsFileRecord(p, kRecordBytes)) {
            // The record parser gets a private, zero-padded copy: it fixes records up in place.
            record.assign(kRecordReadBytes, 0);
            uint64_t inBuffer = (sectors - i) * kSectorBytes;
            if (inBuffer >= kRecordBytes) {
                std::memcpy(record.data(), p, std::min<uint64_t>(inBuffer, kRecordReadBytes));
            } else {
                unsigned got = 0;
                int count = kRecordReadBytes / kSectorBytes;
                uint64_t limit = m_DiskReader.GetSectorLimit();
                if (absolute + count > limit) count = static_cast<int>(limit > absolute ? limit - absolute : 0);
                if (count <= 0 || m_DiskReader.ReadData(record.data(), count, static_cast<long long>(absolute), kSectorBytes, &got) != 0)
                    std::memcpy(record.data(), p, static_cast<size_t>(inBuffer));
            }
            result = m_ProfessionalNtfsRecovery.ParseNtfsFileRecord(record.data(), absolute);
        } else if (IsFatFileRecord(p)) {
            result = m_ProfessionalFatRecovery.ParseFatFileRecord(p, absolute);
        } else if (IsFatFDTRecord(p, kSectorBytes)) {
            result = m_ProfessionalFatRecovery.ParseFDTFileRecord(p, absolute);
        } else {
            uint64_t used = 1;
            result = m_FileTypeRecovery.ParseFileBuf(p, kSectorBytes, absolute, scannedSectors + i, totalSectors,
                                                     remainingSeconds, &m_DiskReader, kSectorBytes, used, findFileCount);
            if (result == RECOVERY_STOPPED) break;
            step = used ? used : 1;
        }
        i += step;
    }
    if (i > sectors) overshoot = static_cast<long long>(i - sectors);
    return result;
}

IFileRecoveryParse* CProfessionalRecovery::EngineOf(const _FILE_NODE_* node) {
    switch (node->nFileSystemType) {
    case FS_TYPE_FAST_NTFS:
    case FS_TYPE_FAST_FAT: return m_pFastRecovery;
    case FS_TYPE_PRO_NTFS: return &m_ProfessionalNtfsRecovery;
    case FS_TYPE_PRO_FAT: return &m_ProfessionalFatRecovery;
    case FS_TYPE_FILE_TYPE: return &m_FileTypeRecovery;
    default: return nullptr;
    }
}

int CProfessionalRecovery::GetChildrenFileCount(_FILE_NODE_* node, unsigned level, unsigned& count) {
    if (!node) {
        if (level != 0) return 87;
        unsigned part = 0;
        if (m_pFastRecovery && m_pFastRecovery->GetChildrenFileCount(nullptr, 0, part) == 0) count += part;
        part = 0;
        if (m_ProfessionalFatRecovery.GetChildrenFileCount(nullptr, 0, part) == 0) count += part;
        part = 0;
        if (m_ProfessionalNtfsRecovery.GetChildrenFileCount(nullptr, 0, part) == 0) count += part;
        part = 0;
        if (m_FileTypeRecovery.GetChildrenFileCount(nullptr, 0, part) == 0) count += part;
        return 0;
    }
    if (node->nFileSystemType == FS_TYPE_FILE_TYPE) return 0;
    IFileRecoveryParse* engine = EngineOf(node);
    if (engine) engine->GetChildrenFileCount(node, level, count);
    return 0;
}

int CProfessionalRecovery::GetChildrenFileNode(_FILE_NODE_* node, unsigned level, std::vector<_FILE_NODE_>& out) {
    int rc = 0;
    if (!node) {
        if (level != 0) {
            rc = 87;
        } else {
            if (m_pFastRecovery) m_pFastRecovery->GetChildrenFileNode(nullptr, 0, out);
            m_ProfessionalFatRecovery.GetChildrenFileNode(nullptr, 0, out);
            m_ProfessionalNtfsRecovery.GetChildrenFileNode(nullptr, 0, out);
            m_FileTypeRecovery.GetChildrenFileNode(nullptr, 0, out);
        }
    } else if (node->nFileSystemType != FS_TYPE_FILE_TYPE) {
        if (IFileRecoveryParse* engine = EngineOf(node)) engine->GetChildrenFileNode(node, level, out);
    }
    std::sort(out.begin(), out.end(), VectorCmp);
    return rc;
}

int CProfessionalRecovery::GetLostFileCount() {
    int n = m_ProfessionalFatRecovery.GetLostFileCount() + m_ProfessionalNtfsRecovery.GetLostFileCount() +
            m_FileTypeRecovery.GetLostFileCount();
    if (m_pFastRecovery) n += m_pFastRecovery->GetLostFileCount();
    return n;
}

int CProfessionalRecovery::GetFileNodeParentDirPath(_FILE_NODE_* node, wchar_t* path, int size) {
    if (!node) return 87;
    if (node->nFileSystemType > FS_TYPE_PRO_FAT) return 0;
    IFileRecoveryParse* engine = EngineOf(node);
    return engine ? engine->GetFileNodeParentDirPath(node, path, size) : 0;
}

int CProfessionalRecovery::SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int dirIndex) {
    if (!node) return 87;
    IFileRecoveryParse* engine = EngineOf(node);
    return engine ? engine->SaveFileData(node, targetPath, dirIndex) : 0;
}

int CProfessionalRecovery::PreView(_FILE_NODE_* node, wchar_t* tmpPath, unsigned char* buf, int& len,
                                   PreViewCallBack cb, void* pParam) {
    if (!node) return 87;
    IFileRecoveryParse* engine = EngineOf(node);
    return engine ? engine->PreView(node, tmpPath, buf, len, cb, pParam) : 0;
}

int CProfessionalRecovery::GetFileDataStartSectorMap(_FILE_NODE_* node, std::map<unsigned long long, std::string>& map) {
    if (!node) return 0;
    unsigned long long sector = 0;
    bool known = false;
    switch (node->nFileSystemType) {
    case FS_TYPE_FAST_NTFS:
    case FS_TYPE_PRO_NTFS: {
        std::vector<__RUNLIST__> runs;
        if (m_ProfessionalNtfsRecovery.GetRunListInfo(static_cast<long long>(node->u64RecordSector), 0x80, runs) == 0 &&
            !runs.empty()) {
            sector = static_cast<unsigned long long>(static_cast<long long>(node->nClusterBytes) * runs[0].n64RunOffset /
                                                     kSectorBytes) + node->u64PartitionStartSector;
            known = true;
        }
        break;
    }
    case FS_TYPE_FAST_FAT:
    case FS_TYPE_PRO_FAT: {
        long long perCluster = node->nClusterBytes / kSectorBytes;
        long long offset = node->nClusterNO == 0 ? -32 : (static_cast<long long>(node->nClusterNO) - 2) * perCluster;
        sector = static_cast<unsigned long long>(static_cast<long long>(node->u64DataStartSector + node->u64PartitionStartSector) + offset);
        known = true;
        break;
    }
    default: break;
    }
    if (known) {
        char ext[256] = {0};
        GetExtendName(node->szFileName, ext);
        map[sector] = ext;
    }
    return 0;
}

int CProfessionalRecovery::SearchFileNode(wchar_t* key, std::vector<__SEARCH_FILE_INFO__>& out) {
    if (m_pFastRecovery) m_pFastRecovery->SearchFileNode(key, out);
    std::map<unsigned long long, std::string> starts;
    for (__SEARCH_FILE_INFO__& hit : out) GetFileDataStartSectorMap(&hit, starts);
    // The deep engines meet again the deleted folders the quick engine already
    // listed (their clusters are free space); a deep hit whose data starts where a
    // quick hit of the same extension starts is that same file, listed once.
    std::vector<__SEARCH_FILE_INFO__> deep;
    m_ProfessionalFatRecovery.SearchFileNode(key, deep);
    m_ProfessionalNtfsRecovery.SearchFileNode(key, deep);
    // Each deep hit's start is worked out once (an NTFS one costs a record read)
    // and joins the map after the loop, so deep hits are compared with quick ones only.
    std::map<unsigned long long, std::string> deepStarts;
    for (__SEARCH_FILE_INFO__& hit : deep) {
        std::map<unsigned long long, std::string> own;
        GetFileDataStartSectorMap(&hit, own);
        if (!own.empty()) deepStarts[own.begin()->first] = own.begin()->second;
        if (!own.empty() && hit.u64FileSize != 0) {
            auto it = starts.find(own.begin()->first);
            if (it != starts.end() && ::strcasecmp(it->second.c_str(), own.begin()->second.c_str()) == 0) continue;
        }
        out.push_back(hit);
    }
    for (auto& start : deepStarts) starts[start.first] = start.second;
    std::vector<__SEARCH_FILE_INFO__> carved;
    m_FileTypeRecovery.SearchFileNode(key, carved);
    for (const __SEARCH_FILE_INFO__& hit : carved) {
        auto it = starts.find(hit.u64RecordSector);
        if (it != starts.end()) {
            char ext[256] = {0};
            GetExtendName(hit.szFileName, ext);
            if (::strcasecmp(ext, it->second.c_str()) == 0) continue;
            if (::strcasecmp(it->second.c_str(), "thm") == 0 && ::strcasecmp(ext, "jpg") == 0) continue;
        }
        out.push_back(hit);
    }
    std::sort(out.begin(), out.end(), SearchVectorCmp);
    return 0;
}
