// Record access of the quick NTFS engine: the reads; the looking is NtfsRecordAccess.
#include "ntfs/CFastNtfsRecovery.h"
#include "ntfs/NtfsRecordAccess.h"

#include "platform/ByteView.h"

#include <algorithm>
#include <cstring>

namespace {
// Bounds on what a damaged attribute list can make the engine read.
constexpr uint64_t kMaxAttrListBytes = 4u << 20;
constexpr size_t kMaxListedExtents = 4096;
} // namespace

unsigned long long CFastNtfsRecovery::GetFileRecordIndexSectorOffset(unsigned long long recordIndex) const {
    uint64_t sector = m_u64StartSector;
    MapMftRecordSector(m_vecMftRunList, recordIndex, m_nSectorsPerFileRecord, m_nSectorsPerCluster, m_u64StartSector,
                       sector);
    return sector;
}

int CFastNtfsRecovery::ReadRecord(uint64_t sector, std::vector<unsigned char>& record) {
    // One record is read: a walk never looks past it, and a record at the very end
    // of the volume stays readable.
    record.assign(static_cast<size_t>(m_nFileRecordSize), 0);
    unsigned got = 0;
    int rc = m_DiskReader.ReadData(record.data(), m_nSectorsPerFileRecord, static_cast<long long>(sector),
                                   m_nBytesPerSector, &got);
    if (rc != 0) return rc;
    if (got == 0) return NTFS_ERR_NO_ATTRIBUTE;
    return 0;
}

int CFastNtfsRecovery::GetFileRecordBuf(unsigned int recordIndex, unsigned char* buffer) {
    if (!buffer) return 87;
    std::vector<unsigned char> record;
    int rc = ReadRecord(GetFileRecordIndexSectorOffset(recordIndex), record);
    if (rc != 0) return rc;
    std::memcpy(buffer, record.data(), record.size());
    return 0;
}

int CFastNtfsRecovery::GetRunListInfo(long long sector, int attributeType, std::vector<__RUNLIST__>& runs) {
    if (sector < 0) return 87;
    std::vector<unsigned char> record;
    int rc = ReadRecord(static_cast<uint64_t>(sector), record);
    if (rc != 0) return rc;
    if (!HasFileSignature(record.data(), record.size())) return NTFS_ERR_NO_SIGNATURE;
    m_NtfsParse.FileRecordFixUp(record.data());

    const uint32_t type = static_cast<uint32_t>(attributeType);
    std::vector<__RUNLIST__> mine;
    NTFS_RUNLIST_LOOKUP info;
    rc = FindRecordRunList(m_NtfsParse, record.data(), record.size(), type, NTFS_ANY_VCN, mine, info);
    if (rc == 0) {
        // An attribute too long for its record continues in extents named by the
        // attribute list; the first extent alone would cut the file short.
        const uint64_t clusterBytes = static_cast<uint64_t>(m_nBytesPerSector) * m_nSectorsPerCluster;
        if (!info.bResident && info.nAttrListPos && CountRunClusters(mine) * clusterBytes < info.u64AllocatedSize)
            FollowAttrList(record.data(), record.size(), info.nAttrListPos, type, mine);
        runs.insert(runs.end(), mine.begin(), mine.end());
        return 0;
    }
    if (info.nAttrListPos == 0) return NTFS_ERR_NO_ATTRIBUTE;
    FollowAttrList(record.data(), record.size(), info.nAttrListPos, type, mine);
    runs.insert(runs.end(), mine.begin(), mine.end());
    return 0;
}

int CFastNtfsRecovery::Get0X20RunList(unsigned char* attributeList, std::vector<__RUNLIST__>& runs) {
    if (!attributeList) return 87;
    ByteView head(attributeList, 8);
    const size_t length = std::min<size_t>(head.le32(NTFS_ATTR_LENGTH), static_cast<size_t>(m_nFileRecordSize));
    if (length < NTFS_ATTR_RESIDENT_HEADER) return 87;
    // Seen as a record holding only this attribute, so one walk serves both forms.
    std::vector<unsigned char> holder(NTFS_ATTR_RESIDENT_HEADER + length + 8, 0);
    holder[NTFS_REC_FIRST_ATTRIBUTE] = NTFS_ATTR_RESIDENT_HEADER;
    std::memcpy(holder.data() + NTFS_ATTR_RESIDENT_HEADER, attributeList, length);
    return FollowAttrList(holder.data(), holder.size(), NTFS_ATTR_RESIDENT_HEADER, NTFS_ATTR_DATA, runs);
}

int CFastNtfsRecovery::FollowAttrList(const unsigned char* record, size_t recordLen, size_t attrPos, uint32_t type,
                                      std::vector<__RUNLIST__>& runs) {
    ByteView rec(record, recordLen);
    const size_t available = rec.size() > attrPos ? rec.size() - attrPos : 0;
    const unsigned char* attr = record + attrPos;
    std::vector<NTFS_ATTR_LIST_ENTRY> entries;
    if (rec.u8(attrPos + NTFS_ATTR_NON_RESIDENT) == 0) {
        CollectResidentAttrListEntries(attr, available, type, entries);
        return JoinListedExtents(entries, type, runs);
    }

    // A list too long for the record lives in clusters of its own.
    std::vector<__RUNLIST__> listRuns;
    m_NtfsParse.GetRunList(attr, available, listRuns);
    const uint64_t realSize = std::min<uint64_t>(rec.le64(attrPos + NTFS_ATTR_REAL_SIZE), kMaxAttrListBytes);
    const uint64_t clusterBytes = static_cast<uint64_t>(m_nBytesPerSector) * m_nSectorsPerCluster;
    std::vector<unsigned char> list;
    int rc = 0;
    int64_t cluster = 0;
    for (const __RUNLIST__& run : listRuns) {
        cluster += run.n64RunOffset;
        if (list.size() >= realSize) break;
        const uint64_t bytes = std::min<uint64_t>(run.u64RunLength * clusterBytes, realSize - list.size());
        const size_t at = list.size();
        const uint64_t sectors = (bytes + m_nBytesPerSector - 1) / m_nBytesPerSector;
        list.resize(at + sectors * m_nBytesPerSector, 0);
        if (IsSparseRun(run) || cluster < 0) continue;
        unsigned got = 0;
        rc = m_DiskReader.ReadData(list.data() + at, static_cast<int>(sectors),
                                   static_cast<long long>(m_u64StartSector + uint64_t(cluster) * m_nSectorsPerCluster),
                                   m_nBytesPerSector, &got);
        if (rc != 0 && got == 0) break;
    }
    list.resize(std::min<size_t>(list.size(), realSize));
    CollectAttrListEntries(list.data(), list.size(), type, entries);
    int joined = JoinListedExtents(entries, type, runs);
    return joined != 0 ? joined : rc;
}

