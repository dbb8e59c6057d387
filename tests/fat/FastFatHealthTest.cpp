// Data health: a deleted photo whose first cluster was overwritten is unhealthy
// and hidden from listings; the signature also finds lost high cluster words.
#include "FastFatTestSupport.h"

#include "engine/FileCategories.h"
#include "fixtures/FatImageBuilder.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "platform/TextCodec.h"

#include <cstring>

namespace {
std::vector<uint8_t> MakeJpeg(const TempDir& dir, const char* name) {
    const std::string path = dir.file(name);
    if (RunCommand("/usr/bin/convert -size 96x64 plasma: " + FatImageQuote(path)) != 0) return {};
    return ReadFileBytes(path);
}
} // namespace

TEST(FastFatHealth, OverwrittenPhotoIsUnhealthyAndHidden) {
    ORVALE_REQUIRE_TOOL("mkfs.vfat");
    ORVALE_REQUIRE_TOOL("/usr/bin/convert");
    StoreTestEnv env;
    TempDir dir("fastfathealth");
    const std::vector<uint8_t> jpeg = MakeJpeg(dir, "src.jpg");
    ASSERT_GT(jpeg.size(), 1000u);
    FatImageBuilder img(dir.file("v.img"), 16, 16384, 4);
    ASSERT_TRUE(img.ok());
    ASSERT_TRUE(img.MakeDir("/Pics"));
    ASSERT_TRUE(img.PutFile("/Pics/Good photo.jpg", jpeg));
    ASSERT_TRUE(img.PutFile("/Pics/Bad photo.jpg", jpeg));
    ASSERT_TRUE(img.PutFile("/Pics/Notes.txt", RandomBytes(100, 3)));
    ASSERT_TRUE(img.Mtools("mdel", "'::/Pics/Good photo.jpg' '::/Pics/Bad photo.jpg' '::/Pics/Notes.txt'") == 0);
    // Something else was written over the bad photo's first cluster.
    const uint64_t bad = img.FindShortEntry("\xE5" "ADPHO~1JPG");
    ASSERT_NE(bad, 0u);
    const std::vector<uint8_t> entry = img.ReadBytes(bad, 32);
    const uint32_t badCluster = entry[26] | (entry[27] << 8);
    ASSERT_TRUE(img.Patch(img.ClusterSector(badCluster) * 512, RandomBytes(512, 4)));

    FastFatOpened o = OpenFastFat(img.path());
    ASSERT_EQ(o.initResult, 0);
    ASSERT_EQ(o.engine->ScanDevice(nullptr), 0);
    std::map<std::string, _FILE_NODE_> tree = FastFatTree(*o.engine);
    EXPECT_EQ(tree.count("Pics/Good photo.jpg"), 1u);
    EXPECT_EQ(tree.count("Pics/Bad photo.jpg"), 0u) << "an overwritten photo is not listed";
    EXPECT_EQ(tree.count("Pics/Notes.txt"), 1u);
    unsigned count = 0;
    ASSERT_EQ(o.engine->GetChildrenFileCount(&tree.at("Pics"), 1, count), 0);
    EXPECT_EQ(count, 3u) << "counting still sees it";
    std::vector<__SEARCH_FILE_INFO__> hits;
    std::wstring photos = g_wszPhotoTypes;
    ASSERT_EQ(o.engine->SearchFileNode(const_cast<wchar_t*>(photos.c_str()), hits), 0);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_STREQ(hits[0].szFileName, "Good photo.jpg");
    EXPECT_EQ(hits[0].bIsHealth, 1u);

    _FILE_NODE_ good = tree.at("Pics/Good photo.jpg");
    EXPECT_EQ(o.engine->IsFileDataHealth(&good, img.SectorsPerCluster()), 1);
    _FILE_NODE_ overwritten = good;
    overwritten.nClusterNO = badCluster;
    EXPECT_EQ(o.engine->IsFileDataHealth(&overwritten, img.SectorsPerCluster()), 0);
    // No judgement without a known extension.
    std::strcpy(overwritten.szFileName, "no extension");
    EXPECT_EQ(o.engine->IsFileDataHealth(&overwritten, img.SectorsPerCluster()), 1);
    std::strcpy(overwritten.szFileName, "data.unknownext");
    EXPECT_EQ(o.engine->IsFileDataHealth(&overwritten, img.SectorsPerCluster()), 1);

    std::wstring out = Utf8ToWide(dir.file("good.jpg").c_str());
    ASSERT_EQ(o.engine->SaveFileData(&good, const_cast<wchar_t*>(out.c_str()), 0), 0);
    EXPECT_EQ(Sha256File(dir.file("good.jpg")), Sha256Hex(jpeg));
}

