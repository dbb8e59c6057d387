#include "ntfs/ProfessionalNtfsRecord.h"

#include "platform/ByteView.h"
#include "platform/TextCodec.h"

namespace pro_ntfs {

uint16_t RecordFlags(const unsigned char* record) { return ByteView(record, kRecordBytes).le16(NTFS_REC_FLAGS); }

uint32_t RecordNumber(const unsigned char* record) { return ByteView(record, kRecordBytes).le32(NTFS_REC_NUMBER); }

int CheckRecordHeader(const unsigned char* record, size_t recordSize) {
    ByteView rec(record, recordSize);
    if (!rec.has(0, NTFS_REC_USA)) return NTFS_ERR_INVALID;
    const uint32_t first = rec.le16(NTFS_REC_FIRST_ATTRIBUTE);
    const uint32_t used = rec.le32(NTFS_REC_BYTES_IN_USE);
    if (recordSize < used || recordSize < first || first > used) return NTFS_ERR_INVALID;
    return 0;
}

bool IsNonResident(const unsigned char* record, const NTFS_ATTR_POS& attr) {
    return record[attr.nPos + NTFS_ATTR_NON_RESIDENT] != 0;
}

uint8_t AttrNameLength(const unsigned char* record, const NTFS_ATTR_POS& attr) {
    return record[attr.nPos + NTFS_ATTR_NAME_LENGTH];
}

int FindFirstAttribute(const unsigned char* record, size_t recordSize, uint32_t type, NTFS_ATTR_POS& out) {
    NTFS_ATTR_POS pos;
    while (NextNtfsAttribute(record, recordSize, pos)) {
        if (pos.nType == type) {
            out = pos;
            return 0;
        }
        if (pos.nType == NTFS_ATTR_ATTRIBUTE_LIST) return NTFS_ERR_INVALID;
    }
    return NTFS_ERR_NO_ATTRIBUTE;
}

void DecodeRuns(const CNtfsParse& parse, const unsigned char* record, const NTFS_ATTR_POS& attr,
                std::vector<__RUNLIST__>& runs) {
    if (!IsNonResident(record, attr) || attr.nLength < NTFS_ATTR_NON_RESIDENT_MIN) return;
    parse.GetRunList(record + attr.nPos, attr.nLength, runs);
}

unsigned InferSectorsPerCluster(const CNtfsParse& parse, const unsigned char* record, size_t recordSize) {
    if (!HasFileSignature(record, recordSize)) return 0;
    NTFS_ATTR_POS data;
    if (FindFirstAttribute(record, recordSize, NTFS_ATTR_DATA, data) != 0) return 0;
    if (!IsNonResident(record, data) || data.nLength < NTFS_ATTR_NON_RESIDENT_MIN) return 0;
    std::vector<__RUNLIST__> runs;
    DecodeRuns(parse, record, data, runs);
    const uint64_t clusters = CountRunClusters(runs);
    if (clusters == 0) return 0;
    const uint64_t allocated = ByteView(record, recordSize).le64(data.nPos + NTFS_ATTR_ALLOCATED_SIZE);
    const uint64_t value = allocated / 512 / clusters;
    if (value == 0 || value > 4096 || (value & (value - 1)) != 0) return 0;
    return static_cast<unsigned>(value);
}

void NarrowFileName(const NTFS_FILE_NAME_INFO& fn, char* dst, size_t dstSize) {
    if (!dst || dstSize == 0) return;
    dst[0] = 0;
    if (fn.nNameLength == 0 || !fn.pName) return;
    Utf16leToAnsi(fn.pName, fn.nNameLength, dst, dstSize);
}

}  // namespace pro_ntfs
