// Lost FAT volumes rebuilt from their directories: real images made with
// mtools, boot sectors and FATs destroyed, placed at an offset inside filler.
// Every file must be listed under its folder and recovered byte for byte.
#include "engine/FileCategories.h"
#include "fat/CProfessionalFatRecovery.h"
#include "fixtures/DeepFatImage.h"
#include "fixtures/FatImageBuilder.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "platform/PathHelpers.h"
#include "platform/TextCodec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iostream>
#include <map>
#include <vector>

namespace {
struct Expected {
    std::string dirPath; // folder path as the store reports it, "A/B/"
    std::string name;
    std::vector<uint8_t> data;
};

// First cluster of the short entry named name11 in the directory sectors at byte offset off.
uint32_t FindEntryCluster(const FatImageBuilder& b, uint64_t off, size_t len, const char* name11) {
    std::vector<uint8_t> dir = b.ReadBytes(off, len);
    for (size_t i = 0; i + 32 <= dir.size(); i += 32)
        if (std::memcmp(&dir[i], name11, 11) == 0) return uint32_t(dir[i + 26] | dir[i + 27] << 8) | uint32_t(dir[i + 20] | dir[i + 21] << 8) << 16;
    return 0;
}

struct ScanOutcome {
    size_t listed = 0;     // found with the right name and folder path
    size_t identical = 0;  // recovered byte for byte
};

// Looks every expected file up among the engine's search hits, checks its
// folder path and recovers it into outDir.
ScanOutcome CheckFiles(CProfessionalFatRecovery& engine, const std::vector<Expected>& expected, const std::string& outDir) {
    ScanOutcome r;
    std::wstring key = BuildSearchKey(CATEGORY_ALL);
    std::vector<__SEARCH_FILE_INFO__> hits;
    EXPECT_EQ(0, engine.SearchFileNode(const_cast<wchar_t*>(key.c_str()), hits));
    int n = 0;
    for (const auto& e : expected) {
        SCOPED_TRACE(e.dirPath + e.name);
        const __SEARCH_FILE_INFO__* hit = nullptr;
        for (const auto& h : hits) {
            if (e.name != h.szFileName) continue;
            wchar_t path[1024] = {};
            _FILE_NODE_ node = h;
            engine.GetFileNodeParentDirPath(&node, path, 1024);
            if (Unicode2Ansi(path) == e.dirPath) hit = &h;
        }
        if (!hit) {
            ADD_FAILURE() << "not listed under its folder";
            continue;
        }
        ++r.listed;
        std::string target = outDir + "/f" + std::to_string(n++);
        std::wstring wtarget = Utf8ToWide(target.c_str());
        _FILE_NODE_ node = *hit;
        EXPECT_EQ(0, engine.SaveFileData(&node, const_cast<wchar_t*>(wtarget.c_str()), 0));
        if (Sha256File(target) == Sha256Hex(e.data)) ++r.identical;
        else ADD_FAILURE() << "recovered copy differs";
    }
    return r;
}
} // namespace

