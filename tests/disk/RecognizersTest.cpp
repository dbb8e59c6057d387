#include "disk/VolumeRecognizers.h"

#include "fixtures/Le.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {
std::vector<uint8_t> FirstBytes(const std::string& path, size_t n) {
    std::vector<uint8_t> data = ReadFileBytes(path);
    data.resize(n);
    return data;
}

std::vector<uint8_t> MakeFat(const TempDir& dir, int bits, int kib) {
    std::string img = dir.file("fat" + std::to_string(bits) + ".img");
    EXPECT_EQ(0, RunCommand("mkfs.vfat -C -F " + std::to_string(bits) + " -s 1 " + img + " " + std::to_string(kib)));
    return FirstBytes(img, 16384);
}

} // namespace

TEST(Recognizers, RealFatBootSectorsAndTheirRefusals) {
    ORVALE_REQUIRE_TOOL("mkfs.vfat");
    TempDir dir;
    for (int bits : {12, 16, 32}) {
        std::vector<uint8_t> boot = MakeFat(dir, bits, bits == 32 ? 40000 : bits == 16 ? 8000 : 1440);
        EXPECT_TRUE(IsFat(boot.data())) << "FAT" << bits;
        EXPECT_FALSE(IsNtfs(boot.data())) << "FAT" << bits;
        EXPECT_EQ(bits == 32, IsFullValidFAT32DBR(boot.data())) << "FAT" << bits;

        auto bitlocker = boot;
        std::memcpy(&bitlocker[3], "-FVE-FS-", 8);
        EXPECT_FALSE(IsFat(bitlocker.data())) << "BitLocker is never FAT";
        EXPECT_TRUE(IsBitlockerDBR(bitlocker.data()));

        auto noSignature = boot;
        noSignature[511] = 0;
        EXPECT_FALSE(IsFat(noSignature.data()));
        auto badBps = boot;
        PutLe16(badBps, 11, 500);
        EXPECT_FALSE(IsFat(badBps.data()));
        auto noCluster = boot;
        noCluster[13] = 0;
        EXPECT_FALSE(IsFat(noCluster.data()));
        auto oddCluster = boot;
        oddCluster[13] = 3;
        EXPECT_FALSE(IsFat(oddCluster.data()));
        auto noFats = boot;
        noFats[16] = 0;
        EXPECT_FALSE(IsFat(noFats.data()));
    }
}

TEST(Recognizers, FatFormsAndBitlockerTail) {
    ORVALE_REQUIRE_TOOL("mkfs.vfat");
    TempDir dir;
    std::vector<uint8_t> fat32 = MakeFat(dir, 32, 40000);
    // A FAT32 sector whose 16-bit FAT size is set but whose label is not FAT32 is still FAT (FAT16 form).
    auto relabelled = fat32;
    std::memcpy(&relabelled[82], "NOTFAT  ", 8);
    PutLe16(relabelled, 22, 300);
    EXPECT_TRUE(IsFat(relabelled.data()));
    EXPECT_FALSE(IsFullValidFAT32DBR(relabelled.data()));
    // A cluster count above 0x0FFFFFEF is refused.
    auto huge = fat32;
    PutLe32(huge, 32, 0xFFFFFFF0u);
    PutLe16(huge, 14, 0);
    PutLe32(huge, 36, 1);
    EXPECT_FALSE(IsFat(huge.data()));
    // The BitLocker tail at 480.
    auto tail = fat32;
    std::memset(&tail[480], 'x', 8);
    std::memset(&tail[488], 0xFF, 19);
    tail[507] = 0x00; tail[508] = 0x1F; tail[509] = 0x2C;
    EXPECT_TRUE(IsBitlockerDBR(tail.data()));
    EXPECT_FALSE(IsFat(tail.data()));
}

TEST(Recognizers, FloppyImageIsFat) {
    std::vector<uint8_t> b(512, 0);
    PutLe16(b, 11, 512); b[13] = 1; PutLe16(b, 14, 1); b[16] = 2; PutLe16(b, 17, 224); PutLe16(b, 19, 2880);
    b[21] = 0xF0; PutLe16(b, 22, 9); b[510] = 0x55; b[511] = 0xAA;
    EXPECT_TRUE(IsFat(b.data()));
}

