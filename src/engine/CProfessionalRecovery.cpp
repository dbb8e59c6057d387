#include "engine/CProfessionalRecovery.h"

#include "carving/CFileTypeJudge.h"
#include "engine/CScanResultFileManager.h"
#include "engine/DeepEngines.h"
#include "engine/FileCategories.h"
#include "engine/QuickEngines.h"
#include "platform/DeviceMap.h"
#include "platform/Log.h"
#include "platform/PathHelpers.h"
#include "platform/Portability.h"
#include "platform/TextCodec.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <set>
#include <strings.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr int kSectorBytes = 512;
constexpr long kEstimateIntervalMs = 5000;
// The found count is a search over the stores: it is redone after a second, or
// after twenty times its own last duration, so it never costs the pass much.
constexpr long kCountIntervalMs = 1000;
constexpr long kCountCostFactor = 20;
constexpr int kDeepWeight = 90;
constexpr int kQuickWeight = 9;
// How often the deep pass records where it is, so that a process that is killed
// (not stopped) leaves a scan log that --resume continues from. ORVALE_CHECKPOINT_MS
// changes it (slow media, tests).
constexpr long kCheckpointIntervalMs = 5000;
constexpr long kFirstCheckpointMs = 1000;

long CheckpointIntervalMs() {
    const char* v = std::getenv("ORVALE_CHECKPOINT_MS");
    long ms = v ? std::strtol(v, nullptr, 10) : 0;
    return ms > 0 ? ms : kCheckpointIntervalMs;
}

std::string DiskText(int diskNo) { return "/dev/disk" + std::to_string(diskNo); }

std::wstring WideName(const char* name) { return Ansi2Unicode(name); }

bool IsQuickRecordType(uint32_t type) {
    return type == FS_TYPE_FAST_NTFS || type == FS_TYPE_FAST_FAT || type == FS_TYPE_FAST_EXFAT ||
           type == FS_TYPE_FAST_EXT;
}
} // namespace

CProfessionalRecovery::CProfessionalRecovery()
    : m_hDevice(-1), m_nDriveLetter('C'), m_nBytesPerSector(kSectorBytes), m_nDiskNo(0), m_u64StartSector(0),
      m_u64SectorCount(0), m_DeepEngines(NewDeepEngines()), m_pFastRecovery(nullptr), m_nPercent(kDeepWeight), m_pScanCallBack(nullptr),
      m_pRecoveryCallBack(nullptr), m_pSearchCallBack(nullptr), m_pSearchParam(nullptr), m_pParam(nullptr),
      m_bFindLogFile(0), m_LogFileInfo(), m_u64UnreadableSectors(0),
      m_strFoundKey(BuildSearchKey(CATEGORY_ALL)) {}

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
    // An area reaching past the device's end (a damaged partition entry) is scanned to the end only.
    const uint64_t deviceSectors = m_DiskReader.GetDeviceSectorCount();
    if (m_u64StartSector + m_u64SectorCount > deviceSectors) {
        m_u64SectorCount = deviceSectors > m_u64StartSector ? deviceSectors - m_u64StartSector : 0;
        sectorCount = static_cast<long long>(m_u64SectorCount);
    }
    std::memset(&m_LogFileInfo, 0, sizeof m_LogFileInfo);
    std::string devicePath = DiskText(diskNo);
    m_bFindLogFile = CLogFileManager::GetInstance()->LoadRecoveryLogInfo(devicePath.c_str(), diskNo, m_u64StartSector,
                                                                         m_u64SectorCount, &m_LogFileInfo);
    int rc = 0;
    for (auto& engine : m_DeepEngines) {
        int engineRc = engine->Init(diskNo, startSector, sectorCount, driveLetter);
        if (!rc) rc = engineRc;
    }
    delete m_pFastRecovery;
    m_pFastRecovery = CreateQuickEngine(diskNo, startSector, sectorCount, driveLetter);
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
    int rc = 0;
    for (auto& engine : m_DeepEngines) {
        int engineRc = engine->Init(devicePath, driveLetter);
        if (!rc) rc = engineRc;
    }
    delete m_pFastRecovery;
    m_pFastRecovery = CreateQuickEngine(devicePath, driveLetter);
    return rc;
}

