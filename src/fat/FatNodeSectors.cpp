#include "fat/FatNodeSectors.h"

uint64_t FatClusterSector(uint64_t dataStart, uint32_t cluster, unsigned sectorsPerCluster) {
    if (cluster == 0) return dataStart >= kFatRootFolderSectors ? dataStart - kFatRootFolderSectors : UINT64_MAX;
    if (cluster == 1) return UINT64_MAX;
    return dataStart + uint64_t(cluster - 2) * sectorsPerCluster;
}

uint64_t FatNodeFirstSector(const _FILE_NODE_& node) {
    return FatClusterSector(node.u64PartitionStartSector + node.u64DataStartSector, node.nClusterNO,
                            node.nClusterBytes / 512);
}
