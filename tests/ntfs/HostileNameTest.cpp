// An NTFS name crafted to hold "../" and "/" must not lead a folder save of the
// quick NTFS engine out of the folder it saves into.
#include "ntfs/CFastNtfsRecovery.h"

#include "fixtures/NtfsImageVolume.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "platform/DeviceMap.h"
#include "platform/PathHelpers.h"
#include "platform/TextCodec.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <set>

namespace {

std::vector<uint8_t> Utf16(const std::string& ascii) {
    std::vector<uint8_t> out;
    for (char c : ascii) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(0);
    }
    return out;
}

// Rewrites every whole UTF-16 copy of `from` in the image (records and index
// entries alike) into `to`: ntfs-3g refuses such names, a hostile disk does not.
int PatchName(const std::string& image, const std::string& from, const std::string& to) {
    std::vector<uint8_t> bytes = ReadFileBytes(image);
    const std::vector<uint8_t> a = Utf16(from), b = Utf16(to);
    int n = 0;
    for (auto it = std::search(bytes.begin(), bytes.end(), a.begin(), a.end()); it != bytes.end();
         it = std::search(it + 1, bytes.end(), a.begin(), a.end())) {
        std::copy(b.begin(), b.end(), it);
        ++n;
    }
    WriteFileBytes(image, bytes);
    return n;
}

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

bool FindNode(IFileRecoveryParse& engine, _FILE_NODE_* parent, unsigned level, const char* name, _FILE_NODE_& out) {
    if (level > 16) return false;
    std::vector<_FILE_NODE_> kids;
    if (engine.GetChildrenFileNode(parent, level, kids) != 0) return false;
    for (_FILE_NODE_& k : kids) {
        if (std::strcmp(k.szFileName, name) == 0) {
            out = k;
            return true;
        }
        if (k.bIsDir && FindNode(engine, &k, level + 1, name, out)) return true;
    }
    return false;
}

} // namespace

TEST(NtfsHostileNames, QuickFolderSaveStaysInsideTheTarget) {
    ORVALE_REQUIRE_TOOL("mkntfs");
    ORVALE_REQUIRE_TOOL("ntfs-3g");
    StoreTestEnv env;
    TempDir dir("ntfs-hostile");
    const std::string image = dir.file("hostile.img");
    std::string error;
    ASSERT_TRUE(NtfsImageVolume::Format(image, 16u << 20, error)) << error;
    const std::vector<uint8_t> escape = RandomBytes(5000, 21);
    const std::vector<uint8_t> small = RandomBytes(300, 22);  // resident in its record
    {
        NtfsImageVolume vol(image, dir.file("mnt"));
        ASSERT_TRUE(vol.Mounted());
        ASSERT_TRUE(vol.MakeDir("Box"));
        ASSERT_TRUE(vol.MakeDir("Box/..Q..QupQQ"));
        ASSERT_TRUE(vol.Write("Box/..Q..QescapeQQ.txt", escape));
        ASSERT_TRUE(vol.Write("Box/..Q..QupQQ/Inner file.txt", small));
        ASSERT_TRUE(vol.Write("Box/subQQnameQQ.txt", small));
        ASSERT_TRUE(vol.RemoveTree("Box"));
        ASSERT_TRUE(vol.Unmount());
    }
    ASSERT_GE(PatchName(image, "..Q..QescapeQQ.txt", "../../escape//.txt"), 1);
    ASSERT_GE(PatchName(image, "..Q..QupQQ", "../../up//"), 1);
    ASSERT_GE(PatchName(image, "subQQnameQQ.txt", "sub//name//.txt"), 1);

    CFastNtfsRecovery engine;
    std::wstring wimage = Utf8ToWide(image.c_str());
    ASSERT_EQ(0, engine.Init(&wimage[0], L'C'));
    ASSERT_EQ(0, engine.ScanDevice(nullptr));
    _FILE_NODE_ box{}, esc{};
    ASSERT_TRUE(FindNode(engine, nullptr, 0, "Box", box));
    // The name is found as the disk holds it, path characters included.
    ASSERT_TRUE(FindNode(engine, nullptr, 0, "../../escape//.txt", esc));

    TempDir out("ntfs-hostile-out");
    ASSERT_EQ(0, MakeDirectories(out.path() + "/deep/er"));
    const std::string target = out.path() + "/deep/er/Box";
    std::wstring wtarget = Utf8ToWide(target.c_str());
    int separators = 0;
    GetPathDirIndex(wtarget.c_str(), separators);
    EXPECT_EQ(0, engine.SaveFileData(&box, const_cast<wchar_t*>(wtarget.c_str()), separators - 1));

    std::set<std::string> written;
    ListTree(out.path(), "", written);
    for (const std::string& p : written)
        EXPECT_TRUE(p == "/deep" || p == "/deep/er" || p.rfind("/deep/er/Box", 0) == 0) << "escaped: " << p;
    EXPECT_EQ(Sha256Hex(escape), Sha256File(target + "/" + SanitizeFileName("../../escape//.txt")));
    EXPECT_EQ(Sha256Hex(small), Sha256File(target + "/" + SanitizeFileName("../../up//") + "/Inner file.txt"));
    EXPECT_EQ(Sha256Hex(small), Sha256File(target + "/" + SanitizeFileName("sub//name//.txt")));
}
