// Geometry arithmetic of reconstructed FAT volumes and the look-ups over them.
#include "fat/VirtualDbr.h"

#include <gtest/gtest.h>

TEST(ProfessionalFatGeometry, TwoAnchorsGiveClusterSizeAndDataStart) {
    __VIRTUAL_DBR_INFO__ d{};
    ASSERT_TRUE(CalcVirtualDbrFromAnchors(10, 1000, 20, 1080, 0, &d));
    EXPECT_EQ(8u, d.nSectorsPerCluster);
    EXPECT_EQ(936u, d.nDataStartSector);
    EXPECT_EQ(0u, d.u64VolumeStartSector);
    // The order of the anchors does not matter; the data start is kept relative to the area.
    ASSERT_TRUE(CalcVirtualDbrFromAnchors(20, 1080, 10, 1000, 500, &d));
    EXPECT_EQ(436u, d.nDataStartSector);
    EXPECT_EQ(500u, d.u64VolumeStartSector);
    EXPECT_EQ(1000u, VirtualDbrClusterSector(d, 10));
    EXPECT_EQ(1080u, VirtualDbrClusterSector(d, 20));
}

TEST(ProfessionalFatGeometry, ImpossiblePairingsAreRejected) {
    __VIRTUAL_DBR_INFO__ d{};
    EXPECT_FALSE(CalcVirtualDbrFromAnchors(10, 1000, 20, 1075, 0, &d)); // 7.5 sectors per cluster
    EXPECT_FALSE(CalcVirtualDbrFromAnchors(10, 1000, 11, 1256, 0, &d)); // 256
    EXPECT_FALSE(CalcVirtualDbrFromAnchors(10, 1000, 13, 1018, 0, &d)); // 6: not a power of two
    EXPECT_FALSE(CalcVirtualDbrFromAnchors(200, 100, 201, 108, 0, &d)); // data area before sector 0
    EXPECT_FALSE(CalcVirtualDbrFromAnchors(10, 1000, 20, 1080, 960, &d)); // before the scanned area
    EXPECT_FALSE(CalcVirtualDbrFromAnchors(10, 1000, 10, 1080, 0, &d));  // same cluster twice
    EXPECT_FALSE(CalcVirtualDbrFromAnchors(1, 1000, 11, 1080, 0, &d));   // no directory lives in cluster 1
    // The higher cluster found at the lower sector explains no volume.
    EXPECT_FALSE(CalcVirtualDbrFromAnchors(10, 1080, 20, 1000, 0, &d));
}

TEST(ProfessionalFatGeometry, ClusterOfASector) {
    __VIRTUAL_DBR_INFO__ d{4, 100, 1000}; // data area at 1100
    uint32_t c = 99;
    EXPECT_TRUE(VirtualDbrClusterAt(d, 1100, &c));
    EXPECT_EQ(2u, c);
    EXPECT_TRUE(VirtualDbrClusterAt(d, 1108, &c));
    EXPECT_EQ(4u, c);
    EXPECT_FALSE(VirtualDbrClusterAt(d, 1109, &c));
    EXPECT_TRUE(VirtualDbrClusterAt(d, 1068, &c)); // first sector of the FAT16 root area
    EXPECT_EQ(0u, c);
    EXPECT_FALSE(VirtualDbrClusterAt(d, 1070, &c));
    EXPECT_FALSE(VirtualDbrClusterAt(d, 10, &c));

    EXPECT_TRUE(VirtualDbrClusterContaining(d, 1111, &c));
    EXPECT_EQ(4u, c);
    EXPECT_TRUE(VirtualDbrClusterContaining(d, 1099, &c));
    EXPECT_EQ(0u, c);
    EXPECT_FALSE(VirtualDbrClusterContaining(d, 1067, &c));
    __VIRTUAL_DBR_INFO__ none{};
    EXPECT_FALSE(VirtualDbrClusterContaining(none, 1111, &c));
}

TEST(ProfessionalFatGeometry, ExactInsideAndBestLookups) {
    std::vector<__VIRTUAL_DBR_INFO__> v = {{8, 936, 0}, {4, 5000, 0}, {1, 20000, 0}};
    EXPECT_EQ(0, FindExactVirtualDbr(v, 1000, 10));
    EXPECT_EQ(1, FindExactVirtualDbr(v, 5032, 10));
    EXPECT_EQ(-1, FindExactVirtualDbr(v, 1001, 10));
    EXPECT_EQ(0, FindNearestVirtualDbr(v, 1007, 10));
    EXPECT_EQ(-1, FindNearestVirtualDbr(v, 1008 + 4000, 10));
    EXPECT_EQ(1, FindNearestVirtualDbr(v, 5035, 10));

    EXPECT_EQ(-1, FindBestVirtualDbr({}, 10, false));
    EXPECT_EQ(0, FindBestVirtualDbr({v[2]}, 10, true)); // the only one, whatever it is
    EXPECT_EQ(1, FindBestVirtualDbr(v, 7000, false));   // nearest data start at or below
    EXPECT_EQ(2, FindBestVirtualDbr(v, 30000, false));
    EXPECT_EQ(0, FindBestVirtualDbr(v, 10, false));     // none below: the first
    // A real boot sector in front is skipped whenever others exist.
    std::vector<__VIRTUAL_DBR_INFO__> real = {{8, 5500, 0}, {4, 5000, 0}};
    EXPECT_EQ(1, FindBestVirtualDbr(real, 6000, true));
    EXPECT_EQ(0, FindBestVirtualDbr(real, 6000, false));
    // Ties go to the earlier entry.
    std::vector<__VIRTUAL_DBR_INFO__> tie = {{8, 936, 0}, {4, 936, 0}};
    EXPECT_EQ(0, FindBestVirtualDbr(tie, 2000, false));
}

TEST(FatClusterSector, OnePlacementForRecordsOfBothEngines) {
    // {data start, cluster, first sector}; cluster 0 is the FAT12/16 root folder, cluster 1 nothing.
    const uint64_t cases[][3] = {{1000, 2, 1000}, {1000, 5, 1024}, {1000, 0, 968}, {1000, 1, UINT64_MAX},
                                 {20, 0, UINT64_MAX}, {1000, 0xFFFFFFF, 1000 + uint64_t(0xFFFFFFF - 2) * 8}};
    for (const auto& c : cases) {
        _FILE_NODE_ node{};
        node.u64DataStartSector = c[0];
        node.nClusterNO = uint32_t(c[1]);
        node.nClusterBytes = 4096;
        EXPECT_EQ(c[2], FatClusterSector(c[0], uint32_t(c[1]), 8)) << c[0] << " " << c[1];
        EXPECT_EQ(c[2], FatNodeFirstSector(node)) << c[0] << " " << c[1];
    }
}
