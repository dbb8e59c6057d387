#include "disk/VolumeRecognizers.h"

#include "fixtures/Le.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>

// Boot sectors and superblocks made by the real tools, each damaged in one field:
// every recognizer says yes to the real one and no to what no volume can be.
TEST(Recognizers, RealVolumesAndOneFieldDamaged) {
    ORVALE_REQUIRE_TOOL("mkfs.vfat");
    ORVALE_REQUIRE_TOOL("mkntfs");
    ORVALE_REQUIRE_TOOL("mkfs.ext4");
    TempDir dir;
    const std::pair<const char*, std::string> tools[] = {
        {"fat12", "mkfs.vfat -C -F 12 -s 1 fat12 1440"}, {"fat16", "mkfs.vfat -C -F 16 -s 1 fat16 8000"},
        {"fat32", "mkfs.vfat -C -F 32 -s 1 fat32 40000"}, {"ntfs", "truncate -s 64M ntfs && mkntfs -F -f -q ntfs"},
        {"ext4k", "truncate -s 32M ext4k && mkfs.ext4 -q -F -b 4096 ext4k"},
        {"ext1k", "truncate -s 8M ext1k && mkfs.ext4 -q -F -b 1024 ext1k"}};
    std::map<std::string, std::vector<uint8_t>> real;
    for (const auto& [name, cmd] : tools) {
        ASSERT_EQ(0, RunCommand("cd " + ShellQuote(dir.path()) + " && " + cmd)) << name;
        real[name] = ReadFileBytes(dir.file(name));
    }
    using Check = std::function<bool(const uint8_t*)>;
    const Check fat = [](const uint8_t* b) { return IsFat(b) != 0; }, ntfs = [](const uint8_t* b) { return IsNtfs(b) != 0; },
                ext = [](const uint8_t* b) { return IsExt(b) != 0; }, fat32 = [](const uint8_t* b) { return IsFullValidFAT32DBR(b) != 0; },
                locker = [](const uint8_t* b) { return IsBitlockerDBR(b) != 0; };
    auto bytes = [](std::initializer_list<uint8_t> l) { return std::vector<uint8_t>(l); };
    const struct {
        const char* image;
        size_t at;
        std::vector<uint8_t> patch; // empty: the real one
        Check check;
        bool expected;
        const char* what;
    } cases[] = {
        {"fat12", 0, {}, fat, true, "FAT12"},          {"fat16", 0, {}, fat, true, "FAT16"},
        {"fat32", 0, {}, fat, true, "FAT32"},          {"fat32", 0, {}, fat32, true, "a full FAT32 boot sector"},
        {"fat16", 0, {}, fat32, false, "FAT16 is no FAT32"}, {"fat16", 0, {}, ntfs, false, "FAT is no NTFS"},
        {"fat16", 3, bytes({'-', 'F', 'V', 'E', '-', 'F', 'S', '-'}), fat, false, "BitLocker is never FAT"},
        {"fat16", 3, bytes({'-', 'F', 'V', 'E', '-', 'F', 'S', '-'}), locker, true, "BitLocker"},
        {"fat16", 511, bytes({0}), fat, false, "no signature"},
        {"fat16", 11, bytes({0xF4, 0x01}), fat, false, "500 bytes per sector"},
        {"fat16", 13, bytes({0}), fat, false, "no sectors per cluster"},
        {"fat32", 13, bytes({3}), fat, false, "3 sectors per cluster"},
        {"fat12", 16, bytes({0}), fat, false, "no FATs"},
        {"fat32", 82, bytes({'N', 'O', 'T', 'F', 'A', 'T', ' ', ' '}), fat32, false, "FAT32 relabelled"},
        {"ntfs", 0, {}, ntfs, true, "NTFS"},           {"ntfs", 0, {}, fat, false, "NTFS is no FAT"},
        {"ntfs", 13, bytes({128}), ntfs, false, "128 sectors per cluster"},
        {"ntfs", 16, bytes({1}), ntfs, false, "FATs on NTFS"},
        {"ntfs", 14, bytes({1, 0}), ntfs, false, "reserved sectors on NTFS"},
        {"ntfs", 40, bytes({0, 0, 0, 0, 0, 0, 0, 0}), ntfs, false, "no sectors"},
        {"ntfs", 10, bytes({'X'}), ntfs, false, "OEM name"},
        {"ext4k", 0, {}, ext, true, "ext4 of 4 KiB blocks"}, {"ext1k", 0, {}, ext, true, "ext4 of 1 KiB blocks"},
        {"ext4k", 0, {}, ntfs, false, "ext is no NTFS"},
        {"ext4k", 1024 + 20, bytes({1}), ext, false, "4 KiB blocks with first data block 1"},
        {"ext1k", 1024 + 20, bytes({0}), ext, false, "1 KiB blocks need first data block 1"},
        {"ext4k", 1024 + 56, bytes({0}), ext, false, "magic"},
        {"ext4k", 1024 + 84, bytes({2}), ext, false, "first inode 2"},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> b(real.at(c.image).begin(), real.at(c.image).begin() + 16384);
        std::copy(c.patch.begin(), c.patch.end(), b.begin() + long(c.at));
        EXPECT_EQ(c.expected, c.check(b.data())) << c.image << ": " << c.what;
    }
    // A FAT32 sector whose 16-bit FAT size is set but whose label is not FAT32 is still FAT (FAT16 form);
    // a cluster count above 0x0FFFFFEF is refused; the BitLocker tail at 480 wins over FAT.
    std::vector<uint8_t> b(real["fat32"].begin(), real["fat32"].begin() + 512);
    std::memcpy(&b[82], "NOTFAT  ", 8);
    PutLe16(b, 22, 300);
    EXPECT_TRUE(IsFat(b.data()));
    b.assign(real["fat32"].begin(), real["fat32"].begin() + 512);
    PutLe32(b, 32, 0xFFFFFFF0u);
    PutLe16(b, 14, 0);
    PutLe32(b, 36, 1);
    EXPECT_FALSE(IsFat(b.data()));
    b.assign(real["fat32"].begin(), real["fat32"].begin() + 512);
    std::memset(&b[480], 'x', 8);
    std::memset(&b[488], 0xFF, 19);
    b[507] = 0x00, b[508] = 0x1F, b[509] = 0x2C;
    EXPECT_TRUE(IsBitlockerDBR(b.data()));
    EXPECT_FALSE(IsFat(b.data()));

    // The $MFT record sits at the cluster the boot sector names.
    const std::vector<uint8_t>& all = real["ntfs"];
    const size_t mft = size_t(GetLe(all, 48, 8)) * all[13] * 512;
    ASSERT_LT(mft + 1024, all.size());
    EXPECT_TRUE(IsNtfsFileRecord(&all[mft], 1024));
    EXPECT_FALSE(IsNtfsFileRecord(&all[mft], 4096)) << "allocated size must equal the record size";
    std::vector<uint8_t> record(all.begin() + long(mft), all.begin() + long(mft) + 1024);
    record[510] ^= 0xFF;
    EXPECT_FALSE(IsNtfsFileRecord(record.data(), 1024)) << "update sequence mismatch";
}

TEST(Recognizers, FloppyImage) {
    std::vector<uint8_t> b(512, 0);
    PutLe16(b, 11, 512), b[13] = 1, PutLe16(b, 14, 1), b[16] = 2, PutLe16(b, 17, 224), PutLe16(b, 19, 2880);
    b[21] = 0xF0, PutLe16(b, 22, 9), b[510] = 0x55, b[511] = 0xAA;
    EXPECT_TRUE(IsFat(b.data()));
}