TEST(ProfessionalFatLostVolume, Fat32RebuiltFromDirectoriesAtAnOffset) {
    ORVALE_REQUIRE_TOOL("mkfs.vfat");
    ORVALE_REQUIRE_TOOL("mcopy");
    StoreTestEnv env;
    TempDir dir("deepfat32");
    FatImageBuilder vol(dir.file("vol.img"), 32, 40000, 1);
    ASSERT_TRUE(vol.ok());
    std::vector<uint8_t> beach = RandomBytes(9000, 1), root = RandomBytes(10 * 1024, 2), readme = RandomBytes(300, 3),
                         longdoc = RandomBytes(5000, 4), deep = RandomBytes(40 * 1024 + 17, 5),
                         note = RandomBytes(2100, 6), gone1 = RandomBytes(1500, 7), gone2 = RandomBytes(777, 8),
                         orphan = RandomBytes(3333, 9);
    ASSERT_TRUE(vol.MakeDir("/Photos"));
    ASSERT_TRUE(vol.MakeDir("/Photos/Holiday 2026"));
    ASSERT_TRUE(vol.PutFile("/Photos/Holiday 2026/beach sunset.bin", beach));
    ASSERT_TRUE(vol.PutFile("/rootfile.dat", root));
    ASSERT_TRUE(vol.MakeDir("/Docs"));
    ASSERT_TRUE(vol.PutFile("/Docs/README.TXT", readme));
    ASSERT_TRUE(vol.PutFile("/Docs/A Very Long Document Name For Testing.txt", longdoc));
    ASSERT_TRUE(vol.MakeDir("/Docs/Nested"));
    ASSERT_TRUE(vol.MakeDir("/Docs/Nested/Deeper"));
    ASSERT_TRUE(vol.PutFile("/Docs/Nested/Deeper/deep file.bin", deep));
    ASSERT_TRUE(vol.PutFile("/Docs/deleted note.txt", note));
    std::vector<uint8_t> report = RandomBytes(2600, 10);
    ASSERT_TRUE(vol.PutFile("/Docs/\xe6\x8a\xa5\xe5\x91\x8a final.txt", report)); // a CJK long name, in UTF-8
    ASSERT_TRUE(vol.MakeDir("/Old"));
    ASSERT_TRUE(vol.PutFile("/Old/gone1.txt", gone1));
    ASSERT_TRUE(vol.PutFile("/Old/Gone Two.bin", gone2));
    ASSERT_TRUE(vol.MakeDir("/Gone"));
    ASSERT_TRUE(vol.MakeDir("/Gone/Orphan"));
    ASSERT_TRUE(vol.PutFile("/Gone/Orphan/orphan data.bin", orphan));
    ASSERT_TRUE(vol.DeleteFile("/Docs/deleted note.txt"));
    ASSERT_TRUE(vol.DeleteTree("/Old"));

    // The folder "Gone" loses its own cluster: "Orphan" is then known only by number.
    const unsigned spc = vol.SectorsPerCluster();
    const uint64_t data = vol.DataStartSector();
    uint32_t gone = FindEntryCluster(vol, vol.ClusterSector(2) * 512, 512 * spc, "GONE       ");
    ASSERT_GE(gone, 3u);
    uint32_t orphanDir = FindEntryCluster(vol, vol.ClusterSector(gone) * 512, 512 * spc, "ORPHAN     ");
    ASSERT_GE(orphanDir, 3u);
    ASSERT_TRUE(vol.Patch(vol.ClusterSector(gone) * 512, std::vector<uint8_t>(512 * spc, 0)));
    ASSERT_TRUE(DeepFatImageDestroyMetadata(vol, 32));

    TempDir disks("deepfat32-disk");
    const uint64_t lead = 2055, tail = 300;
    ASSERT_TRUE(DeepFatImageEmbed(vol.path(), disks.file("disk0"), lead, tail, 77));
    const uint64_t total = ReadFileBytes(disks.file("disk0")).size() / 512;
    ScopedEnv diskDir("ORVALE_DISK_DIR", disks.path());

    CProfessionalFatRecovery engine;
    ASSERT_EQ(0, engine.Init(0, 0, static_cast<long long>(total), L'C'));
    DeepFatImageScanStats stats;
    ASSERT_EQ(0, DeepFatImageScan(engine, disks.file("disk0"), 0, total, &stats));
    EXPECT_GT(stats.u64DotSectors, 4u);
    EXPECT_FALSE(engine.HasRealDbr());

    // The geometry is rebuilt from the directories alone.
    bool geometry = false;
    for (const auto& d : engine.GetVirtualDbrVec())
        if (d.nSectorsPerCluster == spc && d.u64VolumeStartSector + d.nDataStartSector == lead + data) geometry = true;
    EXPECT_TRUE(geometry);

    std::vector<Expected> expected = {
        {"Photos/Holiday 2026/", "beach sunset.bin", beach},
        {"", "rootfile.dat", root},
        {"Docs/", "readme.txt", readme},
        {"Docs/", "A Very Long Document Name For Testing.txt", longdoc},
        {"Docs/Nested/Deeper/", "deep file.bin", deep},
        {"Docs/", "deleted note.txt", note},
        {"Docs/", Unicode2Ansi(L"\u62a5\u544a final.txt"), report},
        // An 8.3 name has no long-name entries: deleted, its first letter is gone.
        {"Old/", "!one1.txt", gone1},
        {"Old/", "Gone Two.bin", gone2},
        {"Gone/LostFolder" + std::to_string(orphanDir) + "/", "orphan data.bin", orphan},
    };
    TempDir out("deepfat32-out");
    ScanOutcome r = CheckFiles(engine, expected, out.path());
    std::cout << "[lost FAT32] listed under the right folder: " << r.listed << "/" << expected.size()
              << ", recovered byte-identical: " << r.identical << "/" << expected.size() << "\n";
    EXPECT_EQ(expected.size(), r.listed);
    EXPECT_EQ(expected.size(), r.identical);

    // The top of the tree holds the root's files and folders.
    std::vector<_FILE_NODE_> top;
    ASSERT_EQ(0, engine.GetChildrenFileNode(nullptr, 0, top));
    std::map<std::string, _FILE_NODE_> byName;
    for (const auto& n : top) byName[n.szFileName] = n;
    ASSERT_TRUE(byName.count("Docs"));
    EXPECT_TRUE(byName.count("rootfile.dat"));
    EXPECT_TRUE(byName.count("Photos"));
    EXPECT_EQ(87, engine.GetChildrenFileNode(nullptr, 1, top));

    // A whole folder is recovered as a tree.
    _FILE_NODE_ docs = byName["Docs"];
    std::string docsOut = out.file("Docs");
    std::wstring wdocs = Utf8ToWide(docsOut.c_str());
    int base = 0;
    std::wstring wout = Utf8ToWide(out.path().c_str());
    GetPathDirIndex(wout.c_str(), base);
    ASSERT_EQ(0, engine.SaveFileData(&docs, const_cast<wchar_t*>(wdocs.c_str()), base));
    EXPECT_EQ(Sha256Hex(longdoc), Sha256File(docsOut + "/A Very Long Document Name For Testing.txt"));
    EXPECT_EQ(Sha256Hex(deep), Sha256File(docsOut + "/Nested/Deeper/deep file.bin"));
}

