#pragma once
// The record of one found file or folder. It is written byte for byte to the
// result store's node file, so its layout is a file format.
#include <cstddef>
#include <cstdint>

enum FILE_SYSTEM_TYPE : uint32_t {
    FS_TYPE_FAST_NTFS = 0,
    FS_TYPE_FAST_FAT = 1,
    FS_TYPE_PRO_NTFS = 2,
    FS_TYPE_PRO_FAT = 3,
    FS_TYPE_FILE_TYPE = 4,
    FS_TYPE_FAST_EXFAT = 5,
    FS_TYPE_PRO_EXFAT = 6,
    FS_TYPE_FAST_EXT = 7,
    FS_TYPE_PRO_EXT = 8,
};

struct _FILE_NODE_ {
    uint32_t nDriveLetter;
    uint32_t nFileSystemType;      // FILE_SYSTEM_TYPE: the engine that produced the record
    uint32_t bIsDir;
    uint32_t nReserved;            // FAT, exFAT folders: 1 when deleted or inside a deleted folder; deep FAT entries: 1 when deleted; exFAT files: data layout; deep NTFS files: 1 when live
    uint32_t bIsHealth;
    uint32_t nFileIndex;           // 1-based record number in the node file
    uint32_t nClusterNO;           // FAT first cluster, NTFS record number, lost-folder number, 0 when carved
    uint32_t nClusterBytes;        // 0xFFFFFFFF for carved files and lost folders
    uint64_t u64CreateTime;        // NTFS, exFAT: FILETIME; FAT: seconds since 1970; carved: 0
    uint64_t u64AccessTime;
    uint64_t u64ModifyTime;
    uint64_t u64FileSize;
    uint64_t u64DataStartSector;   // FAT: data area relative to the volume start
    uint64_t u64RecordSector;      // absolute sector of the metadata (carved: of the data)
    uint64_t u64PartitionStartSector;
    char szFileName[256];          // 8-bit name
};

static_assert(sizeof(_FILE_NODE_) == 344, "_FILE_NODE_ is a 344-byte file format");
static_assert(offsetof(_FILE_NODE_, nDriveLetter) == 0, "layout");
static_assert(offsetof(_FILE_NODE_, nFileSystemType) == 4, "layout");
static_assert(offsetof(_FILE_NODE_, bIsDir) == 8, "layout");
static_assert(offsetof(_FILE_NODE_, nReserved) == 12, "layout");
static_assert(offsetof(_FILE_NODE_, bIsHealth) == 16, "layout");
static_assert(offsetof(_FILE_NODE_, nFileIndex) == 20, "layout");
static_assert(offsetof(_FILE_NODE_, nClusterNO) == 24, "layout");
static_assert(offsetof(_FILE_NODE_, nClusterBytes) == 28, "layout");
static_assert(offsetof(_FILE_NODE_, u64CreateTime) == 32, "layout");
static_assert(offsetof(_FILE_NODE_, u64AccessTime) == 40, "layout");
static_assert(offsetof(_FILE_NODE_, u64ModifyTime) == 48, "layout");
static_assert(offsetof(_FILE_NODE_, u64FileSize) == 56, "layout");
static_assert(offsetof(_FILE_NODE_, u64DataStartSector) == 64, "layout");
static_assert(offsetof(_FILE_NODE_, u64RecordSector) == 72, "layout");
static_assert(offsetof(_FILE_NODE_, u64PartitionStartSector) == 80, "layout");
static_assert(offsetof(_FILE_NODE_, szFileName) == 88, "layout");

// A search hit: a byte copy of the matching node record.
struct __SEARCH_FILE_INFO__ : _FILE_NODE_ {};
static_assert(sizeof(__SEARCH_FILE_INFO__) == 344, "a hit is a node record");

// One folder waiting to be written during a breadth-first folder save.
struct __FILE_DATA_RECOVERY__ {
    _FILE_NODE_ node;
    wchar_t szParentPath[512];     // target path of the folder's parent
};
static_assert(sizeof(__FILE_DATA_RECOVERY__) == 2392, "folder-save queue entry");

// Files before folders, then by name ignoring case.
bool VectorCmp(const _FILE_NODE_& a, const _FILE_NODE_& b);
bool SearchVectorCmp(const __SEARCH_FILE_INFO__& a, const __SEARCH_FILE_INFO__& b);
