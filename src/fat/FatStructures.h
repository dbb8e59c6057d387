#pragma once
// FAT on-disk formats shared by the quick and the deep FAT engines, and the
// validators that decide whether bytes can be directory entries or a directory
// table. Everything here works on caller-owned bytes and never does I/O.
#include <cstddef>
#include <cstdint>

// Boot sector field offsets (names from the published FAT layout).
enum FAT_BOOT_OFFSET : unsigned {
    FAT_BPB_BYTS_PER_SEC = 0x0B, // u16
    FAT_BPB_SEC_PER_CLUS = 0x0D, // u8
    FAT_BPB_RSVD_SEC_CNT = 0x0E, // u16
    FAT_BPB_NUM_FATS = 0x10,     // u8
    FAT_BPB_FAT_SZ16 = 0x16,     // u16
    FAT_BPB_TOT_SEC32 = 0x20,    // u32
    FAT_BPB_FAT_SZ32 = 0x24,     // u32
    FAT_BPB_ROOT_CLUS = 0x2C,    // u32
    FAT_BS_FIL_SYS_TYPE32 = 0x52, // 8 bytes, "FAT32   " on FAT32 volumes
};

// Attribute bits of DIR_Attr.
enum FAT_ATTR : uint8_t {
    FAT_ATTR_READ_ONLY = 0x01,
    FAT_ATTR_HIDDEN = 0x02,
    FAT_ATTR_SYSTEM = 0x04,
    FAT_ATTR_VOLUME_ID = 0x08,
    FAT_ATTR_DIRECTORY = 0x10,
    FAT_ATTR_ARCHIVE = 0x20,
    FAT_ATTR_LONG_NAME = 0x0F,
};

constexpr uint8_t FAT_DELETED_MARK = 0xE5;
constexpr uint8_t FAT_LAST_LONG_ENTRY = 0x40;
constexpr size_t FAT_ENTRY_BYTES = 32;
constexpr size_t FAT_LONG_NAME_CHARS = 13; // UTF-16 units held by one long-name entry

#pragma pack(push, 1)
// The 32-byte directory entry, little-endian.
struct FAT32_Entry {
    uint8_t DIR_Name[8];  // blank-padded base; [0] 0x00 = end, 0xE5 = deleted
    uint8_t DIR_Ext[3];   // blank-padded extension
    uint8_t DIR_Attr;
    uint8_t DIR_NTRes;
    uint8_t DIR_CrtTimeTenth;
    uint16_t DIR_CrtTime;
    uint16_t DIR_CrtDate;
    uint16_t DIR_LstAccDate;
    uint16_t DIR_FstClusHI; // FAT32 only
    uint16_t DIR_WrtTime;
    uint16_t DIR_WrtDate;
    uint16_t DIR_FstClusLO;
    uint32_t DIR_FileSize;
};

// A long-name entry (DIR_Attr 0x0F): 13 UTF-16LE characters of the name.
struct FAT_LONG_NAME_ENTRY {
    uint8_t LDIR_Ord;       // sequence number; 0x40 marks the last (physically first) piece
    uint8_t LDIR_Name1[10]; // characters 1-5
    uint8_t LDIR_Attr;      // 0x0F
    uint8_t LDIR_Type;
    uint8_t LDIR_Chksum;    // checksum of the short name that follows
    uint8_t LDIR_Name2[12]; // characters 6-11
    uint16_t LDIR_FstClusLO; // always 0
    uint8_t LDIR_Name3[4];  // characters 12-13
};
#pragma pack(pop)
static_assert(sizeof(FAT32_Entry) == 32, "FAT directory entries are 32 bytes");
static_assert(sizeof(FAT_LONG_NAME_ENTRY) == 32, "FAT long-name entries are 32 bytes");

// A FAT date word: bits 15-9 year - 1980, bits 8-5 month, bits 4-0 day.
struct FAT_DATE {
    uint16_t wValue;
    unsigned Year() const { return 1980u + (wValue >> 9); }
    unsigned Month() const { return (wValue >> 5) & 0x0F; }
    unsigned Day() const { return wValue & 0x1F; }
};

#ifndef ORVALE_HAVE_FILETIME
#define ORVALE_HAVE_FILETIME
// A 64-bit time stored as two halves, low half first.
struct _FILETIME {
    uint32_t dwLowDateTime;
    uint32_t dwHighDateTime;
};
#endif

// First cluster of an entry: (FstClusHI << 16) | FstClusLO.
inline uint32_t FatEntryCluster(const FAT32_Entry* e) {
    return (uint32_t(e->DIR_FstClusHI) << 16) | e->DIR_FstClusLO;
}

// 1 when the 32 bytes can be a directory entry. bytesAvailable is the number of
// bytes readable from entry on; the "." entry of a dot pair is only recognised
// when the ".." entry behind it is readable too (64 bytes).
int IsFatEntyValid(const FAT32_Entry* entry, size_t bytesAvailable = FAT_ENTRY_BYTES);
// 1 when the 64 bytes at p are a "." entry followed by a ".." entry.
int IsFatFileRecord(const unsigned char* p);
// The same, with the number of bytes readable at p (fewer than 64 gives 0).
int IsFatFileRecord(const unsigned char* p, size_t len);
// 1 when the len bytes form a plausible directory table.
int IsFatFDTRecord(const unsigned char* buf, int len);
// 1 when one of the 11 name bytes is forbidden in a short name.
int IsInvalidShortFileName(const char* name11);
// The long-name checksum of the 11 name bytes.
uint8_t GetShortNameCheckSum(const char* name11);

// Seconds since 1970 of 00:00:00 local time on the day of a FAT date word.
int64_t FatDateToUnixTime(uint16_t dateWord);
// Store that time of DIR_CrtDate, DIR_LstAccDate, DIR_WrtDate (time words are ignored).
void Fat32GetFileCreateTime(const FAT32_Entry* entry, _FILETIME* out);
void Fat32GetFileLastAccessTime(const FAT32_Entry* entry, _FILETIME* out);
void Fat32GetFileLastChangeTime(const FAT32_Entry* entry, _FILETIME* out);
// The value a _FILETIME holds as one 64-bit number.
inline uint64_t FileTimeToU64(const _FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

// Copies the 13 UTF-16 characters of a long-name entry into out, in name order.
void GetLongNameChars(const FAT_LONG_NAME_ENTRY* entry, uint16_t out[FAT_LONG_NAME_CHARS]);