// A deleted FAT32 photo beyond cluster 65535 whose entry lost its high word is
// found by the signature at each candidate; a folder is found by its "." entry.
TEST(FastFatHealth, LostHighWordsAreProbedBack) {
    ORVALE_REQUIRE_TOOL("mkfs.vfat");
    ORVALE_REQUIRE_TOOL("mdeltree");
    ORVALE_REQUIRE_TOOL("/usr/bin/convert");
    StoreTestEnv env;
    TempDir dir("fastfathigh");
    const std::vector<uint8_t> jpeg = MakeJpeg(dir, "src.jpg");
    ASSERT_GT(jpeg.size(), 1000u);
    FatImageBuilder img(dir.file("v.img"), 32, 40000, 1);
    ASSERT_TRUE(img.ok());
    ASSERT_TRUE(img.PutFile("/filler.bin", std::vector<uint8_t>(66000u * 512, 0)));
    ASSERT_TRUE(img.MakeDir("/Far away"));
    const std::vector<uint8_t> remote = RandomBytes(1500, 8);
    ASSERT_TRUE(img.PutFile("/Far away/Remote file.txt", remote));
    ASSERT_TRUE(img.PutFile("/FAR.JPG", jpeg));
    ASSERT_TRUE(img.PutFile("/NOEXT", RandomBytes(700, 9)));
    ASSERT_TRUE(img.DeleteTree("/Far away"));
    ASSERT_TRUE(img.Mtools("mdel", "::/FAR.JPG ::/NOEXT") == 0);
    uint32_t noextLow = 0;
    for (const char* name : {"\xE5" "ARAWA~1   ", "\xE5" "AR     JPG", "\xE5" "OEXT      "}) {
        const uint64_t at = img.FindShortEntry(name);
        ASSERT_NE(at, 0u) << name;
        const std::vector<uint8_t> entry = img.ReadBytes(at, 32);
        ASSERT_EQ(entry[20] | (entry[21] << 8), 1) << "should lie past cluster 65535: " << name;
        noextLow = entry[26] | (entry[27] << 8);
        ASSERT_TRUE(img.Patch(at + 20, {0, 0})); // as some systems leave deleted entries
    }

    FastFatOpened o = OpenFastFat(img.path());
    ASSERT_EQ(o.initResult, 0);
    ASSERT_EQ(o.engine->ScanDevice(nullptr), 0);
    std::map<std::string, _FILE_NODE_> tree = FastFatTree(*o.engine);
    ASSERT_EQ(tree.count("Far away/Remote file.txt"), 1u);
    EXPECT_GT(tree.at("Far away").nClusterNO, 65535u);
    ASSERT_EQ(tree.count("!ar.jpg"), 1u);
    EXPECT_GT(tree.at("!ar.jpg").nClusterNO, 65535u);
    EXPECT_EQ(tree.at("!ar.jpg").bIsHealth, 1u);
    const std::pair<const char*, const std::vector<uint8_t>*> saves[] = {{"Far away/Remote file.txt", &remote},
                                                                          {"!ar.jpg", &jpeg}};
    for (const auto& [path, data] : saves) {
        std::wstring out = Utf8ToWide(dir.file("saved.bin").c_str());
        ASSERT_EQ(o.engine->SaveFileData(&tree.at(path), const_cast<wchar_t*>(out.c_str()), 0), 0) << path;
        EXPECT_EQ(Sha256File(dir.file("saved.bin")), Sha256Hex(*data)) << path;
    }
    // Without an extension there is nothing to probe with: the high word stays 0.
    ASSERT_EQ(tree.count("!oext"), 1u);
    EXPECT_EQ(tree.at("!oext").nClusterNO, noextLow);
}