int CProfessionalRecovery::InitCallBack(ScanCallBack scanCb, RecoveryCallBack recoveryCb, void* pParam, int) {
    m_pScanCallBack = scanCb;
    m_pRecoveryCallBack = recoveryCb;
    m_pParam = pParam;
    m_nPercent = kDeepWeight;
    if (m_pFastRecovery) m_pFastRecovery->InitCallBack(RelayScan, RelayRecovery, this, kQuickWeight);
    for (auto& engine : m_DeepEngines) engine->InitCallBack(RelayScan, RelayRecovery, this, kDeepWeight);
    return 0;
}

// Reports of the engines inside carry their own counts; the one shown is the composite's.
int CProfessionalRecovery::RelayScan(void* pParam, int nProgress, int nPercent, int nRemaindSecond, uint64_t cur,
                                     uint64_t total, uint64_t, wchar_t* name) {
    auto* self = static_cast<CProfessionalRecovery*>(pParam);
    if (!self->m_pScanCallBack) return 0;
    if (nPercent == kDeepWeight && total) {
        // A read-ahead reports from where its file began: the pass shown never goes back.
        nProgress = std::max(nProgress, self->m_nPassProgress);
        cur = std::max(cur, self->m_u64PassSector);
        self->m_nPassProgress = nProgress;
        self->m_u64PassSector = cur;
    }
    return self->m_pScanCallBack(self->m_pParam, nProgress, nPercent, nRemaindSecond, cur, total, self->m_u64FoundShown,
                                 name);
}

int CProfessionalRecovery::RelayRecovery(void* pParam, int nProgress, int nPercent, int nErrorCode, wchar_t* name) {
    auto* self = static_cast<CProfessionalRecovery*>(pParam);
    return self->m_pRecoveryCallBack ? self->m_pRecoveryCallBack(self->m_pParam, nProgress, nPercent, nErrorCode, name) : 0;
}

int CProfessionalRecovery::InitSearchCallBack(SearchCallBack cb, void* pParam) {
    m_pSearchCallBack = cb;
    m_pSearchParam = pParam;
    if (m_pFastRecovery) m_pFastRecovery->InitSearchCallBack(cb, pParam);
    for (auto& engine : m_DeepEngines) engine->InitSearchCallBack(cb, pParam);
    return 0;
}

void CProfessionalRecovery::SetNotLoadLogFile() {
    m_bFindLogFile = 0;
    if (m_LogFileInfo.szLogDirPath[0]) CLogFileManager::GetInstance()->DeleteLogFileDir(m_LogFileInfo.szLogDirPath);
    std::memset(&m_LogFileInfo, 0, sizeof m_LogFileInfo);
}

void CProfessionalRecovery::BeginDeepEngines(const char* foundDir) {
    CLogFileManager* log = CLogFileManager::GetInstance();
    for (auto& engine : m_DeepEngines) {
        // A resumed scan reopens each engine's store in the scan's log folder.
        char name[256] = {0};
        if (foundDir) {
            char dir[256];
            std::strncpy(dir, foundDir, sizeof dir - 1);
            dir[sizeof dir - 1] = 0;
            log->GetLogFileNameByFileType(dir, const_cast<char*>(engine->StorePrefix()), name);
        }
        std::wstring store = WideName(name);
        // Carved records written after the checkpoint the scan resumes from are found
        // again. A pass not yet finished is rebuilt whole by the other engines: they
        // are offered again what they took before the stop.
        const uint64_t kept = m_LogFileInfo.u64Reserved;  // copies: the log record is packed
        const uint64_t unfinished = m_LogFileInfo.u64ExtentLength;
        const bool carver = engine.get() == &Carver();
        if (name[0] && (carver ? kept != 0 : unfinished != 0)) {
            CScanResultFileManager records;
            if (records.Init(store.c_str()) == 0)
                records.KeepFirstRecords(carver ? static_cast<uint32_t>(std::min<uint64_t>(kept, 0xFFFFFFFFu)) : 0);
        }
        engine->BeginDeepPass(name[0] ? &store[0] : nullptr);
    }
}

