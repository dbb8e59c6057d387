// A long name crafted to hold "../" and "/" must not lead a folder save of the
// quick or the deep FAT engine out of the folder it saves into.
#include "FastFatTestSupport.h"

#include "fat/CProfessionalFatRecovery.h"
#include "fixtures/DeepFatImage.h"
#include "fixtures/DeepNtfsImage.h"
#include "fixtures/FatImageBuilder.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "platform/PathHelpers.h"
#include "platform/TextCodec.h"

#include <dirent.h>

#include <cstring>
#include <set>

namespace {

// Offsets of the 13 UTF-16 name characters inside a long-name entry.
constexpr int kLfnCharOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

// Rewrites every 'Q' of every long-name entry of the image into '/': mtools
// refuses such names, a damaged or hostile disk does not.
int SlashLongNames(const std::string& image) {
    std::vector<uint8_t> bytes = ReadFileBytes(image);
    int changed = 0;
    for (size_t e = 0; e + 32 <= bytes.size(); e += 32) {
        if (bytes[e + 11] != 0x0F || bytes[e + 12] != 0 || bytes[e + 26] != 0 || bytes[e + 27] != 0) continue;
        for (int off : kLfnCharOffsets)
            if (bytes[e + off] == 'Q' && bytes[e + off + 1] == 0) {
                bytes[e + off] = '/';
                ++changed;
            }
    }
    WriteFileBytes(image, bytes);
    return changed;
}

// Every file and folder under root, as paths relative to it.
void ListTree(const std::string& root, const std::string& rel, std::set<std::string>& out) {
    DIR* d = ::opendir((root + rel).c_str());
    if (!d) return;
    while (dirent* ent = ::readdir(d)) {
        std::string name = ent->d_name;
        if (name == "." || name == "..") continue;
        out.insert(rel + "/" + name);
        ListTree(root, rel + "/" + name, out);
    }
    ::closedir(d);
}

const _FILE_NODE_* FindByName(const DeepNtfsImageTree& tree, const char* name, bool dir) {
    for (const auto& kv : tree)
        if (std::strcmp(kv.second.szFileName, name) == 0 && bool(kv.second.bIsDir) == dir) return &kv.second;
    return nullptr;
}

class FatHostileNames : public ::testing::Test {
protected:
    void SetUp() override {
        ORVALE_REQUIRE_TOOL("mkfs.vfat");
        ORVALE_REQUIRE_TOOL("mdeltree");
        FatImageBuilder img(dir.file("hostile.img"), 16, 16384, 4);
        ASSERT_TRUE(img.ok());
        ASSERT_TRUE(img.MakeDir("/Box"));
        ASSERT_TRUE(img.MakeDir("/Box/..Q..Qup"));
        ASSERT_TRUE(img.PutFile("/Box/..Q..Qescape.txt", escape));
        ASSERT_TRUE(img.PutFile("/Box/..Q..Qup/Inner file.txt", inner));
        ASSERT_TRUE(img.PutFile("/Box/subQname.txt", slash));
        ASSERT_TRUE(img.DeleteTree("/Box"));
        image = img.path();
        ASSERT_GE(SlashLongNames(image), 5);
    }

    // Saves the folder node as <out>/deep/er/Box and checks what was written.
    void SaveAndCheck(IFileRecoveryParse& engine, const _FILE_NODE_& box) {
        TempDir out("fat-hostile-out");
        const std::string target = out.path() + "/deep/er/Box";
        ASSERT_EQ(0, MakeDirectories(out.path() + "/deep/er"));
        std::wstring wtarget = Utf8ToWide(target.c_str());
        int separators = 0;
        GetPathDirIndex(wtarget.c_str(), separators);
        _FILE_NODE_ node = box;
        EXPECT_EQ(0, engine.SaveFileData(&node, const_cast<wchar_t*>(wtarget.c_str()), separators - 1));

        std::set<std::string> written;
        ListTree(out.path(), "", written);
        for (const std::string& p : written)
            EXPECT_TRUE(p == "/deep" || p == "/deep/er" || p.rfind("/deep/er/Box", 0) == 0) << "escaped: " << p;
        const std::string escName = SanitizeFileName("../../escape.txt");
        EXPECT_EQ(std::string::npos, escName.find('/'));
        EXPECT_EQ(Sha256Hex(escape), Sha256File(target + "/" + escName));
        EXPECT_EQ(Sha256Hex(inner), Sha256File(target + "/" + SanitizeFileName("../../up") + "/Inner file.txt"));
        EXPECT_EQ(Sha256Hex(slash), Sha256File(target + "/" + SanitizeFileName("sub/name.txt")));
        EXPECT_FALSE(FileExists(dir.path() + "/escape.txt"));
    }

    StoreTestEnv env;
    TempDir dir{"fat-hostile"};
    std::string image;
    const std::vector<uint8_t> escape = RandomBytes(5000, 11);
    const std::vector<uint8_t> inner = RandomBytes(3000, 12);
    const std::vector<uint8_t> slash = RandomBytes(700, 13);
};

} // namespace

TEST_F(FatHostileNames, QuickFolderSaveStaysInsideTheTarget) {
    FastFatOpened opened = OpenFastFat(image);
    ASSERT_EQ(0, opened.initResult);
    ASSERT_EQ(0, opened.engine->ScanDevice(nullptr));
    std::map<std::string, _FILE_NODE_> tree = FastFatTree(*opened.engine);
    ASSERT_TRUE(tree.count("Box"));
    // The names are found as the disk holds them, path characters included.
    EXPECT_TRUE(tree.count("Box/../../escape.txt"));
    SaveAndCheck(*opened.engine, tree.at("Box"));
}

TEST_F(FatHostileNames, DeepFolderSaveStaysInsideTheTarget) {
    CProfessionalFatRecovery engine;
    struct stat st;
    ASSERT_EQ(0, ::stat(image.c_str(), &st));
    RegisterDiskPath(kFastFatTestDisk, image);
    ASSERT_EQ(0, engine.Init(kFastFatTestDisk, 0, st.st_size / 512, L'C'));
    ASSERT_EQ(0, DeepFatImageScan(engine, image, 0, uint64_t(st.st_size) / 512));
    DeepNtfsImageTree tree = DeepNtfsImageWalk(engine);
    const _FILE_NODE_* box = FindByName(tree, "Box", true);
    ASSERT_NE(nullptr, box);
    EXPECT_NE(nullptr, FindByName(tree, "../../escape.txt", false));
    SaveAndCheck(engine, *box);
}
