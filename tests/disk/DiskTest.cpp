// Partition tables, the names their rows are given, and the boot-sector and superblock recognizers.
#include "disk/CPartitionManager.h"
#include "disk/VolumeRecognizers.h"

#include "fixtures/E2eDiskImage.h"
#include "fixtures/Le.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {
// Each row as "start-end label" (the label's ASCII text).
std::vector<std::string> Rows(const std::vector<_PARTITION_ITEM_>& items) {
    std::vector<std::string> rows;
    for (const _PARTITION_ITEM_& item : items) {
        std::string s = std::to_string(uint64_t(item.u64StartSector)) + "-" + std::to_string(uint64_t(item.u64EndSector)) + " ";
        for (size_t i = 0; i + 1 < sizeof item.szPartitionName && (item.szPartitionName[i] || item.szPartitionName[i + 1]); i += 2)
            s += item.szPartitionName[i + 1] ? '?' : char(item.szPartitionName[i]);
        rows.push_back(s);
    }
    return rows;
}
using Rows_ = std::vector<std::string>;

std::string GptScript(int entries) {
    std::string s = "label: gpt\n";
    for (int i = 1; i <= entries; ++i)
        s += "start=" + std::to_string(2048 + i * 16) + ", size=8, name=p" + std::to_string(i) + "\n";
    return s;
}

// One MBR partition table entry at index i of the boot record at sector base.
void PutEntry(std::vector<uint8_t>& img, uint64_t base, int i, uint8_t type, uint32_t rel, uint32_t count) {
    size_t e = base * 512 + 446 + 16 * i;
    img[e + 4] = type;
    PutLe32(img, e + 8, rel);
    PutLe32(img, e + 12, count);
    PutLe16(img, base * 512 + 510, 0xAA55);
}
} // namespace

TEST(PartitionList, GptMbrAndApmDisksOfOneFolder) {
    ORVALE_REQUIRE_TOOL("sfdisk");
    TempDir dir("orvale-part");
    ScopedEnv disks("ORVALE_DISK_DIR", dir.path());
    ASSERT_TRUE(MakeSfdiskImage(dir.file("disk0"), 2 << 20, GptScript(30)));
    ASSERT_TRUE(MakeSfdiskImage(dir.file("disk1"), 12 << 20,
                                "label: dos\nstart=2048, size=4096, type=83\nstart=8192, size=16384, type=5\n"
                                "start=10240, size=2048, type=83\nstart=14336, size=2048, type=83\n"));
    ASSERT_TRUE(MakeSfdiskImage(dir.file("disk2"), 16 << 20,
                                "label: dos\nstart=4096, size=2048, type=7\nstart=20480, size=8192, type=f\n"
                                "start=22528, size=1024, type=83\nstart=26624, size=1024, type=83\n"));
    WriteFileBytes(dir.file("disk3"), std::vector<uint8_t>(1 << 20, 0)); // no table
    ASSERT_TRUE(MakeSfdiskImage(dir.file("disk4"), 2 << 20, GptScript(5)));
    PatchFile(dir.file("disk4"), 1024 + 2 * 128 + 32, std::vector<uint8_t>(8, 0)); // entry 3: first LBA 0
    WriteFileBytes(dir.file("disk5"), MakeApmImage({{1, 63, 0, 63, "Apple", "Apple_partition_map"},
                                                    {64, 1000, 0, 1000, "disk image", "Apple_HFS"},
                                                    {1064, 200, 8, 100, "Extra", "Apple_UFS"},
                                                    {1264, 10, 0, 0, "", "Apple_Free"}},
                                                   4, 4096));
    WriteFileBytes(dir.file("disk6"), std::vector<uint8_t>(100, 0x55)); // shorter than one sector
    ASSERT_EQ(0, ::mkdir(dir.file("disk7").c_str(), 0755));
    WriteFileBytes(dir.file("disk9"), MakeApmImage({{1, 1, 0, 1, "x", "y"}}, 129, 4096)); // map too long

    CPartitionManager manager;
    std::map<int, std::vector<_PARTITION_ITEM_>> all;
    EXPECT_EQ(1, manager.GetPartitionItems(all));
    std::string keys;
    for (const auto& kv : all) keys += std::to_string(kv.first);
    EXPECT_EQ("01245", keys) << "disks without a recognised table are absent";

    // GPT (its protective MBR notwithstanding): only the 24 entries inside the first 4096 bytes.
    const Rows_ gpt = Rows(all[0]);
    ASSERT_EQ(24u, gpt.size());
    EXPECT_EQ("2064-2071 p1", gpt[0]);
    EXPECT_EQ("2432-2439 p24", gpt[23]);
    EXPECT_EQ(0, all[0][5].nDiskNo);
    EXPECT_STREQ("/dev/disk0", all[0][5].szDiskName);
    EXPECT_EQ((Rows_{"2048-6143 Partition 1", "10240-12287 Partition 2", "14336-16383 Partition 3"}), Rows(all[1]));
    EXPECT_STREQ("/dev/disk1", all[1][2].szDiskName);
    // The second disk's logical partitions follow its own extended partition, and the numbering runs on across disks.
    EXPECT_EQ((Rows_{"4096-6143 Partition 4", "22528-23551 Partition 5", "26624-27647 Partition 6"}), Rows(all[2]));
    EXPECT_EQ((Rows_{"2064-2071 p1", "2080-2087 p2"}), Rows(all[4])) << "a GPT ends at its first unused entry";
    EXPECT_EQ((Rows_{"1-63 Apple", "64-1063 disk image", "1072-1171 Extra"}), Rows(all[5]));

    // A new enumeration numbers from 1 again.
    std::vector<_PARTITION_ITEM_> one;
    EXPECT_EQ(3, manager.GetDiskPartitionItems(2, one));
    EXPECT_EQ("4096-6143 Partition 1", Rows(one)[0]);

    std::map<int, uint64_t> sizes;
    EXPECT_EQ(7, CPartitionManager::GetDiskList(sizes));
    EXPECT_EQ(4096u, sizes[0]);
    EXPECT_EQ(2048u, sizes[3]) << "a disk without a table still has a whole-disk row";
    EXPECT_EQ(0u, sizes.count(6)) << "less than one sector";
    EXPECT_EQ(0u, sizes.count(7)) << "a folder is no disk";
}