bool CProfessionalRecovery::CollectFreeExtents(std::vector<PassExtent>& extents, uint64_t& total) {
    // The free-run iterator must answer and move forward; an engine that leaves the
    // arguments alone or stops advancing gets the whole-area pass instead.
    constexpr uint64_t kUnanswered = ~uint64_t(0);
    total = 0;
    extents.clear();
    uint64_t sector = 0;
    uint64_t count = kUnanswered;
    m_pFastRecovery->GetUnUsedSectorCount(sector, count);
    if (count == kUnanswered) return false;
    uint64_t previousEnd = 0;
    for (uint64_t guard = 0; count != 0; ++guard) {
        if (count == kUnanswered || sector < previousEnd || sector + count > m_u64SectorCount || guard > m_u64SectorCount)
            return false;
        extents.push_back({sector, count});
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
    m_u64FoundShown = 0;
    m_nPassProgress = 0;
    m_u64PassSector = 0;
    bool done = m_bFindLogFile != 0;
    if (!m_bFindLogFile) log->AddDirIndex();
    const _LOG_FILE_INFO_ found = m_LogFileInfo;
    int result = 0;
    bool haveMap = false;
    uint64_t extentStart = 0, extentLength = 0, position = 0, scanned = 0, findFileCount = 0;
    m_u64UnreadableSectors = m_u64FirstUnreadable = m_u64LastUnreadable = 0;

    if (m_pFastRecovery) {
        m_pFastRecovery->InitCallBack(RelayScan, RelayRecovery, this, kQuickWeight);
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
        BeginDeepEngines(m_bFindLogFile ? found.szLogDirPath : nullptr);
        CFileTypeJudge::m_tsFileRangeVec.clear();

        uint64_t total = 0;
        std::vector<PassExtent> plan;
        if (m_pFastRecovery && haveMap) haveMap = CollectFreeExtents(plan, total);
        if (!(m_pFastRecovery && haveMap)) {
            haveMap = false;
            total = m_u64SectorCount;
            plan.assign(1, PassExtent{0, m_u64SectorCount});
        }
        const bool resumed = m_bFindLogFile != 0;
        if (resumed) {
            // The interrupted extent as it was saved, then the free runs after it.
            std::vector<PassExtent> rest{{found.u64ExtentStart, found.u64ExtentLength}};
            if (haveMap)
                for (const PassExtent& e : plan)
                    if (e.start >= found.u64ExtentStart + found.u64ExtentLength) rest.push_back(e);
            plan.swap(rest);
            position = found.u64ExtentOffset;
            scanned = found.u64ScannedSectors;
            findFileCount = found.u64FindFileCount;
            m_bFindLogFile = 0;
        }
        if (total == 0) total = 1;
        // A volume with no free cluster leaves the pass nothing to read.
        extentStart = plan.empty() ? 0 : plan.front().start;
        extentLength = plan.empty() ? 0 : plan.front().length;

        int estimate = -1;
        // What the quick scan and a resumed scan's stores already hold.
        m_u64FoundShown = CountFound();
        const long startTick = rsb_getTickCount();
        long lastCountTick = startTick;
        long countGap = kCountIntervalMs;
        long lastEstimateTick = startTick;
        bool stopped = false;

        // A checkpoint writes the carved records found so far, then the position
        // reached, through "config"'s replace-by-rename, so a kill at any moment
        // leaves either the previous checkpoint or this one. Scans of a device
        // path are saved at their end only (each save adds a record for them).
        const long checkpointMs = CheckpointIntervalMs();
        // The first checkpoint comes after a second: a scan killed early keeps its progress too.
        long lastCheckpointTick = startTick - checkpointMs + std::min(checkpointMs, kFirstCheckpointMs);
        char checkpointDir[256];
        if (resumed) std::memcpy(checkpointDir, found.szLogDirPath, sizeof checkpointDir);
        else log->GetLogFileDirPath(checkpointDir);
        const std::string checkpointDevice = DiskText(m_nDiskNo);
        // The metadata engines hold what they found in memory until the pass ends:
        // a resumed pass offers them again the sectors they took before the stop.
        if (m_strDevicePath.empty()) {
            const bool rebuild = resumed && found.u64ExtentLength != 0;
            const uint64_t keepBelow = !resumed ? 0
                                       : rebuild ? m_u64StartSector + found.u64ExtentStart + found.u64ExtentOffset
                                                 : UINT64_MAX;
            if (m_Offers.Open(checkpointDir, keepBelow) && rebuild) OfferNotedAgain(total);
        }
        auto checkpoint = [&]() {
            unsigned carved = 0;
            Carver().GetChildrenFileCount(nullptr, 0, carved);  // flushes its store
            m_Offers.Sync();
            // The records reach the disk before the position that covers them.
            SyncFolder(checkpointDir);
            log->SaveLogFileInfo(checkpointDevice.c_str(), m_nDiskNo, m_u64StartSector, m_u64SectorCount, extentStart,
                                 extentLength, position, scanned, findFileCount, checkpointDir, "",
                                 static_cast<uint64_t>(Carver().GetLostFileCount()));
        };

        CPassReader reads(m_DiskReader, m_u64StartSector, plan, position, m_bOverlappedReads);
        size_t extent = 0;
        while (const PassBlock* block = reads.Next()) {
            if (block->extent != extent) {
                // A file measured past its extent's end does not carry into the next one.
                extent = block->extent;
                extentStart = plan[extent].start;
                extentLength = plan[extent].length;
                position = 0;
            }
            const uint64_t blockEnd = block->offset + block->count;
            if (blockEnd <= position || !block->read) continue;  // a measured file covered it
            const uint64_t skip = position > block->offset ? position - block->offset : 0;
            const uint64_t piece = block->count - skip;
            const uint64_t absolute = m_u64StartSector + extentStart + position;
            size_t lost = 0;
            for (uint32_t bad : block->unreadable) {
                if (bad < skip) continue;
                m_u64LastUnreadable = m_u64StartSector + extentStart + block->offset + bad;
                if (!lost++ && !m_u64UnreadableSectors) m_u64FirstUnreadable = m_u64LastUnreadable;
            }
            m_u64UnreadableSectors += lost;
            long long overshoot = 0;
            int offered = 0;
            if (lost < piece)
                offered = ParseProfessionalFileInfo(const_cast<unsigned char*>(block->data.data()) + skip * kSectorBytes,
                                                    static_cast<int>(piece * kSectorBytes), absolute, scanned, total,
                                                    estimate, overshoot, findFileCount);
            const uint64_t remaining = extentLength - position;
            // A stop inside the block ends the pass at the sector being offered, so a
            // resumed scan offers it again instead of passing the file it began.
            const uint64_t step = static_cast<uint64_t>(static_cast<long long>(piece) + overshoot);
            position += step;
            scanned += std::min(step, remaining);
            reads.PassedTo(extent, position);
            if (offered == RECOVERY_STOPPED) {
                result = offered;
                stopped = true;
                break;
            }

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
                if (now - lastCountTick >= countGap) {
                    // A file the stores list now stays listed (a later copy replaces it), so the count only grows.
                    m_u64FoundShown = std::max(m_u64FoundShown, CountFound());
                    lastCountTick = rsb_getTickCount();
                    countGap = std::max(kCountIntervalMs, kCountCostFactor * (lastCountTick - now));
                }
                int r = RelayScan(this, static_cast<int>(scanned * 100 / total) + 10, m_nPercent, estimate, scanned,
                                  total, m_u64FoundShown, nullptr);
                if (r != 0) {
                    result = r;
                    stopped = true;
                    break;
                }
            }
        }
        m_Offers.Sync();
        m_Offers.Close();
        if (!stopped && haveMap) {
            // Every free run was scanned: the saved position says so.
            extentLength = 0;
            position = 0;
        }
        if (m_u64UnreadableSectors) OrvaleLog("unreadable sectors skipped: %llu\n", static_cast<unsigned long long>(m_u64UnreadableSectors));
        for (auto& engine : m_DeepEngines) engine->EndDeepPass();
        done = true;
    }

    if (m_pScanCallBack && result == 0) {
        // The last report carries the count the search will list.
        m_u64FoundShown = done ? CountFound() : 0;
        m_pScanCallBack(m_pParam, 100, 100, 0, scanned, scanned, m_u64FoundShown, nullptr);
    }
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
                         position, scanned, findFileCount, dir, m_strDevicePath.c_str(),
                         static_cast<uint64_t>(Carver().GetLostFileCount()));
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
    while (i < sectors) {
        DeepSector offer{buffer + i * kSectorBytes, static_cast<size_t>((sectors - i) * kSectorBytes), firstSector + i,
                         scannedSectors + i, totalSectors, remainingSeconds, &m_DiskReader};
        uint64_t step = 1;
        for (auto& engine : m_DeepEngines) {
            uint64_t used = 1;
            result = engine->OfferSector(offer, used, findFileCount);
            if (result == 0) continue;
            if (result != RECOVERY_STOPPED && engine.get() != &Carver()) m_Offers.Note(offer.absolute);
            if (result == kOfferNoted) {
                result = 0;
                continue;
            }
            step = used ? used : 1;
            break;
        }
        if (result == RECOVERY_STOPPED) break;
        i += step;
    }
    overshoot = static_cast<long long>(i) - static_cast<long long>(sectors); // negative after a stop

    return result;
}

