// The default (deep) scan of an ext volume through the real composite.
#include "engine/CFileRecoveryFactory.h"
#include "engine/CProfessionalRecovery.h"
#include "engine/FileCategories.h"
#include "platform/TextCodec.h"

#include "fixtures/ExtImage.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <set>

// A deleted fragmented picture comes back whole from its pointer blocks, and
// nothing is carved out of a live file's blocks: the pass reads free space only.
TEST(ExtDeepScan, RebuiltFromPointerBlocksAndNothingCarvedFromLiveFiles) {
    std::string why = ExtImage::Unavailable();
    if (!why.empty()) GTEST_SKIP() << "SKIPPED: ext images cannot be made: " << why;
    ORVALE_REQUIRE_TOOL("/usr/bin/convert");
    StoreTestEnv env;
    TempDir dir("ext-deepscan");
    RunCommand("/usr/bin/convert -size 700x500 plasma: -quality 90 '" + dir.file("gone.jpg") + "'");
    RunCommand("/usr/bin/convert -size 500x400 plasma: -quality 90 '" + dir.file("live.jpg") + "'");
    const auto gone = ReadFileBytes(dir.file("gone.jpg"));
    const auto live = ReadFileBytes(dir.file("live.jpg"));
    ExtImage img(dir.path(), "ext2", 1024);
    ASSERT_TRUE(img.Make());
    ASSERT_TRUE(img.Mount());
    img.Checkerboard("fill", 300, 3072);
    img.Write("keep/live.jpg", live);
    img.Write("old/gone.jpg", gone);
    ASSERT_TRUE(img.Remove("old"));
    ASSERT_TRUE(img.Unmount());
    // The live picture's blocks, as debugfs lists them ("(0-11):1234-1245, (IND):...").
    RunCommand("debugfs -R 'blocks /keep/live.jpg' '" + img.Path() + "' > '" + dir.file("blocks") + "' 2>/dev/null");
    std::set<uint64_t> liveSectors;
    std::ifstream in(dir.file("blocks"));
    for (uint64_t b; in >> b;) liveSectors.insert(b * 2);
    ASSERT_FALSE(liveSectors.empty());

    std::wstring path = Utf8ToWide(img.Path().c_str());
    std::unique_ptr<IFileRecoveryParse> engine(
        CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(&path[0], L'C', RECOVERY_TYPE_PROFESSIONAL));
    ASSERT_NE(nullptr, engine);
    ASSERT_EQ(0, engine->ScanDevice(nullptr));
    std::wstring key = BuildSearchKey(CATEGORY_ALL);
    std::vector<__SEARCH_FILE_INFO__> hits;
    engine->SearchFileNode(key.data(), hits);
    bool rebuilt = false;
    for (__SEARCH_FILE_INFO__& h : hits) {
        SCOPED_TRACE(h.szFileName);
        uint64_t start = 0;
        if (h.nFileSystemType == FS_TYPE_FILE_TYPE) start = h.u64RecordSector;
        EXPECT_FALSE(liveSectors.count(start)) << "carved from a live file's block";
        if (h.nFileSystemType != FS_TYPE_PRO_EXT || h.u64FileSize != gone.size()) continue;
        const std::wstring target = Utf8ToWide(dir.file("out.jpg").c_str());
        _FILE_NODE_ node = h;
        EXPECT_EQ(0, engine->SaveFileData(&node, const_cast<wchar_t*>(target.c_str()), 0));
        rebuilt = rebuilt || ReadFileBytes(dir.file("out.jpg")) == gone;
    }
    EXPECT_TRUE(rebuilt) << hits.size() << " hits, none is the deleted picture rebuilt";
}
