#pragma once
// One exFAT volume on a disk: its geometry, FAT look-ups through a cache, the
// allocation bitmap, and reads of cluster runs. Both engines read through it.
#include "exfat/ExfatClusterMap.h"
#include "exfat/ExfatStructures.h"

#include <cstdint>
#include <memory>
#include <vector>

class CDiskReader;

class ExfatVolume {
public:
    // hasFat: the geometry came from a boot region, so the FAT can be consulted.
    ExfatVolume(CDiskReader* reader, uint64_t startSector, const EXFAT_GEOMETRY& g, bool hasFat);

    const EXFAT_GEOMETRY& Geometry() const { return m_Geometry; }
    uint64_t StartSector() const { return m_u64StartSector; }
    bool HasFat() const { return m_bHasFat; }
    // Absolute first 512-byte sector of a data cluster.
    uint64_t ClusterSector(uint32_t c) const { return m_u64StartSector + m_Geometry.ClusterSector(c); }

    // The raw FAT entry of a cluster (first FAT). False when it cannot be read.
    bool FatEntry(uint32_t cluster, uint32_t& next);
    ExfatFatLookup FatLookup();

    // Loads the allocation bitmap from its clusters (contiguous, or along the FAT).
    int LoadBitmap(uint32_t firstCluster, uint64_t length);
    EXFAT_BITMAP Bitmap() const { return EXFAT_BITMAP{m_Bitmap.data(), m_Bitmap.size()}; }
    std::vector<uint8_t>& BitmapBytes() { return m_Bitmap; }

    // Reads at most maxBytes of the runs into out. 0, or why it ended early
    // (what was read stays in out).
    int ReadRuns(const std::vector<EXFAT_RUN>& runs, uint64_t maxBytes, std::vector<uint8_t>& out);
    // Reads whole sectors of one cluster into buf (ClusterBytes()); bytes = what arrived.
    int ReadCluster(uint32_t cluster, unsigned char* buf, uint32_t& bytes);

private:
    CDiskReader* m_pReader;
    uint64_t m_u64StartSector;
    EXFAT_GEOMETRY m_Geometry;
    bool m_bHasFat;
    std::vector<uint8_t> m_FatWindow;
    uint64_t m_u64FatWindowFirst = 0; // first FAT sector in the window
    std::vector<uint8_t> m_Bitmap;
};
