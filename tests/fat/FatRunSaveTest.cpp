// Saves that follow a FAT chain in runs of neighbouring clusters: a chain that
// jumps, and runs longer than one read, come back byte for byte.
#include "fixtures/EngineTree.h"
#include "fixtures/FatImageBuilder.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TestFiles.h"
#include "platform/CDiskReader.h"

#include <gtest/gtest.h>

TEST(FatRunSave, JumpingChainAndLongRunsComeBackExact) {
    ORVALE_REQUIRE_TOOL("mkfs.vfat");
    StoreTestEnv env;
    TempDir dir{"fatruns"};
    FatImageBuilder img(dir.file("runs.img"), 32, 40000, 1);
    const std::vector<uint8_t> jumping = RandomBytes(300000, 1), longRun = RandomBytes(3 << 20, 2);
    ASSERT_TRUE(img.PutFile("/JUMP.BIN", jumping) && img.PutFile("/LONG.BIN", longRun));
    // The second half of JUMP moves past everything else, and garbage takes its place.
    const std::vector<uint32_t> fat = img.FatEntries();
    const uint32_t cb = img.ClusterBytes(), s = img.EntryCluster("JUMP    BIN"), n = (300000 + cb - 1) / cb, h = n / 2;
    uint32_t t = uint32_t(fat.size());
    while (t > 2 && fat[t - 1] == 0) --t;
    t += 10;
    for (uint32_t i = 0; h + i < n; ++i) {
        ASSERT_TRUE(img.Patch(img.ClusterSector(t + i) * 512, img.ReadBytes(img.ClusterSector(s + h + i) * 512, cb)));
        ASSERT_TRUE(img.Patch(img.ClusterSector(s + h + i) * 512, std::vector<uint8_t>(cb, 0xAA)));
        ASSERT_TRUE(img.SetFatEntry(s + h + i, 0) && img.SetFatEntry(t + i, h + i + 1 < n ? t + i + 1 : 0x0FFFFFFF));
    }
    ASSERT_TRUE(img.SetFatEntry(s + h - 1, t));
    // Both marked deleted, their chains kept.
    for (const char* name : {"JUMP    BIN", "LONG    BIN"}) {
        const uint64_t entry = img.FindShortEntry(name);
        ASSERT_TRUE(entry && img.Patch(entry, {0xE5})) << name;
    }
    int rc = -1;
    std::unique_ptr<CFastFatRecovery> engine = OpenFastFat(img.path(), &rc);
    ASSERT_EQ(0, rc);
    ASSERT_EQ(0, engine->ScanDevice(nullptr));
    int seen = 0;
    for (const auto& [path, node] : WalkEngineTree(*engine)) {
        for (const std::vector<uint8_t>* want : {&jumping, &longRun}) {
            if (node.bIsDir || node.u64FileSize != want->size()) continue;
            EXPECT_EQ(Sha256Hex(*want), RecoveredSha(*engine, &node, dir.file("out"))) << path;
            ++seen;
        }
    }
    EXPECT_EQ(2, seen);
}

TEST(FatRunSave, DeepSaveEndsAtAnUnreadableSectorInsteadOfShiftingTheRest) {
    ORVALE_REQUIRE_TOOL("mkfs.vfat");
    StoreTestEnv env;
    TempDir dir{"fatbad"};
    FatImageBuilder img(dir.file("disk.img"), 32, 40000, 1);
    const std::vector<uint8_t> data = RandomBytes(200000, 6);
    // Enough folders for the lost volume's layout to be told from them.
    for (const char* d : {"/D", "/D/E", "/F", "/F/G"}) ASSERT_TRUE(img.MakeDir(d) && img.PutFile(std::string(d) + "/K.TXT", {1, 2, 3}));
    ASSERT_TRUE(img.PutFile("/D/GONE.BIN", data));
    const uint64_t bad = 2055 + img.ClusterSector(img.EntryCluster("GONE    BIN")) + 3;
    // A lost volume: only the deep engine can give the deleted file back.
    ASSERT_TRUE(img.DeleteFile("/D/GONE.BIN") && img.DestroyMetadata());
    ASSERT_TRUE(WriteLostVolumesDisk(dir.file("lost.img"), {{2055, img.path()}}, 300, 7));
    DeepScan scan(dir.file("lost.img"));
    ASSERT_EQ(0, scan.result);
    const _FILE_NODE_* gone = nullptr;
    const EngineTree found = SearchEngine(scan.engine, FS_TYPE_PRO_FAT);
    for (const auto& [path, node] : found)
        if (node.u64FileSize == data.size()) gone = &node;
    ASSERT_TRUE(gone);
    EXPECT_EQ(Sha256Hex(data), RecoveredSha(scan.engine, gone, dir.file("whole")));
    CDiskReader::SetFailingSectorsForTesting({bad});
    EXPECT_NE(0, SaveNode(scan.engine, *gone, dir.file("holed")));
    CDiskReader::SetFailingSectorsForTesting({});
}
