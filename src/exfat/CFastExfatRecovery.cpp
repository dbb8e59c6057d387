#include "exfat/CFastExfatRecovery.h"

#include "engine/FreeClusterRuns.h"
#include "platform/DeviceMap.h"
#include "platform/Log.h"
#include "platform/Portability.h"
#include "platform/TextCodec.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr long kReportIntervalMs = 5000;
// The format bounds a directory at 256 MiB; a chain that claims more is damage.
constexpr uint64_t kMaxDirBytes = 256ull << 20;
// Both boot regions with sectors of up to 4 KiB.
constexpr uint64_t kBootAreaBytes = 24 * 4096;
} // namespace

CFastExfatRecovery::CFastExfatRecovery() : m_Results(&m_DiskReader) {}

int CFastExfatRecovery::Init(int diskNo, long long startSector, long long sectorCount, wchar_t driveLetter) {
    if (m_DiskReader.IsOpen()) return 0;
    if (startSector < 0 || sectorCount <= 0) return 87;
    m_nDriveLetter = uint32_t(driveLetter);
    int rc = m_DiskReader.Init(diskNo, uint64_t(startSector) + uint64_t(sectorCount));
    if (rc != 0) return rc;
    return OpenVolume(uint64_t(startSector), uint64_t(sectorCount));
}

int CFastExfatRecovery::Init(wchar_t* devicePath, wchar_t driveLetter) {
    if (m_DiskReader.IsOpen()) return 0;
    if (!devicePath) return 87;
    uint64_t bytes = 0;
    int rc = GetDeviceSize(WideToUtf8(devicePath), bytes);
    if (rc != 0) return rc;
    m_nDriveLetter = uint32_t(driveLetter);
    rc = m_DiskReader.Init(devicePath, bytes / 512);
    if (rc != 0) return rc;
    return OpenVolume(0, bytes / 512);
}

int CFastExfatRecovery::OpenVolume(uint64_t startSector, uint64_t sectorCount) {
    m_u64StartSector = startSector;
    m_u64SectorCount = sectorCount;
    const uint64_t bytes = std::min<uint64_t>(kBootAreaBytes, sectorCount * 512);
    std::vector<uint8_t> area(size_t(bytes), 0);
    unsigned got = 0;
    m_DiskReader.ReadData(area.data(), int(bytes / 512), (long long)startSector, 512, &got);
    area.resize(size_t(got) * 512);
    if (ParseExfatBootRegion(ByteView(area.data(), area.size()), m_Geometry, &m_bUsedBackup) != 0) {
        OrvaleLog("CFastExfatRecovery: no boot region describes an exFAT volume\n");
        return 87;
    }
    if (m_bUsedBackup) OrvaleLog("CFastExfatRecovery: main boot region damaged, the backup is used\n");
    m_bGeometryValid = true;
    m_Results.ClearVolumes();
    m_pVolume = m_Results.AddVolume(
        std::unique_ptr<ExfatVolume>(new ExfatVolume(&m_DiskReader, startSector, m_Geometry, true)));
    m_Results.SetRootKey(m_Geometry.nRootCluster);
    return 0;
}

int CFastExfatRecovery::InitCallBack(ScanCallBack scanCb, RecoveryCallBack recoveryCb, void* pParam, int nPercent) {
    m_pScanCallBack = scanCb;
    m_pParam = pParam;
    m_nPercent = nPercent;
    m_Results.SetRecoveryCallBack(recoveryCb, pParam);
    return 0;
}

int CFastExfatRecovery::Report(int progress, int remaindSecond) {
    if (!m_pScanCallBack) return 0;
    return m_pScanCallBack(m_pParam, progress, m_nPercent, remaindSecond, 0, 0, 0, nullptr);
}

int CFastExfatRecovery::ReadDirectory(const DirToRead& dir, std::vector<uint8_t>& bytes) {
    std::vector<EXFAT_RUN> runs;
    const uint64_t length = std::min(dir.u64Length, kMaxDirBytes);
    ExfatMapRuns(m_Geometry, dir.nCluster, length, dir.nLayout, m_pVolume->FatLookup(), m_pVolume->Bitmap(), runs);
    if (runs.empty()) return 87;
    return m_pVolume->ReadRuns(runs, length, bytes);
}

