#include "ntfs/NtfsRecordAccess.h"

#include "platform/ByteView.h"
#include "platform/TextCodec.h"

#include <algorithm>

namespace {
bool WantsUnnamed(uint32_t type) { return type == NTFS_ATTR_DATA; }
} // namespace

bool NextNtfsAttribute(const unsigned char* record, size_t bound, NTFS_ATTR_POS& pos) {
    ByteView rec(record, bound);
    size_t next;
    if (pos.nPos == 0) {
        const int16_t first = static_cast<int16_t>(rec.le16(NTFS_REC_FIRST_ATTRIBUTE));
        if (rec.bad() || first <= 0) return false;
        next = static_cast<size_t>(first);
    } else {
        next = pos.nPos + pos.nLength;
    }
    if (!rec.has(next, 8)) return false;
    const uint32_t type = rec.le32(next + NTFS_ATTR_TYPE);
    const uint32_t length = rec.le32(next + NTFS_ATTR_LENGTH);
    if (type == NTFS_ATTR_END || type == 0 || type == NTFS_ATTR_FILL || length == 0) return false;
    if (length < 8 || !rec.has(next, length)) return false;
    pos.nPos = next;
    pos.nType = type;
    pos.nLength = length;
    return true;
}

bool HasFileSignature(const unsigned char* record, size_t len) {
    return ByteView(record, len).le32(0) == NTFS_FILE_SIGNATURE && len >= 4;
}

bool MapMftRecordSector(const std::vector<__RUNLIST__>& mftRuns, uint64_t recordIndex, int sectorsPerRecord,
                        int sectorsPerCluster, uint64_t volumeStart, uint64_t& sector) {
    sector = volumeStart;
    if (sectorsPerRecord <= 0 || sectorsPerCluster <= 0) return false;
    const uint64_t spc = static_cast<uint64_t>(sectorsPerCluster);
    const uint64_t target = static_cast<uint64_t>(sectorsPerRecord) * recordIndex;
    uint64_t runStart = 0;   // first sector of the run inside the $MFT data
    int64_t runCluster = 0;  // first cluster of the run on the volume
    for (const __RUNLIST__& run : mftRuns) {
        // A crafted runlist may sum past the range: no run of a real volume does.
        if (__builtin_add_overflow(runCluster, run.n64RunOffset, &runCluster)) return false;
        const uint64_t runSectors = run.u64RunLength * spc;
        if (target >= runStart && target - runStart < runSectors) {
            if (runCluster < 0 || IsSparseRun(run)) return false;
            sector = volumeStart + static_cast<uint64_t>(runCluster) * spc + (target - runStart);
            return true;
        }
        runStart += runSectors;
    }
    return false;
}

int FindRecordRunList(const CNtfsParse& parse, const unsigned char* record, size_t recordSize, uint32_t type,
                      uint64_t wantedVcn, std::vector<__RUNLIST__>& runs, NTFS_RUNLIST_LOOKUP& info) {
    info = NTFS_RUNLIST_LOOKUP();
    ByteView rec(record, recordSize);
    NTFS_ATTR_POS pos;
    while (NextNtfsAttribute(record, recordSize, pos)) {
        if (pos.nType == NTFS_ATTR_ATTRIBUTE_LIST) info.nAttrListPos = pos.nPos;
        if (pos.nType != type) continue;
        if (WantsUnnamed(type) && rec.u8(pos.nPos + NTFS_ATTR_NAME_LENGTH) != 0) continue;
        const bool resident = rec.u8(pos.nPos + NTFS_ATTR_NON_RESIDENT) == 0;
        if (resident || pos.nLength < NTFS_ATTR_NON_RESIDENT_MIN) {
            if (wantedVcn != NTFS_ANY_VCN) continue;
            info.bFound = true;
            info.bResident = true;
            return 0;
        }
        const uint64_t lowestVcn = rec.le64(pos.nPos + NTFS_ATTR_LOWEST_VCN);
        if (wantedVcn != NTFS_ANY_VCN && lowestVcn != wantedVcn) continue;
        info.bFound = true;
        info.u64LowestVcn = lowestVcn;
        info.u64AllocatedSize = lowestVcn == 0 ? rec.le64(pos.nPos + NTFS_ATTR_ALLOCATED_SIZE) : 0;
        parse.GetRunList(record + pos.nPos, pos.nLength, runs);
        return 0;
    }
    return NTFS_ERR_NO_ATTRIBUTE;
}

