#include "ntfs/CNtfsParse.h"

#include "platform/ByteView.h"

#include <algorithm>

CNtfsParse::CNtfsParse() : m_nSectorsPerRecord(2), m_nBytesPerSector(512) {}

int CNtfsParse::Init(int bytesPerSector) {
    bool valid = bytesPerSector >= 256 && bytesPerSector <= 4096 && (bytesPerSector & (bytesPerSector - 1)) == 0;
    // A nonsense sector size would size records (and the fix-up's writes) wildly.
    m_nBytesPerSector = valid ? bytesPerSector : 512;
    m_nSectorsPerRecord = m_nBytesPerSector == 512 ? 2 : 1;
    return 0;
}

int CNtfsParse::FileRecordFixUp(unsigned char* record) const {
    if (!record || record[0] == 0) return -1;
    const int recordSize = GetRecordSize();
    // NTFS protects every 512-byte stride of a record, whatever the sector size.
    // When the header says so, restore every stride; otherwise fall back to one
    // word per sector of the record geometry.
    const uint16_t usaOffset = uint16_t(record[NTFS_REC_USA_OFFSET] | (record[NTFS_REC_USA_OFFSET + 1] << 8));
    const uint16_t usaCount = uint16_t(record[NTFS_REC_USA_COUNT] | (record[NTFS_REC_USA_COUNT + 1] << 8));
    int stride = m_nBytesPerSector;
    int words = m_nSectorsPerRecord;
    if (usaOffset == NTFS_REC_USN && usaCount >= 2 && (usaCount - 1) * NTFS_USA_STRIDE == recordSize) {
        stride = NTFS_USA_STRIDE;
        words = usaCount - 1;
    }
    for (int i = 1; i <= words; ++i) {
        const unsigned char* saved = record + NTFS_REC_USA + 2 * (i - 1);
        unsigned char* end = record + i * stride - 2;
        unsigned char lo = saved[0], hi = saved[1];
        end[0] = lo;
        end[1] = hi;
    }
    return 0;
}

void CNtfsParse::GetRunList(const unsigned char* attribute, size_t available, std::vector<__RUNLIST__>& runs) const {
    if (!attribute) return;
    ByteView attr(attribute, available);
    if (!attr.has(0, NTFS_ATTR_RUNLIST_OFFSET + 2)) return;
    // Inside the attribute and inside its record, however long the runlist is.
    const size_t end = std::min<size_t>(attr.le32(NTFS_ATTR_LENGTH), available);
    size_t p = attr.le16(NTFS_ATTR_RUNLIST_OFFSET);
    while (p < end) {
        const uint8_t header = attribute[p];
        if (header == 0) break;
        const unsigned lengthBytes = header & 0x0F;
        const unsigned offsetBytes = header >> 4;
        if (lengthBytes > 7 || offsetBytes > 7) break;
        if (p + 1 + lengthBytes + offsetBytes > end) break;
        __RUNLIST__ run;
        // Only the low four bytes of a length count: no run is that long.
        run.u64RunLength = attr.leN(p + 1, std::min(lengthBytes, 4u));
        run.n64RunOffset = attr.leSignedN(p + 1 + lengthBytes, offsetBytes);
        runs.push_back(run);
        p += 1 + lengthBytes + offsetBytes;
    }
}

void CNtfsParse::GetRunList(unsigned char* attribute, std::vector<__RUNLIST__>& runs) const {
    GetRunList(attribute, static_cast<size_t>(GetRecordSize()), runs);
}
