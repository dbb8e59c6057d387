#pragma once
// Reconstructed FAT geometries ("virtual boot sectors") and the arithmetic that
// derives and applies them. Pure functions: no I/O.
#include "fat/FatNodeSectors.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// A cluster geometry worked out from directories found on the disk.
struct __VIRTUAL_DBR_INFO__ {
    uint32_t nSectorsPerCluster;   // 0 in a record's copy: no geometry known
    uint32_t nDataStartSector;     // relative to u64VolumeStartSector
    uint64_t u64VolumeStartSector; // absolute
};

// A directory's first cluster (from its "." entry) and the sector it was found at.
struct __FAT_SECTOR_OFFSET__ {
    uint32_t nClusterNO;
    uint64_t u64SectorNO;
};
static_assert(sizeof(__VIRTUAL_DBR_INFO__) == 16, "virtual boot sector is 16 bytes");
static_assert(sizeof(__FAT_SECTOR_OFFSET__) == 16, "directory anchor is 16 bytes");

inline bool HasGeometry(const __VIRTUAL_DBR_INFO__* d) { return d && d->nSectorsPerCluster != 0; }

// Absolute first sector of the data area under d.
inline uint64_t VirtualDbrDataStart(const __VIRTUAL_DBR_INFO__& d) { return d.u64VolumeStartSector + d.nDataStartSector; }

// Absolute first sector of cluster c under d; cluster 0 is the FAT16 root area.
// Clusters 1 (never valid) and those whose sector would lie before sector 0 give UINT64_MAX.
uint64_t VirtualDbrClusterSector(const __VIRTUAL_DBR_INFO__& d, uint32_t cluster);

// Geometry through two directory anchors (cluster, sector); false when the pair
// explains no geometry: equal clusters, a cluster below 2, a sector order that
// contradicts the cluster order, a non-integral or non-power-of-two cluster size
// (1..128), or a data area that would begin before areaStart.
bool CalcVirtualDbrFromAnchors(uint32_t cA, uint64_t sA, uint32_t cB, uint64_t sB, uint64_t areaStart,
                               __VIRTUAL_DBR_INFO__* out);

// When sector s is the first sector of a cluster under d, that cluster (0 for
// the first sector of the FAT16 root area) in *cluster.
bool VirtualDbrClusterAt(const __VIRTUAL_DBR_INFO__& d, uint64_t s, uint32_t* cluster);

// The cluster that contains sector s under d (the root area counts as cluster 0);
// false before the root area.
bool VirtualDbrClusterContaining(const __VIRTUAL_DBR_INFO__& d, uint64_t s, uint32_t* cluster);

// Lookups over the known geometries in order; -1 when none fits.
// Exact: the first under which cluster c begins at sector s.
int FindExactVirtualDbr(const std::vector<__VIRTUAL_DBR_INFO__>& v, uint64_t s, uint32_t c);
// Inside: the first under which s lies inside cluster c.
int FindNearestVirtualDbr(const std::vector<__VIRTUAL_DBR_INFO__>& v, uint64_t s, uint32_t c);
// Best: the only one; else (skipping a real boot sector in front) the one whose
// data area begins nearest at or below s, ties to the earlier; else the first.
int FindBestVirtualDbr(const std::vector<__VIRTUAL_DBR_INFO__>& v, uint64_t s, bool hasRealDbr);
