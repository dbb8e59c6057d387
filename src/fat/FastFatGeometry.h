#pragma once
// Geometry of a FAT16/FAT32 volume as the quick engine reads it from the boot sector.
#include "platform/ByteView.h"

#include <cstdint>

struct FAST_FAT_GEOMETRY {
    uint32_t nBytesPerSector = 512;
    uint32_t nSectorsPerCluster = 0;
    uint32_t nReservedSectors = 0;
    uint32_t nNumFats = 0;
    uint32_t nFatSectors = 0;       // sectors of one FAT copy
    uint32_t nFatType = 1;          // 1 FAT32 (32-bit entries), 0 FAT16 (16-bit entries)
    uint32_t nRootClusterNO = 0;    // FAT32: BPB_RootClus; FAT16: 0
    uint32_t nDataStartSector = 0;  // relative to the volume start
    uint64_t u64TotalSectors = 0;   // BPB_TotSec32, or the 16-bit count when that is 0
    uint32_t nClusterCount = 0;     // data clusters (numbered from 2)
};

// Reads the geometry from the first sector(s) of a volume. 0, or 87 when the
// fields cannot describe a volume (zero or odd sizes, data area past the end).
int ParseFastFatGeometry(const ByteView& boot, FAST_FAT_GEOMETRY& out);