TEST(ProfessionalFatLostVolume, Fat16RebuiltWithLongNamesSplitAcrossSectors) {
    ORVALE_REQUIRE_TOOL("mkfs.vfat");
    ORVALE_REQUIRE_TOOL("mcopy");
    StoreTestEnv env;
    TempDir dir("deepfat16");
    FatImageBuilder vol(dir.file("vol.img"), 16, 16384, 4);
    ASSERT_TRUE(vol.ok());
    // Written first so that it, not a folder, takes cluster 2: the rebuilt tree
    // files the root's entries under cluster 2, which on FAT16 is also the first
    // data cluster.
    std::vector<Expected> expected;
    auto put = [&](const std::string& path, const std::string& dirPath, const std::string& name, size_t size) {
        std::vector<uint8_t> data = RandomBytes(size, uint32_t(expected.size() + 100));
        ASSERT_TRUE(vol.PutFile(path, data));
        expected.push_back({dirPath, name, data});
    };
    put("/first.dat", "", "first.dat", 4000);
    ASSERT_TRUE(vol.MakeDir("/Music"));
    put("/Music/track one.bin", "Music/", "track one.bin", 7000);
    ASSERT_TRUE(vol.MakeDir("/Music/Long Names Here"));
    // ".", ".." and five names of two long-name pieces each: the fifth name's
    // pieces end the folder's first sector, its short entry opens the second.
    for (int i = 1; i <= 5; ++i) {
        std::string name = "Long file name 0" + std::to_string(i) + ".bin";
        put("/Music/Long Names Here/" + name, "Music/Long Names Here/", name, size_t(1000 * i + 3));
    }
    put("/Music/old song.bin", "Music/", "old song.bin", 2500);
    ASSERT_TRUE(vol.DeleteFile("/Music/old song.bin"));
    const uint64_t data = vol.DataStartSector();
    ASSERT_TRUE(DeepFatImageDestroyMetadata(vol, 16));

    TempDir disks("deepfat16-disk");
    const uint64_t lead = 1001, tail = 64;
    ASSERT_TRUE(DeepFatImageEmbed(vol.path(), disks.file("disk0"), lead, tail, 99));
    const uint64_t total = ReadFileBytes(disks.file("disk0")).size() / 512;
    ScopedEnv diskDir("ORVALE_DISK_DIR", disks.path());

    CProfessionalFatRecovery engine;
    ASSERT_EQ(0, engine.Init(0, 0, static_cast<long long>(total), L'C'));
    ASSERT_EQ(0, DeepFatImageScan(engine, disks.file("disk0"), 0, total));
    bool geometry = false;
    for (const auto& d : engine.GetVirtualDbrVec())
        if (d.nSectorsPerCluster == 4 && d.u64VolumeStartSector + d.nDataStartSector == lead + data) geometry = true;
    EXPECT_TRUE(geometry);
    EXPECT_EQ(0u, engine.GetPendingLongNameCount());

    TempDir out("deepfat16-out");
    ScanOutcome r = CheckFiles(engine, expected, out.path());
    std::cout << "[lost FAT16] listed under the right folder: " << r.listed << "/" << expected.size()
              << ", recovered byte-identical: " << r.identical << "/" << expected.size() << "\n";
    EXPECT_EQ(expected.size(), r.listed);
    EXPECT_EQ(expected.size(), r.identical);
}