int CFastExfatRecovery::BuildBitMapInfo() {
    if (!m_bGeometryValid) return 87;
    if (m_bBitmapLoaded) return 0;
    std::vector<uint8_t> root;
    ReadDirectory({m_Geometry.nRootCluster, kMaxDirBytes, EXFAT_LAYOUT_CHAIN, false, 0}, root);
    std::vector<EXFAT_ENTRY_SET> sets;
    EXFAT_ROOT_ENTRIES entries;
    ParseExfatDirectory(ByteView(root.data(), root.size()), sets, &entries);
    int rc = entries.nBitmapCluster ? m_pVolume->LoadBitmap(entries.nBitmapCluster, entries.u64BitmapLength) : 87;
    if (rc != 0) {
        OrvaleLog("CFastExfatRecovery: the allocation bitmap cannot be read (%d)\n", rc);
        return rc;
    }
    m_bBitmapLoaded = true;
    return 0;
}

int CFastExfatRecovery::GetUnUsedSectorCount(uint64_t& sector, uint64_t& count) {
    if (!m_bBitmapLoaded) return 0;
    const std::vector<uint8_t>& bits = m_pVolume->BitmapBytes();
    CLUSTER_BITMAP_VIEW view;
    view.pBits = bits.data();
    view.nBytes = uint32_t(bits.size());
    view.nClusterCount = m_Geometry.nClusterCount;
    view.nSectorsPerCluster = m_Geometry.nSectorsPerCluster * m_Geometry.Scale();
    view.nDataStartSector = uint32_t(m_Geometry.HeapSector());
    const uint64_t volume = m_Geometry.u64VolumeSectors * m_Geometry.Scale();
    view.u64SectorCount = std::min(m_u64SectorCount, volume);
    return NextFreeClusterRun(view, sector, count);
}

int CFastExfatRecovery::ScanDevice(wchar_t* resultName) {
    m_DirMap.clear();
    m_DirDepth.clear();
    m_FoundDirVec.clear();
    m_FoundDirSet.clear();
    if (resultName) return m_Results.OpenStore("Fast_", m_u64StartSector, resultName);
    if (!m_bGeometryValid) return 87;
    int rc = m_Results.OpenStore("Fast_", m_u64StartSector, nullptr);
    if (rc != 0) return rc;
    // Without the bitmap nothing tells free from reused clusters: every judgement falls back to signatures.
    BuildBitMapInfo();

    int result = Report(1, -1);
    std::vector<DirToRead> queue{{m_Geometry.nRootCluster, kMaxDirBytes, EXFAT_LAYOUT_CHAIN, false, 0}};
    m_DirDepth[m_Geometry.nRootCluster] = 0;
    std::set<uint32_t> visited;
    long lastReport = rsb_getTickCount();
    int step100 = 2, remain100 = 99, step9 = 21;
    for (size_t next = 0; result == 0 && next < queue.size(); ++next) {
        const DirToRead dir = queue[next];
        if (!visited.insert(dir.nCluster).second) continue;
        ReadOneDir(dir, queue); // an unreadable folder costs only that folder
        long now = rsb_getTickCount();
        if (now - lastReport >= kReportIntervalMs) {
            lastReport = now;
            if (m_nPercent == 100) result = Report(std::min(step100++, 79), remain100 > 11 ? remain100-- : 11);
            else if (m_nPercent == 9) result = Report(std::min(step9++, 79), -1);
        }
    }
    if (result == 0) {
        result = Report(80, 10);
        if (result == 0) StoreFoundDirs();
    }
    m_Results.Store()->FlushBufToFile();
    if (result == 0) result = Report(100, 0);
    return result;
}

void CFastExfatRecovery::ReadOneDir(const DirToRead& dir, std::vector<DirToRead>& queue) {
    std::vector<uint8_t> bytes;
    ReadDirectory(dir, bytes);
    std::vector<EXFAT_ENTRY_SET> sets;
    ParseExfatDirectory(ByteView(bytes.data(), bytes.size()), sets);
    // Where each byte of the directory lies on the disk, for the records' metadata sectors.
    std::vector<EXFAT_RUN> runs;
    ExfatMapRuns(m_Geometry, dir.nCluster, std::min<uint64_t>(dir.u64Length, kMaxDirBytes), dir.nLayout,
                 m_pVolume->FatLookup(), m_pVolume->Bitmap(), runs);
    const uint64_t cb = m_Geometry.ClusterBytes();
    auto entrySector = [&](uint64_t offset) {
        uint64_t index = offset / cb;
        for (const EXFAT_RUN& r : runs) {
            if (index < r.nCount) return m_pVolume->ClusterSector(r.nCluster + uint32_t(index)) + (offset % cb) / 512;
            index -= r.nCount;
        }
        return uint64_t(0);
    };
    const EXFAT_BITMAP bitmap = m_pVolume->Bitmap();
    for (const EXFAT_ENTRY_SET& set : sets) {
        const bool deleted = set.bDeleted || dir.bDeleted;
        const uint64_t sector = entrySector(set.nOffset);
        if (!set.IsDir()) {
            if (deleted) RecordFile(set, dir, sector);
            continue;
        }
        const uint32_t c = set.nFirstCluster;
        if (!m_Geometry.IsDataCluster(c) || c == dir.nCluster) continue;
        // A deleted folder whose first cluster is allocated again holds someone else's entries now.
        if (deleted && bitmap.InUse(c)) continue;
        auto known = m_DirMap.find(c);
        if (known != m_DirMap.end() && known->second.nReserved == 0 && deleted) continue;
        _FILE_NODE_ node;
        FillNode(node, set, sector);
        node.bIsDir = 1;
        node.bIsHealth = 1;
        node.nReserved = deleted ? EXFAT_NODE_DELETED : 0;
        node.nFileIndex = dir.nCluster; // the parent until the folder is stored
        m_DirMap[c] = node;
        m_DirDepth[c] = dir.nDepth + 1;
        queue.push_back({c, set.u64DataLength, LayoutOf(set, deleted), deleted, dir.nDepth + 1});
    }
}