TEST(PartitionList, DamagedLoopingAndRunawayExtendedChainsEnd) {
    TempDir dir("orvale-part");
    ScopedEnv disks("ORVALE_DISK_DIR", dir.path());
    // A primary and an extended partition at 4096, whose first boot record links to
    // 5096, which links back to 4096.
    std::vector<uint8_t> loop(3 << 20, 0);
    PutEntry(loop, 0, 0, 0x83, 2048, 100);
    PutEntry(loop, 0, 1, 0x05, 4096, 4096);
    PutEntry(loop, 4096, 0, 0x83, 64, 100);
    PutEntry(loop, 4096, 1, 0x05, 1000, 500);
    PutEntry(loop, 5096, 0, 0x83, 64, 50);
    PutEntry(loop, 5096, 1, 0x05, 0, 500);
    WriteFileBytes(dir.file("disk0"), loop);
    // A boot record that links to itself, and an extended partition pointing into empty space.
    std::vector<uint8_t> self(3 << 20, 0);
    PutEntry(self, 0, 0, 0x0F, 100, 1000);
    PutEntry(self, 0, 1, 0x05, 3000, 1000);
    PutEntry(self, 100, 0, 0x83, 10, 20);
    PutEntry(self, 100, 1, 0x05, 0, 1000);
    WriteFileBytes(dir.file("disk1"), self);
    // An extended partition over random bytes without a boot signature.
    std::vector<uint8_t> garbage = RandomBytes(1 << 20, 7);
    std::fill(garbage.begin(), garbage.begin() + 512, 0);
    PutEntry(garbage, 0, 0, 0x83, 2048, 10);
    PutEntry(garbage, 0, 1, 0x05, 100, 500);
    garbage[100 * 512 + 510] = 0;
    WriteFileBytes(dir.file("disk2"), garbage);
    // 3000 valid boot records, each linking to the next: far more than any disk has.
    std::vector<uint8_t> chain((3000 * 2 + 16) * 512, 0);
    PutEntry(chain, 0, 0, 0x05, 8, 6000);
    for (uint32_t k = 0; k < 3000; ++k) {
        PutEntry(chain, 8 + 2 * k, 0, 0x83, 1, 1);
        PutEntry(chain, 8 + 2 * k, 1, 0x05, 2 * (k + 1), 2);
    }
    WriteFileBytes(dir.file("disk3"), chain);

    CPartitionManager manager;
    std::map<int, std::vector<_PARTITION_ITEM_>> all;
    manager.GetPartitionItems(all);
    EXPECT_EQ((Rows_{"2048-2147 Partition 1", "4160-4259 Partition 2", "5160-5209 Partition 3"}), Rows(all[0]));
    EXPECT_EQ((Rows_{"110-129 Partition 4"}), Rows(all[1]));
    EXPECT_EQ((Rows_{"2048-2057 Partition 5"}), Rows(all[2])) << "only the primary partition";
    const Rows_ runaway = Rows(all[3]);
    ASSERT_GE(runaway.size(), 1000u);
    EXPECT_LE(runaway.size(), 1024u);
    EXPECT_EQ("9-9 Partition 6", runaway[0]);
    EXPECT_EQ("11-11 Partition 7", runaway[1]);
}

