// A volume written without external tools, with folders that span many clusters
// and a root that spans several: the scan lists exactly its deleted files.
#include "FastFatTestSupport.h"

#include "fixtures/FatImageSynthesizer.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "platform/TextCodec.h"

#include <set>

TEST(FastFatSynth, ListsEveryDeletedFileOfALargerTree) {
    StoreTestEnv env;
    TempDir dir("fastfatsynth");
    FAT_IMAGE_SYNTH_LAYOUT layout;
    layout.nFolders = 40;
    layout.nFilesPerFolder = 30;
    layout.nFileBytes = 1500; // three clusters each
    layout.nDeleteEvery = 3;
    FAT_IMAGE_SYNTH_RESULT made;
    ASSERT_TRUE(SynthesizeFat32Image(dir.file("synth.img"), layout, &made));
    ASSERT_EQ(made.u64DeletedFiles, 40u * 10);

    FastFatOpened o = OpenFastFat(dir.file("synth.img"));
    ASSERT_EQ(o.initResult, 0);
    ASSERT_EQ(o.engine->ScanDevice(nullptr), 0);
    std::map<std::string, _FILE_NODE_> tree = FastFatTree(*o.engine);
    std::set<std::string> expected, listed;
    for (int f = 0; f < layout.nFolders; ++f) {
        expected.insert(FatImageSynthFolderName(f));
        for (int i = 0; i < layout.nFilesPerFolder; i += layout.nDeleteEvery)
            expected.insert(FatImageSynthFolderName(f) + "/" + FatImageSynthFileName(f, i));
    }
    for (auto& [path, node] : tree) listed.insert(path);
    EXPECT_EQ(listed, expected);

    // Deleted data is taken to be contiguous: each file comes back whole.
    for (int f : {0, 17, 39}) {
        const std::string path = FatImageSynthFolderName(f) + "/" + FatImageSynthFileName(f, 27);
        ASSERT_EQ(tree.count(path), 1u);
        std::wstring out = Utf8ToWide(dir.file("out.txt").c_str());
        ASSERT_EQ(o.engine->SaveFileData(&tree.at(path), const_cast<wchar_t*>(out.c_str()), 0), 0);
        std::vector<uint8_t> got = ReadFileBytes(dir.file("out.txt"));
        ASSERT_EQ(got.size(), layout.nFileBytes);
        for (size_t k = 0; k < got.size(); ++k) ASSERT_EQ(got[k], uint8_t(k * 31 + 27 * 7 + uint32_t(f))) << path << k;
    }
}