void CProfessionalRecovery::OfferNotedAgain(uint64_t total) {
    // Noted sectors come in clusters (a folder's sectors, a run of records): one
    // read serves the next ones, each still seeing enough bytes after it.
    constexpr uint64_t kWindow = 256, kLeast = 16;
    const uint64_t end = m_u64StartSector + m_u64SectorCount;
    std::vector<unsigned char> buf(kWindow * kSectorBytes);
    uint64_t bufStart = 0, bufSectors = 0;
    uint64_t ignored = 0;
    for (uint64_t sector : m_Offers.Kept()) {
        if (sector < m_u64StartSector || sector >= end) continue;
        if (sector < bufStart || sector + std::min(kLeast, end - sector) > bufStart + bufSectors) {
            unsigned got = 0;
            const uint64_t want = std::min(kWindow, end - sector);
            m_DiskReader.ReadData(buf.data(), static_cast<int>(want), static_cast<long long>(sector), kSectorBytes, &got);
            bufStart = sector;
            bufSectors = got;
            if (got == 0) continue;
        }
        const uint64_t at = sector - bufStart;
        DeepSector offer{buf.data() + at * kSectorBytes, static_cast<size_t>((bufSectors - at) * kSectorBytes), sector,
                         0, total, -1, &m_DiskReader};
        for (auto& engine : m_DeepEngines) {
            if (engine.get() == &Carver()) break;
            uint64_t used = 1;
            const int r = engine->OfferSector(offer, used, ignored);
            if (r != 0 && r != kOfferNoted) break;
        }
    }
}

