#pragma once
// Record access of the deep NTFS engine, over records it already read and
// fixed up. Built on the shared walks of NtfsRecordAccess.h; what differs is
// that records met by a raw sector walk are as often damaged as not, so every
// walk is bounded by the record and attribute lists are never followed.
#include "ntfs/CNtfsParse.h"
#include "ntfs/NtfsRecordAccess.h"
#include "ntfs/NtfsStructures.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pro_ntfs {

constexpr unsigned kRecordBytes = 1024;  // two 512-byte sectors
constexpr unsigned kSectorsPerRecord = 2;

uint16_t RecordFlags(const unsigned char* record);
uint32_t RecordNumber(const unsigned char* record);

// Header bounds: 87 when the first attribute or the bytes in use lie beyond the
// record, or the first attribute lies beyond the bytes in use; else 0.
int CheckRecordHeader(const unsigned char* record, size_t recordSize);

bool IsNonResident(const unsigned char* record, const NTFS_ATTR_POS& attr);
uint8_t AttrNameLength(const unsigned char* record, const NTFS_ATTR_POS& attr);

// First attribute of the type, named or not. 0 when found; 87 when an
// attribute list comes first; -100 when the record has none.
int FindFirstAttribute(const unsigned char* record, size_t recordSize, uint32_t type, NTFS_ATTR_POS& out);

// Runs of the non-resident attribute at attr (nothing for a resident one).
void DecodeRuns(const CNtfsParse& parse, const unsigned char* record, const NTFS_ATTR_POS& attr,
                std::vector<__RUNLIST__>& runs);

// Cluster size in sectors from the first $DATA attribute: allocated size / 512
// / clusters of its runs. 0 when the record gives no answer: no "FILE", no
// $DATA, an attribute list first, resident data, no runs, or a ratio that is
// no power of two up to 4096 (a damaged record must not set the cluster size
// that every later record of the pass is placed with).
unsigned InferSectorsPerCluster(const CNtfsParse& parse, const unsigned char* record, size_t recordSize);

// The $FILE_NAME's name narrowed to the program's 8-bit code page.
void NarrowFileName(const NTFS_FILE_NAME_INFO& fn, char* dst, size_t dstSize);

}  // namespace pro_ntfs
