#pragma once
// Cluster geometry of an exFAT volume whose boot regions are gone, worked out
// from what the deep pass found: folders' first clusters against the sectors
// where folder contents begin, and files' first clusters against the sectors
// that carry their signatures. Pure: the signature test is a look-up.
#include <cstdint>
#include <functional>
#include <vector>

struct EXFAT_GUESS_INPUT {
    std::vector<uint32_t> dirFirstClusters;   // first clusters named by folder entry sets
    std::vector<uint64_t> dirStartSectors;    // absolute sectors where a folder's entries begin
    std::vector<uint32_t> fileFirstClusters;  // files whose extension has a signature
    // The root folder's own sector and its up-case table entry, when met.
    uint64_t rootSector = 0;
    uint32_t upcaseCluster = 0;
    uint64_t upcaseLength = 0;
};

struct EXFAT_GUESS {
    uint32_t nSectorsPerCluster = 0; // 512-byte sectors; 0: nothing fits
    uint64_t u64Cluster2Sector = 0;  // absolute sector of cluster 2
    unsigned nScore = 0;
};

// True when file i of fileFirstClusters starts with its signature at that absolute sector.
using ExfatSignatureProbe = std::function<bool(size_t file, uint64_t sector)>;

// The best-supported geometry with clusters of 512 B to 128 KiB, or one with
// nSectorsPerCluster 0 when fewer than two clues agree. lowestSector bounds
// cluster 2 from below (the scanned area's start).
EXFAT_GUESS GuessExfatGeometry(const EXFAT_GUESS_INPUT& in, uint64_t lowestSector, const ExfatSignatureProbe& probe);
