// The quick NTFS engine's map of used clusters ($Bitmap) and the free extents
// the deep scan visits.
#include "ntfs/CFastNtfsRecovery.h"
#include "ntfs/NtfsRecordAccess.h"

#include <algorithm>

int CFastNtfsRecovery::BuildBitMapInfo() {
    const uint64_t sector = GetFileRecordIndexSectorOffset(NTFS_BITMAP_RECORD);
    std::vector<__RUNLIST__> runs;
    int rc = GetRunListInfo(static_cast<long long>(sector), NTFS_ATTR_DATA, runs);
    if (rc != 0) return rc;
    unsigned long long realSize = 0;
    rc = GetBitMapRealBytesSize(static_cast<long long>(sector), realSize);
    if (rc != 0) return rc;

    const uint64_t spc = static_cast<uint64_t>(m_nSectorsPerCluster);
    const uint64_t clusterBytes = spc * m_nBytesPerSector;
    // No bigger than the volume's clusters need, whatever a damaged runlist claims.
    const uint64_t needed = (m_u64SectorCount / spc + 7) / 8;
    const uint64_t cap = (needed + clusterBytes - 1) / clusterBytes * clusterBytes;
    const uint64_t total = std::min(CountRunClusters(runs) * clusterBytes, cap);
    m_pBitMap.assign(static_cast<size_t>(total), 0);
    m_nBitMapBytes = std::min<uint64_t>(realSize, total);

    uint64_t at = 0;
    int64_t cluster = 0;
    for (const __RUNLIST__& run : runs) {
        cluster += run.n64RunOffset;
        if (at >= total) break;
        const uint64_t bytes = std::min(run.u64RunLength * clusterBytes, total - at);
        if (!IsSparseRun(run) && cluster >= 0) {
            unsigned got = 0;
            // Unreadable parts stay zero (free): the deep scan then looks at them too.
            m_DiskReader.ReadData(m_pBitMap.data() + at, static_cast<int>(bytes / m_nBytesPerSector),
                                  static_cast<long long>(m_u64StartSector + uint64_t(cluster) * spc), m_nBytesPerSector,
                                  &got);
        }
        at += bytes;
    }
    return 0;
}

int CFastNtfsRecovery::GetUnUsedSectorCount(uint64_t& sector, uint64_t& count) {
    count = 0;
    if (sector > m_u64SectorCount) {
        sector = m_u64SectorCount;
        return 1;
    }
    const uint64_t spc = static_cast<uint64_t>(m_nSectorsPerCluster);
    const uint64_t bits = m_nBitMapBytes * 8;
    if (spc == 0 || m_pBitMap.empty()) return 1;
    const unsigned char* map = m_pBitMap.data();
    auto used = [map](uint64_t c) { return (map[c / 8] >> (c % 8)) & 1; };

    uint64_t c = sector / spc;
    if (c >= bits) return 1;
    // The first free cluster at or after the sector's own.
    uint64_t freeCluster = c;
    while (freeCluster < bits && used(freeCluster)) {
        if (freeCluster % 8 == 0 && map[freeCluster / 8] == 0xFF) freeCluster += 8;
        else ++freeCluster;
    }
    if (freeCluster >= bits) return 1;
    if (freeCluster != c) sector = freeCluster * spc;
    // Free clusters from there on.
    uint64_t end = freeCluster;
    while (end < bits && !used(end)) {
        if (end % 8 == 0 && map[end / 8] == 0x00 && end + 8 <= bits) end += 8;
        else ++end;
    }
    count = end * spc - sector;
    if (sector + count > m_u64SectorCount) count = m_u64SectorCount > sector ? m_u64SectorCount - sector : 0;
    return 1;
}
