#pragma once
// Records the deep FAT engine keeps while it files directory sectors found
// anywhere on a disk into reconstructed volumes.
#include "engine/FileNode.h"
#include "fat/VirtualDbr.h"

#include <cstdint>
#include <vector>

// A long name whose run of entries reached the end of the buffer it was found in,
// waiting for the sector that continues it.
struct __LONG_FILE_INFO__ {
    uint8_t nCheckSum;                 // checksum byte of the open run
    uint8_t reserved[3];
    uint32_t nSectorsPerCluster;       // of the buffer's geometry, 0 when none
    uint32_t nVolumeStartSector;       // low 32 bits
    uint32_t nDataStartSector;
    uint32_t nDirClusterNO;            // directory the buffer belongs to
    uint32_t nSavedBytes;
    uint64_t u64SectorNO;              // sector of the buffer
    uint8_t szBuf[512];                // the buffer from the run's first entry on
    uint32_t nVolumeStartSectorHigh;   // high 32 bits, so volumes past 2 TiB stay placeable
    uint32_t reserved2;
};
static_assert(sizeof(__LONG_FILE_INFO__) == 552, "pending long name");

// A directory sector not yet placed in a cluster: a private copy.
struct __UNDEAL_FILE__ {
    uint32_t bDealt = 0;               // 1 once joined to a pending long name
    std::vector<uint8_t> buf;
};

// A file entry met before any geometry explained its directory. In the node,
// nFileIndex holds the directory's cluster and u64RecordSector the parsed sector.
struct __NO_DBR_FILE_NODE__ {
    uint32_t bDealt;
    _FILE_NODE_ node;
};
// Kept in memory only, so the node keeps its natural alignment.

// A subdirectory entry: its node (nFileIndex = parent cluster, nClusterNO = its
// own cluster) and the geometry it was found under (zeros when none).
struct __PRO_DIR_INFO__ {
    _FILE_NODE_ node;
    __VIRTUAL_DBR_INFO__ dbr;
};
static_assert(sizeof(__PRO_DIR_INFO__) == 360, "directory seen");

// A directory that must appear in the tree because a recorded file lies below it.
struct __PRO_NEED_ADD_DIR_INFO__ {
    __VIRTUAL_DBR_INFO__ dbr;
    uint64_t u64SectorNO;
};
static_assert(sizeof(__PRO_NEED_ADD_DIR_INFO__) == 24, "directory to show");

// Geometry, cluster and sector last used to place a directory sector.
struct __LAST_PLACED_DBR__ {
    uint32_t nSectorsPerCluster = 0;
    uint32_t nDataStartSector = 0;
    uint32_t nClusterNO = 0;
    uint64_t u64VolumeStartSector = 0;
    uint64_t u64SectorNO = 0;
};