uint64_t CountRunClusters(const std::vector<__RUNLIST__>& runs) {
    uint64_t total = 0;
    for (const __RUNLIST__& run : runs) total += run.u64RunLength;
    return total;
}

void AppendRunExtent(std::vector<__RUNLIST__>& runs, const std::vector<__RUNLIST__>& extent) {
    int64_t base = 0;
    for (const __RUNLIST__& run : runs) base += run.n64RunOffset;
    bool rebased = false;
    for (__RUNLIST__ run : extent) {
        if (!rebased && !IsSparseRun(run)) {
            run.n64RunOffset -= base;
            rebased = true;
        }
        runs.push_back(run);
    }
}

void CollectAttrListEntries(const unsigned char* entries, size_t len, uint32_t type,
                            std::vector<NTFS_ATTR_LIST_ENTRY>& out) {
    ByteView list(entries, len);
    size_t pos = 0;
    while (list.has(pos, NTFS_AL_MIN_ENTRY)) {
        const uint32_t entryType = list.le32(pos + NTFS_AL_TYPE);
        const uint16_t entryLength = list.le16(pos + NTFS_AL_LENGTH);
        if (entryType == 0 || entryType == NTFS_ATTR_END || entryLength < NTFS_AL_MIN_ENTRY) break;
        if (!list.has(pos, entryLength)) break;
        if (entryType == type && !(WantsUnnamed(type) && list.u8(pos + NTFS_AL_NAME_LENGTH) != 0)) {
            NTFS_ATTR_LIST_ENTRY entry;
            entry.u64Record = list.le64(pos + NTFS_AL_REFERENCE) & 0xFFFFFFFFFFFFull;
            entry.u64LowestVcn = list.le64(pos + NTFS_AL_LOWEST_VCN);
            out.push_back(entry);
        }
        pos += entryLength;
    }
}

void CollectResidentAttrListEntries(const unsigned char* attribute, size_t available, uint32_t type,
                                    std::vector<NTFS_ATTR_LIST_ENTRY>& out) {
    ByteView attr(attribute, available);
    const size_t end = std::min<size_t>(attr.le32(NTFS_ATTR_LENGTH), available);
    if (attr.bad() || end <= NTFS_ATTR_RESIDENT_HEADER) return;
    CollectAttrListEntries(attribute + NTFS_ATTR_RESIDENT_HEADER, end - NTFS_ATTR_RESIDENT_HEADER, type, out);
}

int FindResidentData(const unsigned char* record, size_t recordSize, size_t& valueOffset, uint32_t& length) {
    ByteView rec(record, recordSize);
    NTFS_ATTR_POS pos;
    while (NextNtfsAttribute(record, recordSize, pos)) {
        if (pos.nType != NTFS_ATTR_DATA || rec.u8(pos.nPos + NTFS_ATTR_NAME_LENGTH) != 0) continue;
        if (rec.u8(pos.nPos + NTFS_ATTR_NON_RESIDENT) != 0) return NTFS_ERR_NO_RESIDENT_DATA;
        if (pos.nLength < NTFS_ATTR_RESIDENT_HEADER) return NTFS_ERR_INVALID;
        const uint16_t offset = rec.le16(pos.nPos + NTFS_ATTR_VALUE_OFFSET);
        if (offset > pos.nLength) return NTFS_ERR_INVALID;
        const uint32_t copied = pos.nLength - offset;
        if (copied >= recordSize) return NTFS_ERR_INVALID;
        valueOffset = pos.nPos + offset;
        length = copied;
        return 0;
    }
    return NTFS_ERR_NO_RESIDENT_DATA;
}

