#include "engine/CFileRecoveryFactory.h"
#include "engine/FileNode.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

TEST(FileNode, FilesBeforeFoldersThenNamesIgnoringCase) {
    std::vector<_FILE_NODE_> v(3);
    for (auto [i, name] : {std::pair{0, "b.txt"}, {1, "A.txt"}, {2, "a.doc"}}) std::strcpy(v[i].szFileName, name);
    v[0].bIsDir = true;
    std::sort(v.begin(), v.end(), VectorCmp);
    EXPECT_EQ((std::vector<std::string>{"a.doc", "A.txt", "b.txt"}),
              (std::vector<std::string>{v[0].szFileName, v[1].szFileName, v[2].szFileName}));
}

TEST(Factory, ChoosesNtfsBeforeFat) {
    std::vector<uint8_t> area(16384, 0);
    EXPECT_EQ(ENGINE_KIND_NONE, CFileRecoveryFactory::ChooseEngineKind(area.data()));
    // A boot sector that passes both the NTFS and the FAT16 test.
    std::memcpy(&area[3], "NTFS    ", 8);
    area[11] = 0, area[12] = 2, area[13] = 8, area[40] = 0x00, area[41] = 0x10, area[510] = 0x55, area[511] = 0xAA;
    EXPECT_EQ(ENGINE_KIND_NTFS, CFileRecoveryFactory::ChooseEngineKind(area.data()));
}

TEST(Factory, QuickModeOnImages) {
    ORVALE_REQUIRE_TOOL("mkfs.ext4");
    TempDir dir;
    ScopedEnv env("ORVALE_DISK_DIR", dir.path());
    ASSERT_EQ(0, RunCommand("truncate -s 16M " + dir.file("disk0") + " && mkfs.ext4 -q -F " + dir.file("disk0")));
    WriteFileBytes(dir.file("disk1"), std::vector<uint8_t>(1 << 20, 0));
    WriteFileBytes(dir.file("disk2"), std::vector<uint8_t>(16383, 0));
    CFileRecoveryFactory* f = CFileRecoveryFactory::GetInstance();
    std::unique_ptr<IFileRecoveryParse> ext(f->CreateFileRecoveryInstance(0, 0, 32768, L'C', RECOVERY_TYPE_FAST));
    ASSERT_NE(nullptr, ext) << "ext in quick mode gives the placeholder";
    EXPECT_EQ(0, ext->ScanDevice(nullptr));
    std::vector<_FILE_NODE_> children;
    EXPECT_EQ(0, ext->GetChildrenFileNode(nullptr, 0, children));
    EXPECT_TRUE(children.empty());
    EXPECT_EQ(0, ext->GetLostFileCount());
    EXPECT_EQ(nullptr, f->CreateFileRecoveryInstance(1, 0, 2048, L'C', RECOVERY_TYPE_FAST)) << "unrecognised area";
    EXPECT_EQ(nullptr, f->CreateFileRecoveryInstance(2, 0, 31, L'C', RECOVERY_TYPE_FAST)) << "shorter than 16 KiB";
    EXPECT_EQ(nullptr, f->CreateFileRecoveryInstance(9, 0, 31, L'C', RECOVERY_TYPE_FAST)) << "missing disk";
    const std::string shortName = dir.file("disk2");
    std::wstring shortPath(shortName.begin(), shortName.end());
    EXPECT_EQ(nullptr, f->CreateFileRecoveryInstance(shortPath.data(), L'C', RECOVERY_TYPE_FAST));
}
