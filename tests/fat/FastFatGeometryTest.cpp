// Boot-sector geometry and the free-run iterator, on hand-made inputs.
#include "fat/FastFatFreeRuns.h"
#include "fat/FastFatGeometry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> BootSector(bool fat32, uint16_t bps, uint8_t spc, uint32_t total32, uint16_t total16 = 0) {
    std::vector<uint8_t> b(512, 0);
    auto put16 = [&](size_t o, uint16_t v) { b[o] = uint8_t(v); b[o + 1] = uint8_t(v >> 8); };
    auto put32 = [&](size_t o, uint32_t v) { put16(o, uint16_t(v)); put16(o + 2, uint16_t(v >> 16)); };
    put16(0x0B, bps);
    b[0x0D] = spc;
    put16(0x0E, fat32 ? 32 : 4);
    b[0x10] = 2;
    put16(0x13, total16);
    put32(0x20, total32);
    if (fat32) {
        put32(0x24, 700);
        put32(0x2C, 2);
        std::memcpy(b.data() + 0x52, "FAT32   ", 8);
    } else {
        put16(0x16, 32);
    }
    return b;
}

} // namespace

TEST(FastFatGeometry, ReadsBothLayouts) {
    FAST_FAT_GEOMETRY g;
    std::vector<uint8_t> b32 = BootSector(true, 512, 1, 80000);
    ASSERT_EQ(ParseFastFatGeometry(ByteView(b32.data(), b32.size()), g), 0);
    EXPECT_EQ(g.nFatType, 1u);
    EXPECT_EQ(g.nRootClusterNO, 2u);
    EXPECT_EQ(g.nDataStartSector, 32u + 2 * 700);
    EXPECT_EQ(g.nClusterCount, 80000u - 1432);

    // Small FAT16 volumes keep the sector count in the 16-bit field.
    std::vector<uint8_t> b16 = BootSector(false, 512, 4, 0, 32768);
    ASSERT_EQ(ParseFastFatGeometry(ByteView(b16.data(), b16.size()), g), 0);
    EXPECT_EQ(g.nFatType, 0u);
    EXPECT_EQ(g.nRootClusterNO, 0u);
    EXPECT_EQ(g.nDataStartSector, 4u + 64 + 32);
    EXPECT_EQ(g.u64TotalSectors, 32768u);
    EXPECT_EQ(g.nClusterCount, (32768u - 100) / 4);

    // The FAT bounds the cluster count when the volume claims more.
    std::vector<uint8_t> big = BootSector(false, 512, 1, 4000000);
    ASSERT_EQ(ParseFastFatGeometry(ByteView(big.data(), big.size()), g), 0);
    EXPECT_EQ(g.nClusterCount, 32u * 512 / 2 - 2);
}

TEST(FastFatGeometry, RefusesFieldsThatDescribeNoVolume) {
    FAST_FAT_GEOMETRY g;
    std::vector<std::vector<uint8_t>> bad = {
        BootSector(true, 512, 0, 80000),   // no sectors per cluster
        BootSector(true, 512, 3, 80000),   // not a power of two
        BootSector(true, 100, 1, 80000),   // odd sector size
        BootSector(true, 512, 1, 1000),    // data area past the end
        BootSector(false, 512, 4, 0, 0),   // no size at all
    };
    std::vector<uint8_t> root = BootSector(true, 512, 1, 80000);
    root[0x2C] = 0xFF; root[0x2D] = 0xFF; root[0x2E] = 0xFF; // root cluster past the volume
    bad.push_back(root);
    for (size_t i = 0; i < bad.size(); ++i)
        EXPECT_EQ(ParseFastFatGeometry(ByteView(bad[i].data(), bad[i].size()), g), 87) << i;
    std::vector<uint8_t> cut(0x20, 0);
    EXPECT_EQ(ParseFastFatGeometry(ByteView(cut.data(), cut.size()), g), 87);
}

TEST(FastFatFreeRuns, RunsSkipUsedClustersAndKeepOffsets) {
    // Clusters 2..25 (24 bits): used 0-3, free 4-9, used 10, free 11-23.
    std::vector<uint8_t> bits = {0x0F, 0x04, 0x00};
    FASTFAT_BITMAP_VIEW v;
    v.pBits = bits.data();
    v.nBytes = 3;
    v.nClusterCount = 24;
    v.nSectorsPerCluster = 4;
    v.nDataStartSector = 100;
    v.u64SectorCount = 100 + 24 * 4;

    uint64_t sector = 0, count = 0;
    FastFatNextFreeRun(v, sector, count);
    EXPECT_EQ(sector, 100u + 4 * 4);
    EXPECT_EQ(count, 6u * 4);
    sector += count;
    FastFatNextFreeRun(v, sector, count);
    EXPECT_EQ(sector, 100u + 11 * 4);
    EXPECT_EQ(count, 13u * 4);
    sector += count;
    FastFatNextFreeRun(v, sector, count);
    EXPECT_EQ(count, 0u);

    // A sector inside a free cluster keeps its offset.
    sector = 100 + 5 * 4 + 2;
    FastFatNextFreeRun(v, sector, count);
    EXPECT_EQ(sector, 100u + 5 * 4 + 2);
    EXPECT_EQ(count, 5u * 4 - 2);

    // Past the volume: clamped, nothing found.
    sector = 100000;
    FastFatNextFreeRun(v, sector, count);
    EXPECT_EQ(sector, v.u64SectorCount);
    EXPECT_EQ(count, 0u);

    // A volume that ends inside the last run cuts the run.
    v.u64SectorCount = 100 + 20 * 4;
    sector = 100 + 11 * 4;
    FastFatNextFreeRun(v, sector, count);
    EXPECT_EQ(count, 9u * 4);
}

TEST(FastFatFreeRuns, FullVolumeAndPaddingBits) {
    std::vector<uint8_t> full = {0xFF, 0xFF, 0x0F};
    FASTFAT_BITMAP_VIEW v;
    v.pBits = full.data();
    v.nBytes = 3;
    v.nClusterCount = 20; // bits 20-23 are padding, not clusters
    v.nSectorsPerCluster = 1;
    v.nDataStartSector = 10;
    v.u64SectorCount = 1000;
    uint64_t sector = 0, count = 7;
    FastFatNextFreeRun(v, sector, count);
    EXPECT_EQ(count, 0u);

    std::vector<uint8_t> none = {0, 0, 0};
    v.pBits = none.data();
    sector = 0;
    FastFatNextFreeRun(v, sector, count);
    EXPECT_EQ(sector, 10u);
    EXPECT_EQ(count, 20u);
}
