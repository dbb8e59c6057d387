#pragma once
// exFAT on-disk structures: the boot region and directory entry sets, parsed
// as pure functions over bounded byte views.
#include "platform/ByteView.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Geometry of an exFAT volume from its boot sector (in the volume's own sectors,
// relative to the volume).
struct EXFAT_GEOMETRY {
    uint32_t nBytesPerSector = 512;
    uint32_t nSectorsPerCluster = 0;
    uint64_t u64VolumeSectors = 0;
    uint32_t nFatOffset = 0;
    uint32_t nFatLength = 0;
    uint32_t nHeapOffset = 0;   // first sector of cluster 2
    uint32_t nClusterCount = 0; // data clusters, numbered from 2
    uint32_t nRootCluster = 0;
    uint32_t nNumFats = 1;
    uint32_t ClusterBytes() const { return nBytesPerSector * nSectorsPerCluster; }
    bool IsDataCluster(uint32_t c) const { return c >= 2 && c - 2 < nClusterCount; }
    // 512-byte units per sector: the rest of the system counts in those.
    uint32_t Scale() const { return nBytesPerSector / 512; }
    // Volume-relative first 512-byte sector of a data cluster, and of the heap.
    uint64_t ClusterSector(uint32_t c) const { return (nHeapOffset + uint64_t(c - 2) * nSectorsPerCluster) * Scale(); }
    uint64_t HeapSector() const { return uint64_t(nHeapOffset) * Scale(); }
};

// The boot sector's own checks (name, must-be-zero bytes, shifts, layout inside
// the volume). 0, or 87 when it describes no volume.
int ParseExfatBootSector(const ByteView& sector, EXFAT_GEOMETRY& out);

// Geometry from the boot region that passes its checks and checksum: the main
// one at sector 0, else the backup at sector 12. 0, or 87 when neither does.
int ParseExfatBootRegion(const ByteView& area, EXFAT_GEOMETRY& out, bool* usedBackup = nullptr);

constexpr size_t EXFAT_ENTRY_BYTES = 32;
constexpr uint8_t EXFAT_IN_USE = 0x80;
constexpr uint8_t EXFAT_TYPE_END = 0x00;
constexpr uint8_t EXFAT_TYPE_BITMAP = 0x81;
constexpr uint8_t EXFAT_TYPE_UPCASE = 0x82;
constexpr uint8_t EXFAT_TYPE_FILE = 0x85;
constexpr uint8_t EXFAT_TYPE_STREAM = 0xC0;
constexpr uint8_t EXFAT_TYPE_NAME = 0xC1;
constexpr uint16_t EXFAT_ATTR_DIRECTORY = 0x10;
constexpr uint8_t EXFAT_FLAG_NO_FAT_CHAIN = 0x02;
constexpr uint32_t EXFAT_MAX_NAME_UNITS = 255;

// One file or folder: a file entry, its stream extension and its name entries.
struct EXFAT_ENTRY_SET {
    uint32_t nOffset = 0;       // byte offset of the file entry in the parsed view
    uint32_t nEntries = 0;      // entries of the set, file entry included
    bool bDeleted = false;      // the in-use bits are clear
    uint16_t nAttributes = 0;
    uint64_t u64CreateTime = 0; // FILETIME (UTC when the volume recorded its offset)
    uint64_t u64ModifyTime = 0;
    uint64_t u64AccessTime = 0;
    uint8_t nStreamFlags = 0;
    uint32_t nFirstCluster = 0;
    uint64_t u64DataLength = 0;
    uint64_t u64ValidDataLength = 0;
    uint32_t nNameUnits = 0;
    uint16_t name[EXFAT_MAX_NAME_UNITS];
    bool IsDir() const { return (nAttributes & EXFAT_ATTR_DIRECTORY) != 0; }
    bool NoFatChain() const { return (nStreamFlags & EXFAT_FLAG_NO_FAT_CHAIN) != 0; }
};

// The root directory's system entries.
struct EXFAT_ROOT_ENTRIES {
    uint32_t nBitmapCluster = 0;
    uint64_t u64BitmapLength = 0;
    uint32_t nUpcaseCluster = 0;
    uint64_t u64UpcaseLength = 0;
};

// The set checksum over count entries at offset, the checksum field skipped and
// every entry type counted as in use (a deletion clears only those bits).
uint16_t ExfatSetChecksum(const ByteView& dir, size_t offset, unsigned count);

// The set whose file entry is at offset: 0 when it is complete, consistent and
// its checksum holds; 87 otherwise (also when it runs past the view).
int ParseExfatEntrySet(const ByteView& dir, size_t offset, EXFAT_ENTRY_SET& out);

// Every valid set of a directory's bytes, in order; entries of invalid sets are
// stepped over one at a time. Returns true when an end-of-directory entry was met.
bool ParseExfatDirectory(const ByteView& dir, std::vector<EXFAT_ENTRY_SET>& out, EXFAT_ROOT_ENTRIES* root = nullptr);

// An exFAT timestamp, its 10 ms increment and UTC offset byte as a FILETIME; 0 when not a date.
uint64_t ExfatTimeToFileTime(uint32_t stamp, uint8_t tenMs, uint8_t utcOffset);

// The name of a set in the 8-bit code page.
void ExfatNameToAnsi(const EXFAT_ENTRY_SET& set, char* out, size_t outSize);
