// Faults the fuzz targets found in the partition-table code.
#include "disk/CPartitionManager.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

// The signature tests take a length and must not look past it: a one-byte
// buffer read at offset 510 was an out-of-bounds read.
TEST(PartitionFuzzRegression, SignatureTestsStayInsideShortBuffers) {
    std::unique_ptr<char[]> one(new char[1]{'E'});
    EXPECT_FALSE(CPartitionManager::IsMBR(one.get(), 1));
    EXPECT_FALSE(CPartitionManager::IsAPM(one.get(), 1));
    EXPECT_FALSE(CPartitionManager::IsEFI(one.get(), 1));
    EXPECT_FALSE(CPartitionManager::IsMBR(one.get(), 0));

    // Whole buffers are still judged by their bytes.
    std::unique_ptr<char[]> sector(new char[512]());
    sector[510] = 0x55;
    sector[511] = static_cast<char>(0xAA);
    EXPECT_TRUE(CPartitionManager::IsMBR(sector.get(), 512));
    EXPECT_FALSE(CPartitionManager::IsMBR(sector.get(), 511));
    std::memcpy(sector.get(), "EFI PART", 8);
    EXPECT_TRUE(CPartitionManager::IsEFI(sector.get(), 8));
    EXPECT_FALSE(CPartitionManager::IsEFI(sector.get(), 7));
    EXPECT_TRUE(CPartitionManager::IsAPM("ER", 2));
}
