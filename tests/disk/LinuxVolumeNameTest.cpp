#include "disk/CPartitionManager.h"
#include "disk/VolumeRecognizers.h"
#include "platform/TextCodec.h"

#include "fixtures/ScopedEnv.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>

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
    ASSERT_EQ(5u, items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        size_t units = 0;
        while (items[i].szPartitionName[2 * units] || items[i].szPartitionName[2 * units + 1]) ++units;
        EXPECT_EQ(parts[i].expect, WideToUtf8(Utf16leToWide(items[i].szPartitionName, units).c_str()));
    }
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