int CFastNtfsRecovery::JoinListedExtents(const std::vector<NTFS_ATTR_LIST_ENTRY>& entries, uint32_t type,
                                         std::vector<__RUNLIST__>& runs) {
    int rc = 0;
    std::vector<unsigned char> record;
    size_t followed = 0;
    for (const NTFS_ATTR_LIST_ENTRY& entry : entries) {
        // Extents already decoded (the one in the base record among them) are skipped.
        if (entry.u64LowestVcn < CountRunClusters(runs)) continue;
        if (++followed > kMaxListedExtents) break;
        uint64_t sector = m_u64StartSector;
        if (!MapMftRecordSector(m_vecMftRunList.empty() ? runs : m_vecMftRunList, entry.u64Record,
                                m_nSectorsPerFileRecord, m_nSectorsPerCluster, m_u64StartSector, sector)) {
            rc = NTFS_ERR_NO_ATTRIBUTE;
            continue;
        }
        rc = ReadRecord(sector, record);
        if (rc != 0) continue;
        if (!HasFileSignature(record.data(), record.size())) {
            rc = NTFS_ERR_NO_SIGNATURE;
            continue;
        }
        m_NtfsParse.FileRecordFixUp(record.data());
        std::vector<__RUNLIST__> extent;
        NTFS_RUNLIST_LOOKUP info;
        rc = FindRecordRunList(m_NtfsParse, record.data(), record.size(), type, entry.u64LowestVcn, extent, info);
        if (rc == 0) AppendRunExtent(runs, extent);
    }
    return rc;
}

int CFastNtfsRecovery::GetAttr0x80Data(long long sector, unsigned char* out, unsigned int& length) {
    if (sector < 0 || !out) return 87;
    std::vector<unsigned char> record;
    int rc = ReadRecord(static_cast<uint64_t>(sector), record);
    if (rc != 0) return rc;
    if (!HasFileSignature(record.data(), record.size())) return NTFS_ERR_NO_RESIDENT_DATA;
    m_NtfsParse.FileRecordFixUp(record.data());
    size_t valueOffset = 0;
    uint32_t copied = 0;
    rc = FindResidentData(record.data(), record.size(), valueOffset, copied);
    if (rc != 0) return rc;
    std::memcpy(out, record.data() + valueOffset, copied);
    length = copied;
    return 0;
}

int CFastNtfsRecovery::GetBitMapRealBytesSize(long long sector, unsigned long long& size) {
    if (sector < 0) return 87;
    std::vector<unsigned char> record;
    int rc = ReadRecord(static_cast<uint64_t>(sector), record);
    if (rc != 0) return rc;
    if (!HasFileSignature(record.data(), record.size())) return NTFS_ERR_NO_SIGNATURE;
    m_NtfsParse.FileRecordFixUp(record.data());
    uint64_t real = 0;
    rc = FindDataRealSize(record.data(), record.size(), real);
    if (rc == 0) size = real;
    return rc;
}

void CFastNtfsRecovery::ListedDataSize(const unsigned char* record, size_t recordLen, size_t attrPos, uint64_t& size) {
    ByteView rec(record, recordLen);
    if (rec.u8(attrPos + NTFS_ATTR_NON_RESIDENT) != 0) return;
    std::vector<NTFS_ATTR_LIST_ENTRY> entries;
    CollectResidentAttrListEntries(record + attrPos, recordLen - attrPos, NTFS_ATTR_DATA, entries);
    for (const NTFS_ATTR_LIST_ENTRY& entry : entries) {
        if (entry.u64LowestVcn != 0) continue;
        uint64_t sector = 0;
        if (!MapMftRecordSector(m_vecMftRunList, entry.u64Record, m_nSectorsPerFileRecord, m_nSectorsPerCluster,
                                m_u64StartSector, sector))
            return;
        std::vector<unsigned char> holder;
        if (ReadRecord(sector, holder) != 0 || !HasFileSignature(holder.data(), holder.size())) return;
        m_NtfsParse.FileRecordFixUp(holder.data());
        uint64_t real = 0;
        if (FindDataRealSize(holder.data(), holder.size(), real) == 0) size = real;
        return;
    }
}

int CFastNtfsRecovery::GetFileDataStartSector(_FILE_NODE_* node, uint64_t& absoluteSector) {
    if (!node) return 87;
    std::vector<__RUNLIST__> runs;
    if (GetRunListInfo(static_cast<long long>(node->u64RecordSector), NTFS_ATTR_DATA, runs) != 0) return 1;
    return NtfsFirstDataSector(runs, node->nClusterBytes, node->u64PartitionStartSector, absoluteSector) ? 0 : 1;
}
