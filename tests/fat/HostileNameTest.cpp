// Names holding "../" and "/" never lead a folder save out of its target, on every engine that saves folders.
#include "fixtures/E2eDiskImage.h"
#include "fixtures/EngineTree.h"
#include "fixtures/FatImageBuilder.h"
#include "fixtures/NtfsImageVolume.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TestFiles.h"
#include "ntfs/CFastNtfsRecovery.h"
#include "platform/PathHelpers.h"
#include "platform/TextCodec.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {
// Rewrites every copy of `from` in the image into `to` (same length): the
// formatters refuse such names, a hostile disk does not. UTF-16 for NTFS names
// and FAT long names alike.
int PatchName(const std::string& image, const std::string& from, const std::string& to) {
    auto utf16 = [](const std::string& s) {
        std::vector<uint8_t> out;
        for (char c : s) out.insert(out.end(), {uint8_t(c), 0});
        return out;
    };
    std::vector<uint8_t> bytes = ReadFileBytes(image);
    const std::vector<uint8_t> a = utf16(from), b = utf16(to);
    int n = 0;
    for (auto it = std::search(bytes.begin(), bytes.end(), a.begin(), a.end()); it != bytes.end();
         it = std::search(it + 1, bytes.end(), a.begin(), a.end()), ++n)
        std::copy(b.begin(), b.end(), it);
    WriteFileBytes(image, bytes);
    return n;
}

// FAT long names hold 13 characters a piece: every piece boundary may fall
// inside a name, so the names are patched piece by piece ('Q' becomes '/').
int SlashFatLongNames(const std::string& image) {
    static const int kChar[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    std::vector<uint8_t> bytes = ReadFileBytes(image);
    int changed = 0;
    for (size_t e = 0; e + 32 <= bytes.size(); e += 32) {
        if (bytes[e + 11] != 0x0F || bytes[e + 12] != 0 || bytes[e + 26] != 0 || bytes[e + 27] != 0) continue;
        for (int off : kChar)
            if (bytes[e + off] == 'Q' && bytes[e + off + 1] == 0) bytes[e + off] = '/', ++changed;
    }
    WriteFileBytes(image, bytes);
    return changed;
}

const _FILE_NODE_* FindByName(const EngineTree& tree, const std::string& name, int dir) {
    for (auto& [path, node] : tree)
        if (int(node.bIsDir) == dir && ("/" + path).size() > name.size() && ("/" + path).rfind("/" + name) == path.size() - name.size())
            return &node;
    return nullptr;
}

struct Hostile { std::string escape, up, slash; }; // the names as the disk holds them
const std::vector<uint8_t> escape = RandomBytes(5000, 11), inner = RandomBytes(300, 12), slash = RandomBytes(700, 13);

void SaveBoxAndCheck(IFileRecoveryParse& engine, const EngineTree& tree, const Hostile& names) {
    const _FILE_NODE_* box = FindByName(tree, "Box", 1);
    ASSERT_NE(nullptr, box);
    // The names are listed as the disk holds them, path characters included.
    EXPECT_NE(nullptr, FindByName(tree, names.escape, 0));
    TempDir out("hostile-out");
    ASSERT_EQ(0, MakeDirectories(out.path() + "/deep/er"));
    const std::string target = out.path() + "/deep/er/Box";
    EXPECT_EQ(0, SaveFolder(engine, *box, target));
    ASSERT_EQ(0, RunCommand("cd " + ShellQuote(out.path()) +
                            " && find . -mindepth 1 | grep -v -e '^./deep$' -e '^./deep/er$' -e '^./deep/er/Box' > ../escaped; true"));
    const std::vector<uint8_t> escaped = ReadFileBytes(out.path() + "/../escaped");
    EXPECT_TRUE(escaped.empty()) << "escaped: " << std::string(escaped.begin(), escaped.end());
    EXPECT_EQ(std::string::npos, SanitizeFileName(names.escape.c_str()).find('/'));
    EXPECT_EQ(Sha256Hex(escape), Sha256File(target + "/" + SanitizeFileName(names.escape.c_str())));
    EXPECT_EQ(Sha256Hex(inner), Sha256File(target + "/" + SanitizeFileName(names.up.c_str()) + "/Inner file.txt"));
    EXPECT_EQ(Sha256Hex(slash), Sha256File(target + "/" + SanitizeFileName(names.slash.c_str())));
}
} // namespace

