// One MFT record: fix-up, header bounds, the attribute walk, runlists, names,
// resident data and attribute lists, with the helpers both NTFS engines use.
#include "ntfs/CNtfsParse.h"
#include "ntfs/NtfsRecordAccess.h"
#include "ntfs/ProfessionalNtfsRecord.h"

#include <cstdint>
#include <cstring>
#include <vector>

using namespace pro_ntfs;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // The first byte picks the sector size (512 or 4096 bytes a record stride).
    const int sectorBytes = (data[0] & 1) ? 4096 : 512;
    CNtfsParse parse;
    parse.Init(sectorBytes);
    const size_t recordSize = parse.GetRecordSize();
    std::vector<unsigned char> record(recordSize, 0);
    std::memcpy(record.data(), data + 1, std::min(size - 1, recordSize));
    unsigned char* rec = record.data();
    parse.FileRecordFixUp(rec);
    if (CheckRecordHeader(rec, recordSize) != 0) return 0;

    NTFS_ATTR_POS pos;
    while (NextNtfsAttribute(rec, recordSize, pos)) {
        const unsigned char* attr = rec + pos.nPos;
        const size_t available = recordSize - pos.nPos;
        std::vector<__RUNLIST__> runs;
        parse.GetRunList(attr, available, runs);
        DecodeRuns(parse, rec, pos, runs);
        NTFS_FILE_NAME_INFO fn;
        if (ReadFileNameAttribute(attr, pos.nLength, fn)) {
            char name[256];
            NarrowFileName(fn, name, sizeof name);
        }
        std::vector<NTFS_ATTR_LIST_ENTRY> entries;
        CollectResidentAttrListEntries(attr, available, 0x80, entries);
    }
    // The same bytes read as the entries of a non-resident attribute list.
    std::vector<NTFS_ATTR_LIST_ENTRY> listed;
    CollectAttrListEntries(rec, recordSize, 0x80, listed);
    std::vector<__RUNLIST__> runs;
    NTFS_RUNLIST_LOOKUP info;
    FindRecordRunList(parse, rec, recordSize, 0x80, NTFS_ANY_VCN, runs, info);
    FindRecordRunList(parse, rec, recordSize, 0x20, 0, runs, info);
    size_t valueOffset = 0;
    uint32_t length = 0;
    FindResidentData(rec, recordSize, valueOffset, length);
    uint64_t realSize = 0;
    FindDataRealSize(rec, recordSize, realSize);
    FindFirstAttribute(rec, recordSize, 0x30, pos);
    InferSectorsPerCluster(parse, rec, recordSize);
    return 0;
}