EXFAT_LAYOUT CFastExfatRecovery::LayoutOf(const EXFAT_ENTRY_SET& set, bool deleted) {
    if (!deleted) return set.NoFatChain() ? EXFAT_LAYOUT_CONTIGUOUS : EXFAT_LAYOUT_CHAIN;
    return ExfatDeletedLayout(m_Geometry, set.nFirstCluster, set.u64DataLength, set.NoFatChain(),
                              m_pVolume->FatLookup(), m_pVolume->Bitmap());
}

void CFastExfatRecovery::FillNode(_FILE_NODE_& node, const EXFAT_ENTRY_SET& set, uint64_t entrySector) const {
    std::memset(&node, 0, sizeof node);
    node.nDriveLetter = m_nDriveLetter;
    node.nFileSystemType = FS_TYPE_FAST_EXFAT;
    node.nClusterNO = set.nFirstCluster;
    node.nClusterBytes = m_Geometry.ClusterBytes();
    node.u64CreateTime = set.u64CreateTime;
    node.u64AccessTime = set.u64AccessTime;
    node.u64ModifyTime = set.u64ModifyTime;
    node.u64FileSize = set.u64DataLength;
    node.u64DataStartSector = m_Geometry.HeapSector();
    node.u64RecordSector = entrySector;
    node.u64PartitionStartSector = m_u64StartSector;
    ExfatNameToAnsi(set, node.szFileName, sizeof node.szFileName);
}

void CFastExfatRecovery::RecordFile(const EXFAT_ENTRY_SET& set, const DirToRead& dir, uint64_t entrySector) {
    _FILE_NODE_ node;
    FillNode(node, set, entrySector);
    node.nReserved = LayoutOf(set, true);
    std::vector<EXFAT_RUN> runs;
    m_Results.Runs(node, runs);
    node.bIsHealth = m_Results.JudgeHealth(*m_pVolume, node, runs, m_bBitmapLoaded);
    CScanResultFileManager* store = m_Results.Store();
    unsigned char* slot = store->CreateFileNode(sizeof(_FILE_NODE_));
    if (!slot) return;
    node.nFileIndex = store->GetFileIndex();
    store->AddChildren(dir.nCluster, dir.nDepth, node.nFileIndex, node.nClusterNO, nullptr);
    std::memcpy(slot, &node, sizeof node);
    MarkFoundDirChain(dir.nCluster);
}

// Every folder from dir up to the root must appear in the result tree, once.
void CFastExfatRecovery::MarkFoundDirChain(uint32_t dir) {
    uint32_t c = dir;
    for (size_t steps = 0; steps <= m_DirMap.size(); ++steps) {
        if (c == m_Geometry.nRootCluster || !m_FoundDirSet.insert(c).second) return;
        m_FoundDirVec.push_back(c);
        auto it = m_DirMap.find(c);
        if (it == m_DirMap.end()) return;
        c = it->second.nFileIndex;
    }
}

void CFastExfatRecovery::StoreFoundDirs() {
    CScanResultFileManager* store = m_Results.Store();
    for (uint32_t c : m_FoundDirVec) {
        auto it = m_DirMap.find(c);
        if (it == m_DirMap.end()) continue;
        _FILE_NODE_ node = it->second;
        const uint32_t parent = node.nFileIndex;
        unsigned char* slot = store->CreateFileNode(sizeof(_FILE_NODE_));
        if (!slot) continue;
        node.nFileIndex = store->GetFileIndex();
        store->AddChildren(parent, m_DirDepth[parent], node.nFileIndex, node.nClusterNO, node.szFileName);
        std::memcpy(slot, &node, sizeof node);
    }
}