// The signature tests take a length and never look past it (the fuzz target
// found a one-byte buffer read at offset 510).
TEST(PartitionList, SignatureTestsStayInsideTheirLength) {
    std::unique_ptr<char[]> one(new char[1]{'E'});
    for (size_t n : {0, 1})
        EXPECT_FALSE(CPartitionManager::IsMBR(one.get(), n) || CPartitionManager::IsAPM(one.get(), n) || CPartitionManager::IsEFI(one.get(), n));
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

// Each partition of a disk made with sfdisk holds a volume made by its own
// mkfs; the list names the kind and, when there is one, the label.
TEST(LinuxVolumeName, PartitionRowsNameExtAndBtrfsVolumesWithTheirLabels) {
    ORVALE_REQUIRE_TOOL("sfdisk");
    ORVALE_REQUIRE_TOOL("mkfs.ext4");
    ORVALE_REQUIRE_TOOL("mkfs.btrfs");
    ORVALE_REQUIRE_TOOL("mkfs.exfat");
    TempDir dir("linux-names");
    struct Part { const char* mkfs; const char* size; uint64_t start; const char* expect; };
    const Part parts[] = {
        {"mkfs.ext2 -q -F", "8M", 2048, "Partition 1 (ext2)"},
        {"mkfs.ext3 -q -F -L photos", "8M", 20480, "photos (ext3)"},
        {"mkfs.ext4 -q -F -L home", "8M", 38912, "home (ext4)"},
        {"mkfs.btrfs -q -f -L data", "128M", 57344, "data (btrfs)"},
        {"mkfs.exfat -L CARD", "8M", 321536, "CARD (exFAT)"},
    };
    const std::string disk = dir.file("disk0");
    ASSERT_EQ(0, RunCommand("truncate -s 180M '" + disk + "'"));
    for (const Part& p : parts) {
        const std::string vol = dir.file("vol.img");
        ASSERT_EQ(0, RunCommand("rm -f '" + vol + "' && truncate -s " + p.size + " '" + vol + "' && " + p.mkfs + " '" + vol +
                                "' && dd if='" + vol + "' of='" + disk + "' bs=512 seek=" + std::to_string(p.start) +
                                " conv=notrunc status=none"));
    }
    // Four primary rows at most: the btrfs and the last one go in the extended partition.
    std::string table = "label: dos\n";
    for (int i = 0; i < 3; ++i)
        table += "start=" + std::to_string(parts[i].start) + ", size=16384, type=83\n";
    table += "start=57000, size=290000, type=5\n";
    table += "start=57344, size=262144, type=83\nstart=321536, size=16384, type=83\n";
    ASSERT_EQ(0, RunCommand("printf '" + table + "' | sfdisk -q '" + disk + "'"));
    ScopedEnv env("ORVALE_DISK_DIR", dir.path());
    CPartitionManager manager;
    std::vector<_PARTITION_ITEM_> items;
    manager.GetDiskPartitionItems(0, items);
    const Rows_ rows = Rows(items);
    ASSERT_EQ(5u, rows.size());
    for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(parts[i].expect, rows[i].substr(rows[i].find(' ') + 1));
}

TEST(LinuxVolumeName, ShortOrForeignBuffersNameNothing) {
    std::vector<unsigned char> buf(0x11000, 0);
    std::string label = "stale";
    EXPECT_EQ("", DescribeLinuxVolume(buf.data(), buf.size(), label));
    EXPECT_EQ("", label);
    std::memcpy(buf.data() + 0x10040, "_BHRfS_M", 8);
    EXPECT_EQ("btrfs", DescribeLinuxVolume(buf.data(), buf.size(), label));
    EXPECT_EQ("", DescribeLinuxVolume(buf.data(), 0x10100, label)) << "the superblock is cut off";
}

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
    using Patch = std::vector<std::pair<size_t, std::vector<uint8_t>>>; // {offset, bytes}
    const std::vector<uint8_t> fve = {'-', 'F', 'V', 'E', '-', 'F', 'S', '-'}, lockerTail(19, 0xFF);
    const Patch wideFat32 = {{32, {0xF0, 0xFF, 0xFF, 0xFF}}, {14, {0, 0}}, {36, {1, 0, 0, 0}}},
                tail = {{480, std::vector<uint8_t>(8, 'x')}, {488, lockerTail}, {507, {0x00, 0x1F, 0x2C}}};
    const struct {
        const char* image;
        Patch patch; // none: the real one
        Check check;
        bool expected;
        const char* what;
    } cases[] = {
        {"fat12", {}, fat, true, "FAT12"},          {"fat16", {}, fat, true, "FAT16"},
        {"fat32", {}, fat, true, "FAT32"},          {"fat32", {}, fat32, true, "a full FAT32 boot sector"},
        {"fat16", {}, fat32, false, "FAT16 is no FAT32"}, {"fat16", {}, ntfs, false, "FAT is no NTFS"},
        {"fat16", {{3, fve}}, fat, false, "BitLocker is never FAT"},
        {"fat16", {{3, fve}}, locker, true, "BitLocker"},
        {"fat32", tail, locker, true, "the BitLocker tail at 480"},
        {"fat32", tail, fat, false, "the BitLocker tail wins over FAT"},
        {"fat16", {{511, {0}}}, fat, false, "no signature"},
        {"fat16", {{11, {0xF4, 0x01}}}, fat, false, "500 bytes per sector"},
        {"fat16", {{13, {0}}}, fat, false, "no sectors per cluster"},
        {"fat32", {{13, {3}}}, fat, false, "3 sectors per cluster"},
        {"fat12", {{16, {0}}}, fat, false, "no FATs"},
        {"fat32", {{82, {'N', 'O', 'T', 'F', 'A', 'T', ' ', ' '}}}, fat32, false, "FAT32 relabelled"},
        {"fat32", {{82, {'N', 'O', 'T', 'F', 'A', 'T', ' ', ' '}}, {22, {44, 1}}}, fat, true, "a 16-bit FAT size: FAT16 form"},
        {"fat32", wideFat32, fat, false, "more clusters than 0x0FFFFFEF"},
        {"ntfs", {}, ntfs, true, "NTFS"},           {"ntfs", {}, fat, false, "NTFS is no FAT"},
        {"ntfs", {{13, {128}}}, ntfs, false, "128 sectors per cluster"},
        {"ntfs", {{16, {1}}}, ntfs, false, "FATs on NTFS"},
        {"ntfs", {{14, {1, 0}}}, ntfs, false, "reserved sectors on NTFS"},
        {"ntfs", {{40, std::vector<uint8_t>(8, 0)}}, ntfs, false, "no sectors"},
        {"ntfs", {{10, {'X'}}}, ntfs, false, "OEM name"},
        {"ext4k", {}, ext, true, "ext4 of 4 KiB blocks"}, {"ext1k", {}, ext, true, "ext4 of 1 KiB blocks"},
        {"ext4k", {}, ntfs, false, "ext is no NTFS"},
        {"ext4k", {{1024 + 20, {1}}}, ext, false, "4 KiB blocks with first data block 1"},
        {"ext1k", {{1024 + 20, {0}}}, ext, false, "1 KiB blocks need first data block 1"},
        {"ext4k", {{1024 + 56, {0}}}, ext, false, "magic"},
        {"ext4k", {{1024 + 84, {2}}}, ext, false, "first inode 2"},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> b(real.at(c.image).begin(), real.at(c.image).begin() + 16384);
        for (const auto& [at, bytes] : c.patch) std::copy(bytes.begin(), bytes.end(), b.begin() + long(at));
        EXPECT_EQ(c.expected, c.check(b.data())) << c.image << ": " << c.what;
    }

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
