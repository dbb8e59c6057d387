#pragma once
// The part of NTFS the engines read: boot-sector geometry, the MFT file record
// header, attribute headers, $FILE_NAME, $ATTRIBUTE_LIST entries and runs.
// All values are little-endian on disk; offsets are from the start of their unit.
#include <cstddef>
#include <cstdint>

// One decoded run of a non-resident attribute. Offsets stay relative to the
// previous run's start (the first run: to cluster 0); consumers accumulate them.
// A run without offset bytes (a sparse run, a hole of zeros) has offset 0.
struct __RUNLIST__ {
    uint64_t u64RunLength;  // clusters
    int64_t n64RunOffset;   // clusters, relative
};
static_assert(sizeof(__RUNLIST__) == 16, "a run is 16 bytes in memory");

// A run at the same starting cluster as its predecessor cannot hold data of its
// own, so offset 0 marks a hole that reads as zeros.
inline bool IsSparseRun(const __RUNLIST__& run) { return run.n64RunOffset == 0; }

// Boot sector.
constexpr size_t NTFS_BOOT_BYTES_PER_SECTOR = 0x0B;    // u16, 0 means 512
constexpr size_t NTFS_BOOT_SECTORS_PER_CLUSTER = 0x0D; // u8
constexpr size_t NTFS_BOOT_MFT_CLUSTER = 0x30;         // u64

// MFT file record header.
constexpr uint32_t NTFS_FILE_SIGNATURE = 0x454C4946; // "FILE"
constexpr size_t NTFS_REC_USA_OFFSET = 0x04;          // u16
constexpr size_t NTFS_REC_USA_COUNT = 0x06;           // u16
constexpr size_t NTFS_REC_FIRST_ATTRIBUTE = 0x14;     // u16, read as signed
constexpr size_t NTFS_REC_FLAGS = 0x16;               // u16
constexpr size_t NTFS_REC_BYTES_IN_USE = 0x18;        // u32
constexpr size_t NTFS_REC_BYTES_ALLOCATED = 0x1C;     // u32
constexpr size_t NTFS_REC_NUMBER = 0x2C;              // u32
constexpr size_t NTFS_REC_USN = 0x30;                 // u16
constexpr size_t NTFS_REC_USA = 0x32;                 // u16 array
constexpr uint16_t NTFS_REC_FLAG_IN_USE = 0x0001;
constexpr uint16_t NTFS_REC_FLAG_DIRECTORY = 0x0002;
// The update sequence always covers 512-byte strides of a record.
constexpr int NTFS_USA_STRIDE = 512;

// Attribute header.
constexpr size_t NTFS_ATTR_TYPE = 0x00;            // u32
constexpr size_t NTFS_ATTR_LENGTH = 0x04;          // u32
constexpr size_t NTFS_ATTR_NON_RESIDENT = 0x08;    // u8
constexpr size_t NTFS_ATTR_NAME_LENGTH = 0x09;     // u8
constexpr size_t NTFS_ATTR_VALUE_LENGTH = 0x10;    // u32, resident
constexpr size_t NTFS_ATTR_VALUE_OFFSET = 0x14;    // u16, resident
constexpr size_t NTFS_ATTR_LOWEST_VCN = 0x10;      // u64, non-resident
constexpr size_t NTFS_ATTR_RUNLIST_OFFSET = 0x20;  // u16, non-resident
constexpr size_t NTFS_ATTR_ALLOCATED_SIZE = 0x28;  // u64, non-resident, first extent only
constexpr size_t NTFS_ATTR_REAL_SIZE = 0x30;       // u64, non-resident
constexpr size_t NTFS_ATTR_RESIDENT_HEADER = 0x18; // where resident values of the engines begin
constexpr size_t NTFS_ATTR_NON_RESIDENT_MIN = 0x38; // the non-resident header up to the real size

// Attribute types.
constexpr uint32_t NTFS_ATTR_ATTRIBUTE_LIST = 0x20;
constexpr uint32_t NTFS_ATTR_FILE_NAME = 0x30;
constexpr uint32_t NTFS_ATTR_DATA = 0x80;
constexpr uint32_t NTFS_ATTR_INDEX_ALLOCATION = 0xA0;
constexpr uint32_t NTFS_ATTR_END = 0xFFFFFFFF;
constexpr uint32_t NTFS_ATTR_FILL = 0xFDFDFDFD;

// $FILE_NAME, offsets from the start of its (resident) attribute.
constexpr size_t NTFS_FN_PARENT = 0x18;       // u64, low 32 bits used
constexpr size_t NTFS_FN_CREATE_TIME = 0x20;  // u64 FILETIME
constexpr size_t NTFS_FN_MODIFY_TIME = 0x28;
constexpr size_t NTFS_FN_ACCESS_TIME = 0x38;
constexpr size_t NTFS_FN_REAL_SIZE = 0x48;    // u64
constexpr size_t NTFS_FN_NAME_LENGTH = 0x58;  // u8, UTF-16 code units
constexpr size_t NTFS_FN_NAME_SPACE = 0x59;   // u8
constexpr size_t NTFS_FN_NAME = 0x5A;         // UTF-16LE
constexpr uint8_t NTFS_NAME_SPACE_WIN32 = 1;

// $ATTRIBUTE_LIST entry.
constexpr size_t NTFS_AL_TYPE = 0x00;        // u32
constexpr size_t NTFS_AL_LENGTH = 0x04;      // u16
constexpr size_t NTFS_AL_NAME_LENGTH = 0x06; // u8
constexpr size_t NTFS_AL_LOWEST_VCN = 0x08;  // u64
constexpr size_t NTFS_AL_REFERENCE = 0x10;   // u64, record number in the low 48 bits
constexpr size_t NTFS_AL_MIN_ENTRY = 0x18;

// Records with a fixed meaning.
constexpr uint32_t NTFS_MFT_RECORD = 0;
constexpr uint32_t NTFS_ROOT_RECORD = 5;
constexpr uint32_t NTFS_BITMAP_RECORD = 6;
constexpr uint32_t NTFS_FIRST_USER_RECORD = 12;

// Bytes read for one record by the record access operations' callers.
constexpr int NTFS_RECORD_READ_BYTES = 8192;

// Result codes of the record access layer.
constexpr int NTFS_ERR_NO_SIGNATURE = -1;
constexpr int NTFS_ERR_NO_ATTRIBUTE = -100;
constexpr int NTFS_ERR_NO_RESIDENT_DATA = -101;
constexpr int NTFS_ERR_INVALID = 87;