int FindDataRealSize(const unsigned char* record, size_t recordSize, uint64_t& size) {
    ByteView rec(record, recordSize);
    NTFS_ATTR_POS pos;
    while (NextNtfsAttribute(record, recordSize, pos)) {
        if (pos.nType != NTFS_ATTR_DATA) continue;
        if (rec.u8(pos.nPos + NTFS_ATTR_NON_RESIDENT) == 0) {
            size = rec.le32(pos.nPos + NTFS_ATTR_VALUE_LENGTH);
            return 0;
        }
        if (pos.nLength < NTFS_ATTR_NON_RESIDENT_MIN) return NTFS_ERR_INVALID;
        size = rec.le64(pos.nPos + NTFS_ATTR_REAL_SIZE);
        return 0;
    }
    return NTFS_ERR_INVALID;
}

bool ReadFileNameAttribute(const unsigned char* attribute, size_t attrLength, NTFS_FILE_NAME_INFO& info) {
    ByteView attr(attribute, attrLength);
    if (!attr.has(0, NTFS_FN_NAME)) return false;
    info.nParent = attr.le32(NTFS_FN_PARENT);
    info.u64CreateTime = attr.le64(NTFS_FN_CREATE_TIME);
    info.u64ModifyTime = attr.le64(NTFS_FN_MODIFY_TIME);
    info.u64AccessTime = attr.le64(NTFS_FN_ACCESS_TIME);
    info.u64RealSize = attr.le64(NTFS_FN_REAL_SIZE);
    info.nNameLength = attr.u8(NTFS_FN_NAME_LENGTH);
    info.nNameSpace = attr.u8(NTFS_FN_NAME_SPACE);
    if (!attr.has(NTFS_FN_NAME, size_t(info.nNameLength) * 2)) return false;
    info.pName = attribute + NTFS_FN_NAME;
    return true;
}

bool NtfsFirstDataSector(const std::vector<__RUNLIST__>& runs, uint32_t clusterBytes, uint64_t partitionStart,
                         uint64_t& sector, uint32_t bytesPerSector) {
    if (runs.empty() || IsSparseRun(runs[0]) || runs[0].n64RunOffset < 0 || bytesPerSector == 0) return false;
    sector = uint64_t(clusterBytes) * uint64_t(runs[0].n64RunOffset) / bytesPerSector + partitionStart;
    return true;
}

std::string NtfsVolumeLabel(const unsigned char* record, size_t len) {
    if (!HasFileSignature(record, len)) return std::string();
    std::vector<unsigned char> rec(record, record + len);
    ByteView v(rec.data(), rec.size());
    // Each 512-byte stride ends in the update sequence number; the array keeps what belongs there.
    const size_t usa = v.le16(4);
    const size_t count = v.le16(6);
    for (size_t i = 1; i < count; ++i) {
        const size_t end = i * 512 - 2;
        if (!v.has(end, 2)) break;
        if (!v.has(usa + 2 * i, 2) || v.le16(end) != v.le16(usa)) return std::string();
        rec[end] = rec[usa + 2 * i];
        rec[end + 1] = rec[usa + 2 * i + 1];
    }
    if (v.bad()) return std::string();
    NTFS_ATTR_POS pos;
    while (NextNtfsAttribute(rec.data(), rec.size(), pos)) {
        if (pos.nType != 0x60 || v.u8(pos.nPos + 8) != 0) continue; // $VOLUME_NAME, resident
        const uint32_t bytes = v.le32(pos.nPos + 0x10);
        const size_t off = pos.nPos + v.le16(pos.nPos + 0x14);
        if (v.bad() || bytes > pos.nLength || !v.has(off, bytes)) return std::string();
        return WideToUtf8(Utf16leToWide(rec.data() + off, bytes / 2).c_str());
    }
    return std::string();
}
