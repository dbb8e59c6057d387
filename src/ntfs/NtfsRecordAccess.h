#pragma once
// Record access over bytes already read: attribute walks, runlist look-ups,
// resident values, $FILE_NAME values, attribute-list entries and the mapping of
// record numbers to sectors. No I/O: the engines read, these functions look.
// Every walk is bounded by the record, so a corrupt record yields "not found"
// instead of reads outside it.
#include "ntfs/CNtfsParse.h"
#include "ntfs/NtfsStructures.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One attribute met by a walk. Start a walk with nPos = 0.
struct NTFS_ATTR_POS {
    size_t nPos = 0;
    uint32_t nType = 0;
    uint32_t nLength = 0;
};

// Steps to the next attribute of a record whose first `bound` bytes are valid.
// False at an end marker (type 0xFFFFFFFF, 0 or 0xFDFDFDFD), at a zero length,
// or when the attribute header or its length would pass the bound.
bool NextNtfsAttribute(const unsigned char* record, size_t bound, NTFS_ATTR_POS& pos);

bool HasFileSignature(const unsigned char* record, size_t len);

// The name of record 3 ($Volume) as read from disk (fix-ups not yet applied),
// UTF-8; empty when the record holds none or is damaged.
std::string NtfsVolumeLabel(const unsigned char* record, size_t len);

// Absolute sector of MFT record `recordIndex` through the $MFT's runs (offsets
// relative, as decoded). False, with sector = volumeStart, when no run holds it.
bool MapMftRecordSector(const std::vector<__RUNLIST__>& mftRuns, uint64_t recordIndex, int sectorsPerRecord,
                        int sectorsPerCluster, uint64_t volumeStart, uint64_t& sector);

// What a runlist look-up in one record met.
struct NTFS_RUNLIST_LOOKUP {
    bool bFound = false;         // an attribute of the type was there
    bool bResident = false;      // ... but resident: it has no runs
    uint64_t u64LowestVcn = 0;   // first cluster of the attribute this extent holds
    uint64_t u64AllocatedSize = 0; // bytes of the whole attribute (first extent only, else 0)
    size_t nAttrListPos = 0;     // position of the last attribute list met (0: none)
};
constexpr uint64_t NTFS_ANY_VCN = ~uint64_t(0);

// Decodes into `runs` the runlist of the first attribute of `type` in a fixed-up
// record (for $DATA the first unnamed one; with wantedVcn, the extent starting
// there). 0 when found, -100 otherwise; `info` tells what the walk met.
int FindRecordRunList(const CNtfsParse& parse, const unsigned char* record, size_t recordSize, uint32_t type,
                      uint64_t wantedVcn, std::vector<__RUNLIST__>& runs, NTFS_RUNLIST_LOOKUP& info);

// Clusters covered by a runlist.
uint64_t CountRunClusters(const std::vector<__RUNLIST__>& runs);
// Appends the runs of a later extent of the same attribute. An extent's first
// offset counts from cluster 0, so it is rebased onto the runs already there.
void AppendRunExtent(std::vector<__RUNLIST__>& runs, const std::vector<__RUNLIST__>& extent);

// One entry of an attribute list that names a wanted attribute.
struct NTFS_ATTR_LIST_ENTRY {
    uint64_t u64Record;    // low 48 bits of the reference
    uint64_t u64LowestVcn;
};
// Collects, in order, the entries of `type` (for $DATA only unnamed ones) of the
// attribute-list entries in [entries, entries + len). Stops at a type of 0 or
// 0xFFFFFFFF, a zero length, or an entry that would pass len.
void CollectAttrListEntries(const unsigned char* entries, size_t len, uint32_t type,
                            std::vector<NTFS_ATTR_LIST_ENTRY>& out);
// The entries of a resident attribute-list attribute (value from 0x18 to its length).
void CollectResidentAttrListEntries(const unsigned char* attribute, size_t available, uint32_t type,
                                    std::vector<NTFS_ATTR_LIST_ENTRY>& out);

// Where the value of the record's first unnamed $DATA lies when it is resident:
// valueOffset from the record start, length = attribute length - value offset (the
// value and its alignment bytes). 0; -101 when there is no resident $DATA; 87 when
// that length is not below the record size or the header is inconsistent.
int FindResidentData(const unsigned char* record, size_t recordSize, size_t& valueOffset, uint32_t& length);

// Real byte size of the record's first $DATA. 0, or 87 when the walk ends first.
int FindDataRealSize(const unsigned char* record, size_t recordSize, uint64_t& size);

// A $FILE_NAME value (taken at offset 0x18 of its attribute).
struct NTFS_FILE_NAME_INFO {
    uint32_t nParent = 0;
    uint64_t u64CreateTime = 0;
    uint64_t u64ModifyTime = 0;
    uint64_t u64AccessTime = 0;
    uint64_t u64RealSize = 0;
    uint8_t nNameLength = 0; // UTF-16 code units
    uint8_t nNameSpace = 0;
    const unsigned char* pName = nullptr;
};
// False when the attribute is too short for its value or its name.
bool ReadFileNameAttribute(const unsigned char* attribute, size_t attrLength, NTFS_FILE_NAME_INFO& info);

// Absolute first sector of a file's data from its $DATA runs (the first run's
// offset is absolute); false when there is no run, or the file starts with a
// hole or before the volume.
bool NtfsFirstDataSector(const std::vector<__RUNLIST__>& runs, uint32_t clusterBytes, uint64_t partitionStart,
                         uint64_t& sector, uint32_t bytesPerSector = 512);