TEST(Recognizers, RealNtfsBootSectorAndItsRefusals) {
    ORVALE_REQUIRE_TOOL("mkntfs");
    TempDir dir;
    std::string img = dir.file("ntfs.img");
    ASSERT_EQ(0, RunCommand("truncate -s 64M " + img + " && mkntfs -F -f -q " + img));
    std::vector<uint8_t> boot = FirstBytes(img, 16384);
    EXPECT_TRUE(IsNtfs(boot.data()));
    EXPECT_FALSE(IsFat(boot.data()));

    auto big = boot;
    big[13] = 128;
    EXPECT_FALSE(IsNtfs(big.data())) << "128 sectors per cluster is refused";
    auto fats = boot;
    fats[16] = 1;
    EXPECT_FALSE(IsNtfs(fats.data()));
    auto reserved = boot;
    PutLe16(reserved, 14, 1);
    EXPECT_FALSE(IsNtfs(reserved.data()));
    auto total = boot;
    std::memset(&total[40], 0, 8);
    EXPECT_FALSE(IsNtfs(total.data()));
    auto bps = boot;
    PutLe16(bps, 11, 0);
    EXPECT_TRUE(IsNtfs(bps.data())) << "0 bytes per sector passes the multiple-of-512 test";
    auto oem = boot;
    oem[10] = 'X';
    EXPECT_FALSE(IsNtfs(oem.data()));

    // The $MFT record sits at the cluster named by the boot sector.
    std::vector<uint8_t> all = ReadFileBytes(img);
    uint64_t mftCluster = 0;
    for (int i = 0; i < 8; ++i) mftCluster |= uint64_t(all[48 + i]) << (8 * i);
    size_t mftOffset = mftCluster * all[13] * 512;
    ASSERT_LT(mftOffset + 1024, all.size());
    EXPECT_TRUE(IsNtfsFileRecord(&all[mftOffset], 1024));
    EXPECT_FALSE(IsNtfsFileRecord(&all[mftOffset], 4096)) << "allocated size must equal the record size";
    auto record = std::vector<uint8_t>(all.begin() + mftOffset, all.begin() + mftOffset + 1024);
    record[510] ^= 0xFF;
    EXPECT_FALSE(IsNtfsFileRecord(record.data(), 1024)) << "update sequence mismatch";
}

TEST(Recognizers, RealExtSuperblockAndFirstDataBlockRule) {
    ORVALE_REQUIRE_TOOL("mkfs.ext4");
    TempDir dir;
    std::string img = dir.file("ext.img");
    ASSERT_EQ(0, RunCommand("truncate -s 32M " + img + " && mkfs.ext4 -q -F -b 4096 " + img));
    std::vector<uint8_t> sb = FirstBytes(img, 16384);
    EXPECT_TRUE(IsExt(sb.data()));
    EXPECT_FALSE(IsNtfs(sb.data()));
    auto firstData = sb;
    PutLe32(firstData, 1024 + 20, 1);
    EXPECT_FALSE(IsExt(firstData.data())) << "4 KiB blocks with first data block 1";
    auto magic = sb;
    magic[1024 + 56] = 0;
    EXPECT_FALSE(IsExt(magic.data()));
    auto firstInode = sb;
    PutLe32(firstInode, 1024 + 84, 2);
    EXPECT_FALSE(IsExt(firstInode.data()));

    std::string small = dir.file("ext1k.img");
    ASSERT_EQ(0, RunCommand("truncate -s 8M " + small + " && mkfs.ext4 -q -F -b 1024 " + small));
    std::vector<uint8_t> sb1 = FirstBytes(small, 16384);
    EXPECT_TRUE(IsExt(sb1.data()));
    PutLe32(sb1, 1024 + 20, 0);
    EXPECT_FALSE(IsExt(sb1.data())) << "1 KiB blocks need first data block 1";
}

TEST(Recognizers, DefaultNtfsClusterSize) {
    EXPECT_EQ(4u, GetDefaultNtfsSectorPerCluster(4194304, 512));       // 2 GiB
    EXPECT_EQ(8u, GetDefaultNtfsSectorPerCluster(2049ull * 2048, 512)); // 2049 MiB
    EXPECT_EQ(8u, GetDefaultNtfsSectorPerCluster(5 * 2048, 512));       // 5 MiB
    EXPECT_EQ(1u, GetDefaultNtfsSectorPerCluster(100 * 2048, 512));
    EXPECT_EQ(2u, GetDefaultNtfsSectorPerCluster(1024 * 2048, 512));
    EXPECT_EQ(1u, GetDefaultNtfsSectorPerCluster(100 * 256, 4096)) << "thresholds scale with the sector size";
}
