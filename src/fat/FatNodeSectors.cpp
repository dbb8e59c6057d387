#include "fat/FatNodeSectors.h"

uint64_t FatNodeFirstSector(const _FILE_NODE_& node) {
    const long long perCluster = node.nClusterBytes / 512;
    // Cluster 0 is a FAT12/16 root folder, which sits just before the data area.
    const long long offset = node.nClusterNO == 0 ? -32 : (static_cast<long long>(node.nClusterNO) - 2) * perCluster;
    return static_cast<uint64_t>(static_cast<long long>(node.u64DataStartSector + node.u64PartitionStartSector) + offset);
}
