#pragma once
// The free-run iterator over a cluster-use bitmap (bit i = cluster i + 2, 1 = in
// use), shared by the engines of file systems that keep one (FAT, exFAT).
#include <cstdint>

struct CLUSTER_BITMAP_VIEW {
    const uint8_t* pBits = nullptr;
    uint32_t nBytes = 0;
    uint32_t nClusterCount = 0;     // bits that stand for clusters; later bits are ignored
    uint32_t nSectorsPerCluster = 1;
    uint32_t nDataStartSector = 0;  // relative to the volume start
    uint64_t u64SectorCount = 0;    // sectors of the volume
};

// From sector (relative to the volume; 0 = start of the data area) finds the next
// run of free clusters: sector moves forward over used clusters by whole
// clusters, count is the run's length in sectors (0 when no free cluster
// follows). Both are relative to the volume start on return. Always returns 1.
int NextFreeClusterRun(const CLUSTER_BITMAP_VIEW& bitmap, uint64_t& sector, uint64_t& count);
