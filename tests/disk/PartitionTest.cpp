#include "disk/CPartitionManager.h"

#include "fixtures/E2eDiskImage.h"
#include "fixtures/Le.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
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