IFileRecoveryParse* CProfessionalRecovery::EngineOf(const _FILE_NODE_* node) {
    if (IsQuickRecordType(node->nFileSystemType)) return m_pFastRecovery;
    for (auto& engine : m_DeepEngines)
        if (engine->OwnsRecordType(node->nFileSystemType)) return engine.get();
    return nullptr;
}

int CProfessionalRecovery::GetChildrenFileCount(_FILE_NODE_* node, unsigned level, unsigned& count) {
    if (!node) {
        if (level != 0) return 87;
        unsigned part = 0;
        if (m_pFastRecovery && m_pFastRecovery->GetChildrenFileCount(nullptr, 0, part) == 0) count += part;
        for (auto& engine : m_DeepEngines) {
            part = 0;
            if (engine->GetChildrenFileCount(nullptr, 0, part) == 0) count += part;
        }
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
            for (auto& engine : m_DeepEngines) engine->GetChildrenFileNode(nullptr, 0, out);
        }
    } else if (node->nFileSystemType != FS_TYPE_FILE_TYPE) {
        if (IFileRecoveryParse* engine = EngineOf(node)) engine->GetChildrenFileNode(node, level, out);
    }
    std::sort(out.begin(), out.end(), VectorCmp);
    return rc;
}

uint64_t CProfessionalRecovery::CountFound() {
    const SearchCallBack cb = m_pSearchCallBack;
    void* const param = m_pSearchParam;
    InitSearchCallBack(nullptr, nullptr);
    std::vector<__SEARCH_FILE_INFO__> hits;
    SearchFileNode(m_strFoundKey.data(), hits);
    InitSearchCallBack(cb, param);
    return hits.size();
}

