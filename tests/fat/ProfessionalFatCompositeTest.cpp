// A lost FAT volume found through the deep-scan composite: the same engine,
// fed by the real pass, answers search, folder paths, preview and recovery.
#include "engine/CProfessionalRecovery.h"
#include "engine/FileCategories.h"
#include "fixtures/DeepFatImage.h"
#include "fixtures/FatImageBuilder.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "platform/TextCodec.h"

#include <gtest/gtest.h>

#include <map>

TEST(ProfessionalFatComposite, LostVolumeFoundByTheDeepScanPass) {
    ORVALE_REQUIRE_TOOL("mkfs.vfat");
    ORVALE_REQUIRE_TOOL("mcopy");
    StoreTestEnv env;
    TempDir dir("deepfat-composite");
    FatImageBuilder vol(dir.file("vol.img"), 32, 40000, 1);
    ASSERT_TRUE(vol.ok());
    auto a = RandomBytes(7000, 91), b = RandomBytes(1234, 92);
    ASSERT_TRUE(vol.MakeDir("/Reports"));
    ASSERT_TRUE(vol.MakeDir("/Reports/2026"));
    ASSERT_TRUE(vol.PutFile("/Reports/2026/quarterly figures.dat", a));
    ASSERT_TRUE(vol.PutFile("/Reports/summary notes.dat", b));
    ASSERT_TRUE(vol.DeleteFile("/Reports/summary notes.dat"));
    ASSERT_TRUE(DeepFatImageDestroyMetadata(vol, 32));
    TempDir disks("deepfat-composite-disk");
    ASSERT_TRUE(DeepFatImageEmbed(vol.path(), disks.file("disk0"), 129, 16, 5));
    const uint64_t total = ReadFileBytes(disks.file("disk0")).size() / 512;
    ScopedEnv diskDir("ORVALE_DISK_DIR", disks.path());

    CProfessionalRecovery engine;
    ASSERT_EQ(0, engine.Init(0, 0, static_cast<long long>(total), L'C'));
    engine.SetNotLoadLogFile();
    engine.InitCallBack(nullptr, nullptr, nullptr, 100);
    ASSERT_EQ(0, engine.ScanDevice(nullptr));

    std::wstring key = BuildSearchKey(CATEGORY_ALL);
    std::vector<__SEARCH_FILE_INFO__> hits;
    ASSERT_EQ(0, engine.SearchFileNode(const_cast<wchar_t*>(key.c_str()), hits));
    std::map<std::string, _FILE_NODE_> byPath;
    for (const auto& h : hits) {
        if (h.nFileSystemType != FS_TYPE_PRO_FAT) continue;
        _FILE_NODE_ node = h;
        wchar_t path[1024] = {};
        ASSERT_EQ(0, engine.GetFileNodeParentDirPath(&node, path, 1024));
        byPath[Unicode2Ansi(path) + node.szFileName] = node;
    }
    ASSERT_EQ(1u, byPath.count("Reports/2026/quarterly figures.dat"));
    ASSERT_EQ(1u, byPath.count("Reports/summary notes.dat"));

    TempDir out("deepfat-composite-out");
    auto recover = [&](const std::string& path, const std::string& name) {
        _FILE_NODE_ node = byPath[path];
        std::wstring target = Utf8ToWide(out.file(name).c_str());
        EXPECT_EQ(0, engine.SaveFileData(&node, const_cast<wchar_t*>(target.c_str()), 0));
        return Sha256File(out.file(name));
    };
    EXPECT_EQ(Sha256Hex(a), recover("Reports/2026/quarterly figures.dat", "a"));
    EXPECT_EQ(Sha256Hex(b), recover("Reports/summary notes.dat", "b"));

    // Preview through the composite: the first bytes, into the caller's buffer.
    _FILE_NODE_ node = byPath["Reports/2026/quarterly figures.dat"];
    std::vector<unsigned char> buf(10240);
    int len = int(buf.size());
    wchar_t tmp[256] = {};
    ASSERT_EQ(0, engine.PreView(&node, tmp, buf.data(), len, nullptr, nullptr));
    ASSERT_EQ(7000, len);
    EXPECT_TRUE(std::equal(a.begin(), a.end(), buf.begin()));
}
