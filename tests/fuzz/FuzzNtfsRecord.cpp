// One MFT record: fix-up, header bounds, the attribute walk, runlists, names,
// resident data and attribute lists, with the helpers both NTFS engines use.
#include "FuzzSupport.h"
#include "ntfs/CNtfsParse.h"
#include "ntfs/NtfsRecordAccess.h"
#include "ntfs/ProfessionalNtfsRecord.h"

using namespace pro_ntfs;

ORVALE_FUZZ_TARGET {
    if (size < 1) return;
    CNtfsParse parse;
    parse.Init((data[0] & 1) ? 4096 : 512); // the first byte picks the sector size
    const size_t recordSize = parse.GetRecordSize();
    std::vector<unsigned char> record(data + 1, data + 1 + std::min(size - 1, recordSize));
    record.resize(recordSize, 0);
    unsigned char* rec = record.data();
    std::vector<__RUNLIST__> runs;
    parse.FileRecordFixUp(rec);
    if (CheckRecordHeader(rec, recordSize) != 0) return;
    NTFS_ATTR_POS pos;
    std::vector<NTFS_ATTR_LIST_ENTRY> entries;
    while (NextNtfsAttribute(rec, recordSize, pos)) {
        const unsigned char* attr = rec + pos.nPos;
        runs.clear();
        parse.GetRunList(attr, recordSize - pos.nPos, runs);
        DecodeRuns(parse, rec, pos, runs);
        NTFS_FILE_NAME_INFO fn; char name[256];
        if (ReadFileNameAttribute(attr, pos.nLength, fn)) NarrowFileName(fn, name, sizeof name);
        CollectResidentAttrListEntries(attr, recordSize - pos.nPos, 0x80, entries);
    }
    // The same bytes read as the entries of a non-resident attribute list.
    CollectAttrListEntries(rec, recordSize, 0x80, entries);
    NTFS_RUNLIST_LOOKUP info;
    FindRecordRunList(parse, rec, recordSize, 0x80, NTFS_ANY_VCN, runs, info);
    FindRecordRunList(parse, rec, recordSize, 0x20, 0, runs, info);
    size_t valueOffset = 0; uint32_t length = 0; uint64_t realSize = 0;
    FindResidentData(rec, recordSize, valueOffset, length);
    FindDataRealSize(rec, recordSize, realSize);
    FindFirstAttribute(rec, recordSize, 0x30, pos);
    InferSectorsPerCluster(parse, rec, recordSize);
}
