#include "fat/VirtualDbr.h"

uint64_t VirtualDbrClusterSector(const __VIRTUAL_DBR_INFO__& d, uint32_t cluster) {
    return FatClusterSector(VirtualDbrDataStart(d), cluster, d.nSectorsPerCluster);
}

bool CalcVirtualDbrFromAnchors(uint32_t cA, uint64_t sA, uint32_t cB, uint64_t sB, uint64_t areaStart,
                               __VIRTUAL_DBR_INFO__* out) {
    if (cA == cB || cA < 2 || cB < 2) return false;
    // The higher cluster must lie at the higher sector; pairing the values
    // component by component regardless would invent geometries that place
    // neither directory where it was found.
    if ((cA > cB) != (sA > sB) || sA == sB) return false;
    uint32_t c1 = cA > cB ? cA : cB, c2 = cA > cB ? cB : cA;
    uint64_t s1 = sA > sB ? sA : sB, s2 = sA > sB ? sB : sA;
    uint64_t ds = s1 - s2, dc = c1 - c2;
    if (ds % dc != 0) return false;
    uint64_t spc = ds / dc;
    if (spc == 0 || spc > 128 || (spc & (spc - 1)) != 0) return false;
    uint64_t back = uint64_t(c2 - 2) * spc;
    if (back > s2) return false;
    uint64_t base = s2 - back;
    if (base < areaStart || base - areaStart > UINT32_MAX) return false;
    if (s1 - uint64_t(c1 - 2) * spc != base) return false;
    out->nSectorsPerCluster = static_cast<uint32_t>(spc);
    out->nDataStartSector = static_cast<uint32_t>(base - areaStart);
    out->u64VolumeStartSector = areaStart;
    return true;
}

bool VirtualDbrClusterAt(const __VIRTUAL_DBR_INFO__& d, uint64_t s, uint32_t* cluster) {
    if (d.nSectorsPerCluster == 0) return false;
    uint64_t data = VirtualDbrDataStart(d);
    if (s < data) {
        if (data >= kFatRootFolderSectors && s == data - kFatRootFolderSectors) {
            *cluster = 0;
            return true;
        }
        return false;
    }
    uint64_t r = s - data;
    if (r % d.nSectorsPerCluster != 0) return false;
    uint64_t c = r / d.nSectorsPerCluster + 2;
    if (c > UINT32_MAX) return false;
    *cluster = static_cast<uint32_t>(c);
    return true;
}

bool VirtualDbrClusterContaining(const __VIRTUAL_DBR_INFO__& d, uint64_t s, uint32_t* cluster) {
    if (d.nSectorsPerCluster == 0) return false;
    uint64_t data = VirtualDbrDataStart(d);
    if (s < data) {
        if (data >= kFatRootFolderSectors && s >= data - kFatRootFolderSectors) {
            *cluster = 0;
            return true;
        }
        return false;
    }
    uint64_t c = (s - data) / d.nSectorsPerCluster + 2;
    if (c > UINT32_MAX) return false;
    *cluster = static_cast<uint32_t>(c);
    return true;
}

int FindExactVirtualDbr(const std::vector<__VIRTUAL_DBR_INFO__>& v, uint64_t s, uint32_t c) {
    for (size_t i = 0; i < v.size(); ++i)
        if (v[i].nSectorsPerCluster && VirtualDbrClusterSector(v[i], c) == s) return static_cast<int>(i);
    return -1;
}

int FindNearestVirtualDbr(const std::vector<__VIRTUAL_DBR_INFO__>& v, uint64_t s, uint32_t c) {
    for (size_t i = 0; i < v.size(); ++i) {
        if (!v[i].nSectorsPerCluster) continue;
        uint64_t first = VirtualDbrClusterSector(v[i], c);
        if (first == UINT64_MAX) continue;
        if (s >= first && s - first < v[i].nSectorsPerCluster) return static_cast<int>(i);
    }
    return -1;
}

int FindBestVirtualDbr(const std::vector<__VIRTUAL_DBR_INFO__>& v, uint64_t s, bool hasRealDbr) {
    if (v.empty()) return -1;
    if (v.size() == 1) return 0;
    int best = -1;
    uint64_t bestStart = 0;
    for (size_t i = hasRealDbr ? 1 : 0; i < v.size(); ++i) {
        uint64_t start = VirtualDbrDataStart(v[i]);
        if (start > s) continue;
        if (best < 0 || start > bestStart) {
            best = static_cast<int>(i);
            bestStart = start;
        }
    }
    return best < 0 ? 0 : best;
}
