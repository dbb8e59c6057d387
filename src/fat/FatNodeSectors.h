#pragma once
// Where FAT clusters lie on the device: one formula for the quick and the deep
// engine.
#include "engine/FileNode.h"

#include <cstdint>

// Sectors of the FAT12/16 root folder, lying directly in front of the data area.
constexpr uint32_t kFatRootFolderSectors = 32;

// Absolute first sector of a cluster of a volume whose data area begins at the
// absolute sector dataStart. Cluster 0 names the FAT12/16 root folder; cluster 1
// names nothing. UINT64_MAX for cluster 1 and for a root folder that would begin
// before sector 0.
uint64_t FatClusterSector(uint64_t dataStart, uint32_t cluster, unsigned sectorsPerCluster);

// Absolute first sector of the data of a FAT file or folder record.
uint64_t FatNodeFirstSector(const _FILE_NODE_& node);