TEST(HostileNames, FolderSavesOfEveryEngineStayInsideTheTarget) {
    StoreTestEnv env;
    TempDir dir("hostile");
    if (!HaveTool("mkfs.vfat") || !HaveTool("mdeltree")) {
        ADD_FAILURE() << "mkfs.vfat or mtools missing (run scripts/setup.sh): the FAT engines are not checked";
    } else {
        const std::string image = dir.file("fat.img");
        FatImageBuilder img(image, 16, 16384, 4);
        // A live file takes cluster 2: rebuilt without a boot sector, FAT16's first data
        // cluster is also where the root's entries are filed.
        ASSERT_TRUE(img.PutFile("/first.dat", RandomBytes(100, 10)) && img.MakeDir("/Box") && img.MakeDir("/Box/..Q..Qup") &&
                    img.PutFile("/Box/..Q..Qescape.txt", escape) && img.PutFile("/Box/..Q..Qup/Inner file.txt", inner) &&
                    img.PutFile("/Box/subQname.txt", slash) && img.DeleteTree("/Box"));
        ASSERT_GE(SlashFatLongNames(image), 5);
        const Hostile names{"../../escape.txt", "../../up", "sub/name.txt"};
        {
            SCOPED_TRACE("quick FAT");
            std::unique_ptr<CFastFatRecovery> quick = OpenFastFat(image);
            ASSERT_EQ(0, quick->ScanDevice(nullptr));
            SaveBoxAndCheck(*quick, WalkEngineTree(*quick), names);
        }
        {
            SCOPED_TRACE("deep FAT");
            ASSERT_TRUE(img.DestroyMetadata());
            DeepScan deep(image);
            ASSERT_EQ(0, deep.result);
            SaveBoxAndCheck(deep.engine, WalkEngineTree(deep.engine, FS_TYPE_PRO_FAT), names);
        }
    }
    if (!HaveTool("mkntfs") || !HaveTool("ntfs-3g")) {
        ADD_FAILURE() << "mkntfs or ntfs-3g missing (run scripts/setup.sh): the NTFS engines are not checked";
        return;
    }
    const std::string image = dir.file("ntfs.img");
    std::string error;
    ASSERT_TRUE(NtfsImageVolume::Format(image, 16u << 20, error)) << error;
    {
        NtfsImageVolume vol(image, dir.file("mnt"));
        ASSERT_TRUE(vol.Mounted() && vol.MakeDir("Box") && vol.MakeDir("Box/..Q..QupQQ") && vol.Write("Box/..Q..QescapeQQ.txt", escape) &&
                    vol.Write("Box/..Q..QupQQ/Inner file.txt", inner) && vol.Write("Box/subQQnameQQ.txt", slash) &&
                    vol.RemoveTree("Box") && vol.Unmount());
    }
    const Hostile names{"../../escape//.txt", "../../up//", "sub//name//.txt"};
    ASSERT_GE(PatchName(image, "..Q..QescapeQQ.txt", names.escape), 1);
    ASSERT_GE(PatchName(image, "..Q..QupQQ", names.up), 1);
    ASSERT_GE(PatchName(image, "subQQnameQQ.txt", names.slash), 1);
    {
        SCOPED_TRACE("quick NTFS");
        CFastNtfsRecovery quick;
        ASSERT_EQ(0, quick.Init(Utf8ToWide(image.c_str()).data(), L'C'));
        ASSERT_EQ(0, quick.ScanDevice(nullptr));
        SaveBoxAndCheck(quick, WalkEngineTree(quick), names);
    }
    {
        SCOPED_TRACE("deep NTFS");
        PatchFile(image, 0, std::vector<uint8_t>(512, 0)); // both boot sectors
        PatchFile(image, (16u << 20) - 512, std::vector<uint8_t>(512, 0));
        DeepScan deep(image);
        ASSERT_EQ(0, deep.result);
        SaveBoxAndCheck(deep.engine, WalkEngineTree(deep.engine, FS_TYPE_PRO_NTFS), names);
    }
}
