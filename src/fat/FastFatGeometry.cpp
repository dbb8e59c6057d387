#include "fat/FastFatGeometry.h"

#include "fat/FatNodeSectors.h"
#include "fat/FatStructures.h"

namespace {
bool IsPowerOfTwo(uint32_t v) { return v && !(v & (v - 1)); }
} // namespace

int ParseFastFatGeometry(const ByteView& boot, FAST_FAT_GEOMETRY& out) {
    FAST_FAT_GEOMETRY g;
    g.nBytesPerSector = boot.le16(FAT_BPB_BYTS_PER_SEC);
    g.nSectorsPerCluster = boot.u8(FAT_BPB_SEC_PER_CLUS);
    g.nReservedSectors = boot.le16(FAT_BPB_RSVD_SEC_CNT);
    g.nNumFats = boot.u8(FAT_BPB_NUM_FATS);
    g.u64TotalSectors = boot.le32(FAT_BPB_TOT_SEC32);
    if (g.u64TotalSectors == 0) g.u64TotalSectors = boot.le16(0x13); // small volumes keep a 16-bit count
    const bool fat32 = boot.equals(FAT_BS_FIL_SYS_TYPE32, "FAT32   ", 8);
    if (fat32) {
        g.nFatType = 1;
        g.nFatSectors = boot.le32(FAT_BPB_FAT_SZ32);
        g.nRootClusterNO = boot.le32(FAT_BPB_ROOT_CLUS);
        g.nDataStartSector = g.nReservedSectors + g.nNumFats * g.nFatSectors;
    } else {
        g.nFatType = 0;
        g.nFatSectors = boot.le16(FAT_BPB_FAT_SZ16);
        g.nRootClusterNO = 0;
        g.nDataStartSector = g.nReservedSectors + g.nFatSectors * g.nNumFats + kFatRootFolderSectors;
    }
    if (boot.bad()) return 87;
    if (g.nBytesPerSector < 512 || g.nBytesPerSector > 4096 || !IsPowerOfTwo(g.nBytesPerSector)) return 87;
    if (!IsPowerOfTwo(g.nSectorsPerCluster) || g.nReservedSectors == 0 || g.nNumFats == 0 || g.nFatSectors == 0)
        return 87;
    // A FAT of absurd size would make nDataStartSector wrap.
    if (uint64_t(g.nNumFats) * g.nFatSectors + g.nReservedSectors + kFatRootFolderSectors > 0xFFFFFFFFull) return 87;
    if (g.u64TotalSectors <= g.nDataStartSector) return 87;

    uint64_t clusters = (g.u64TotalSectors - g.nDataStartSector) / g.nSectorsPerCluster;
    // Clusters the FAT can describe (entries 0 and 1 are reserved).
    uint64_t entries = uint64_t(g.nFatSectors) * g.nBytesPerSector / (fat32 ? 4 : 2);
    if (entries < 3) return 87;
    if (clusters > entries - 2) clusters = entries - 2;
    if (clusters > 0x0FFFFFF5) clusters = 0x0FFFFFF5;
    g.nClusterCount = uint32_t(clusters);
    if (fat32 && (g.nRootClusterNO < 2 || g.nRootClusterNO >= g.nClusterCount + 2)) return 87;
    out = g;
    return 0;
}