int CProfessionalRecovery::GetLostFileCount() {
    int n = 0;
    for (auto& engine : m_DeepEngines) n += engine->GetLostFileCount();
    if (m_pFastRecovery) n += m_pFastRecovery->GetLostFileCount();
    return n;
}

int CProfessionalRecovery::GetFileNodeParentDirPath(_FILE_NODE_* node, wchar_t* path, int size) {
    if (!node) return 87;
    if (node->nFileSystemType == FS_TYPE_FILE_TYPE) return 0;  // carved files have no folder
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

int CProfessionalRecovery::GetFileDataStartSector(_FILE_NODE_* node, uint64_t& absoluteSector) {
    if (!node || node->nFileSystemType == FS_TYPE_FILE_TYPE) return 1;
    IFileRecoveryParse* engine = EngineOf(node);
    return engine ? engine->GetFileDataStartSector(node, absoluteSector) : 1;
}

bool CProfessionalRecovery::DataStartOf(_FILE_NODE_* node, uint64_t& sector, std::string& ext) {
    if (GetFileDataStartSector(node, sector) != 0) return false;
    char buf[256] = {0};
    GetExtendName(node->szFileName, buf);
    ext = buf;
    return true;
}

int CProfessionalRecovery::SearchFileNode(wchar_t* key, std::vector<__SEARCH_FILE_INFO__>& out) {
    if (m_pFastRecovery) m_pFastRecovery->SearchFileNode(key, out);
    // Where each quick hit's data starts, with its extension; and where any found
    // file's data starts (folders and empty files own no data).
    std::map<uint64_t, std::string> quickStarts;
    std::set<uint64_t> fileStarts;
    // Empty files own no data: the same one is known by its entry's sector and name.
    auto entryOf = [](const __SEARCH_FILE_INFO__& hit) {
        std::string name = hit.szFileName;
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return std::make_pair(hit.u64RecordSector, name);
    };
    std::set<std::pair<uint64_t, std::string>> quickEmpties;
    uint64_t sector = 0;
    std::string ext;
    for (__SEARCH_FILE_INFO__& hit : out) {
        if (!hit.bIsDir && hit.u64FileSize == 0) quickEmpties.insert(entryOf(hit));
        if (!DataStartOf(&hit, sector, ext)) continue;
        quickStarts.emplace(sector, ext);
        if (!hit.bIsDir && hit.u64FileSize != 0) fileStarts.insert(sector);
    }
    // The deep engines meet again the deleted folders the quick engine already
    // listed (their clusters are free space); a deep hit whose data starts where a
    // quick hit of the same extension starts is that same file, listed once.
    IDeepEngine* carver = &Carver();
    for (auto& engine : m_DeepEngines) {
        if (engine.get() == carver) continue;
        std::vector<__SEARCH_FILE_INFO__> deep;
        engine->SearchFileNode(key, deep);
        for (__SEARCH_FILE_INFO__& hit : deep) {
            if (!hit.bIsDir && hit.u64FileSize == 0 && quickEmpties.count(entryOf(hit))) continue;
            if (DataStartOf(&hit, sector, ext) && hit.u64FileSize != 0) {
                if (!hit.bIsDir) fileStarts.insert(sector);
                auto it = quickStarts.find(sector);
                if (it != quickStarts.end() && ::strcasecmp(it->second.c_str(), ext.c_str()) == 0) continue;
            }
            out.push_back(hit);
        }
    }
    // A carved file that starts where a file-system file starts is that file,
    // whatever type the carver gave it (an OpenDocument file is a zip to it).
    std::vector<__SEARCH_FILE_INFO__> carved;
    carver->SearchFileNode(key, carved);
    for (const __SEARCH_FILE_INFO__& hit : carved)
        if (fileStarts.find(hit.u64RecordSector) == fileStarts.end()) out.push_back(hit);
    std::sort(out.begin(), out.end(), SearchVectorCmp);
    return 0;
}
