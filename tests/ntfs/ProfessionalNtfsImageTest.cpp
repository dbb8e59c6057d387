// The deep NTFS engine on a real, lost NTFS volume: boot sector and backup
// zeroed, volume at an odd offset inside filler. Every sector of the disk is
// offered as the deep-scan pass does; the engine must rebuild the tree and
// give back every file that was not overwritten, byte for byte.
#include "disk/VolumeRecognizers.h"
#include "fixtures/DeepNtfsImage.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/SectorFeed.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "ntfs/CProfessionalNtfsRecovery.h"
#include "platform/CDiskReader.h"
#include "platform/DeviceMap.h"
#include "platform/PathHelpers.h"
#include "platform/TextCodec.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <iostream>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {


// Offers every sector that passes the record test, re-reading records cut by a chunk's end.
int FeedDisk(CProfessionalNtfsRecovery& engine, const std::string& disk, uint64_t sectors) {
    int fd = ::open(disk.c_str(), O_RDONLY);
    if (fd < 0) return -1;
    int offered = 0;
    SectorFeed feed(disk, 0, sectors);
    feed.FeedSectors([&](const uint8_t* sector, size_t left, uint64_t abs) -> unsigned {
        if (!IsNtfsFileRecord(const_cast<uint8_t*>(sector), 1024)) return 1;
        ++offered;
        if (left >= 1024) {
            engine.ParseNtfsFileRecord(const_cast<uint8_t*>(sector), abs);
        } else {
            std::vector<uint8_t> record(8192, 0);
            if (::pread(fd, record.data(), record.size(), static_cast<off_t>(abs * 512)) >= 1024)
                engine.ParseNtfsFileRecord(record.data(), abs);
        }
        return 1;
    });
    ::close(fd);
    return offered;
}

using Tree = DeepNtfsImageTree;
const _FILE_NODE_* Find(const Tree& t, const std::string& p, bool dir) { return DeepNtfsImageFind(t, p, dir); }

class ProfessionalNtfsImageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new TempDir("deepntfs");
        s_image = new DeepNtfsImage();
        if (!HaveTool("mkntfs") || !HaveTool("ntfs-3g")) {
            s_error = "mkntfs / ntfs-3g missing";
            return;
        }
        s_error = BuildDeepNtfsImage(s_dir->path(), 16, 4096, 3001, *s_image);
    }
    static void TearDownTestSuite() {
        delete s_image;
        delete s_dir;
        s_image = nullptr;
        s_dir = nullptr;
    }

    void SetUp() override {
        if (s_error == "mkntfs / ntfs-3g missing") GTEST_SKIP() << "SKIPPED: " << s_error;
        ASSERT_EQ("", s_error);
        m_support = std::make_unique<TempDir>("deepntfs-support");
        m_supportEnv = std::make_unique<ScopedEnv>("ORVALE_SUPPORT_DIR", m_support->path());
        m_diskEnv = std::make_unique<ScopedEnv>("ORVALE_DISK_DIR", s_dir->path());
    }

    // Scans disk0 of the image folder; fills m_tree.
    void Scan(CProfessionalNtfsRecovery& engine) {
        ASSERT_EQ(0, engine.Init(0, 0, static_cast<long long>(s_image->u64DiskSectors), L'C'));
        ASSERT_EQ(0, engine.InitProfessionalScan(nullptr));
        ASSERT_GT(FeedDisk(engine, s_image->strDiskPath, s_image->u64DiskSectors), 0);
        engine.ParseProfessionalRecordVec();
        m_tree = DeepNtfsImageWalk(engine);
    }

    static TempDir* s_dir;
    static DeepNtfsImage* s_image;
    static std::string s_error;
    std::unique_ptr<TempDir> m_support;
    std::unique_ptr<ScopedEnv> m_supportEnv;
    std::unique_ptr<ScopedEnv> m_diskEnv;
    Tree m_tree;
};
TempDir* ProfessionalNtfsImageTest::s_dir = nullptr;
DeepNtfsImage* ProfessionalNtfsImageTest::s_image = nullptr;
std::string ProfessionalNtfsImageTest::s_error;

TEST_F(ProfessionalNtfsImageTest, RebuildsTheLostVolumeAndRecoversItsFilesByteForByte) {
    CProfessionalNtfsRecovery engine;
    Scan(engine);
    const DeepNtfsImage& img = *s_image;

    // Geometry inferred from the $MFT record alone.
    EXPECT_EQ(static_cast<int>(img.nClusterBytes / 512), engine.GetCurrentSectorsPerCluster());
    ASSERT_FALSE(engine.GetMftRegistry().empty());

    TempDir out("deepntfs-out");
    int listed = 0, listable = 0, identical = 0, recoverable = 0, saved = 0;
    int risky = 0, riskyListed = 0, riskyIdentical = 0, deleted = 0;
    for (const DeepNtfsImageFile& f : img.files) {
        if (!f.bMayBeOverwritten) ++listable;
        if (f.bMayBeOverwritten) ++risky;
        if (f.bDeleted && !f.bMayBeOverwritten) ++deleted;
        const _FILE_NODE_* node = Find(m_tree, f.strPath, false);
        if (!node) {
            EXPECT_TRUE(f.bMayBeOverwritten) << f.strPath << " is not listed under its folder";
            continue;
        }
        if (!f.bMayBeOverwritten) ++listed;
        else ++riskyListed;
        EXPECT_EQ(img.u64VolumeStart, node->u64PartitionStartSector) << f.strPath;
        EXPECT_EQ(img.nClusterBytes, node->nClusterBytes) << f.strPath;
        EXPECT_EQ(f.data.size(), node->u64FileSize) << f.strPath;
        EXPECT_EQ(uint32_t(FS_TYPE_PRO_NTFS), node->nFileSystemType);

        // The store's own folder path agrees with the tree.
        wchar_t parent[512] = {};
        _FILE_NODE_ copy = *node;
        EXPECT_EQ(0, engine.GetFileNodeParentDirPath(&copy, parent, 512));
        const size_t slash = f.strPath.rfind('/');
        EXPECT_EQ(slash == std::string::npos ? "" : f.strPath.substr(0, slash + 1), WideToUtf8(parent)) << f.strPath;

        if (!f.bMayBeOverwritten) ++recoverable;
        const std::string target = out.file("f" + std::to_string(saved++));
        const std::wstring wtarget = Utf8ToWide(target.c_str());
        const int rc = engine.SaveFileData(&copy, const_cast<wchar_t*>(wtarget.c_str()), 0);
        if (rc == 0 && Sha256File(target) == Sha256Hex(f.data)) {
            if (!f.bMayBeOverwritten) ++identical;
            else ++riskyIdentical;
        } else {
            EXPECT_TRUE(f.bMayBeOverwritten) << f.strPath << " saved with " << rc << " and differs";
        }
    }
    // The deleted folder is back, with its deleted files in it.
    EXPECT_NE(nullptr, Find(m_tree, "Trash", true));
    std::cout << "[ lost NTFS ] listed under their right folder path: " << listed << " of " << listable
              << "; recovered byte-identical: " << identical << " of " << recoverable
              << " (" << deleted << " of them deleted); deleted before a later write filled the volume: " << riskyListed
              << " of " << risky << " listed, " << riskyIdentical << " byte-identical (the rest overwritten)\n";
    EXPECT_EQ(listable, listed);
    EXPECT_EQ(recoverable, identical);
    EXPECT_GE(listable, 12);
}

TEST_F(ProfessionalNtfsImageTest, SavesAWholeFolderTreeAndPreviews) {
    CProfessionalNtfsRecovery engine;
    Scan(engine);
    const _FILE_NODE_* docs = Find(m_tree, "Docs", true);
    ASSERT_NE(nullptr, docs);

    TempDir out("deepntfs-tree");
    const std::wstring target = Utf8ToWide((out.path() + "/Docs").c_str());
    int depth = 0;
    GetPathDirIndex(target.c_str(), depth);
    _FILE_NODE_ folder = *docs;
    // Docs lies in the root's list (level 0): its children are level 1.
    ASSERT_EQ(0, engine.SaveFileData(&folder, const_cast<wchar_t*>(target.c_str()), depth - 1));
    int checked = 0;
    for (const DeepNtfsImageFile& f : s_image->files) {
        if (f.strPath.rfind("Docs/", 0) != 0) continue;
        EXPECT_EQ(Sha256Hex(f.data), Sha256File(out.path() + "/" + f.strPath)) << f.strPath;
        ++checked;
    }
    EXPECT_EQ(5, checked);

    // Preview of text goes to the buffer, cut to its capacity.
    const _FILE_NODE_* readme = Find(m_tree, "readme.txt", false);
    ASSERT_NE(nullptr, readme);
    _FILE_NODE_ node = *readme;
    std::vector<unsigned char> buf(10240);
    wchar_t tmp[256] = {};
    int len = static_cast<int>(buf.size());
    ASSERT_EQ(0, engine.PreView(&node, tmp, buf.data(), len, nullptr, nullptr));
    ASSERT_EQ(300, len);
    const DeepNtfsImageFile* expected = nullptr;
    for (const DeepNtfsImageFile& f : s_image->files)
        if (f.strPath == "readme.txt") expected = &f;
    ASSERT_NE(nullptr, expected);
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + len, expected->data.begin()));
    len = 100;
    ASSERT_EQ(0, engine.PreView(&node, tmp, buf.data(), len, nullptr, nullptr));
    EXPECT_EQ(100, len);

    const _FILE_NODE_* report = Find(m_tree, "Docs/report.bin", false);
    ASSERT_NE(nullptr, report);
    node = *report;
    len = 10240;
    ASSERT_EQ(0, engine.PreView(&node, tmp, buf.data(), len, nullptr, nullptr));
    ASSERT_EQ(10240, len);
    for (const DeepNtfsImageFile& f : s_image->files) {
        if (f.strPath != "Docs/report.bin") continue;
        EXPECT_TRUE(std::equal(buf.begin(), buf.end(), f.data.begin()));
    }

    // A picture previews into a file of the scan-log folder.
    const _FILE_NODE_* pic = Find(m_tree, "pic.jpg", false);
    ASSERT_NE(nullptr, pic);
    EXPECT_EQ(1u, pic->bIsHealth);
    node = *pic;
    len = 10240;
    ASSERT_EQ(0, engine.PreView(&node, tmp, buf.data(), len, nullptr, nullptr));
    EXPECT_EQ(0, len);
    const std::string tmpFile = WideToUtf8(tmp);
    EXPECT_EQ(GetScanLogDirPath() + "tmp.jpg", tmpFile);
    for (const DeepNtfsImageFile& f : s_image->files) {
        if (f.strPath != "pic.jpg") continue;
        EXPECT_EQ(Sha256Hex(f.data), Sha256File(tmpFile));
    }
}

TEST_F(ProfessionalNtfsImageTest, AReopenedResultListsTheSameTree) {
    CProfessionalNtfsRecovery engine;
    Scan(engine);
    std::wstring name = Utf8ToWide(engine.GetStoreName().c_str());
    CProfessionalNtfsRecovery reopened;
    ASSERT_EQ(0, reopened.Init(0, 0, static_cast<long long>(s_image->u64DiskSectors), L'C'));
    ASSERT_EQ(0, reopened.InitProfessionalScan(&name[0]));
    const Tree tree = DeepNtfsImageWalk(reopened);
    ASSERT_EQ(m_tree.size(), tree.size());
    for (const auto& kv : m_tree) EXPECT_EQ(1u, tree.count(kv.first)) << kv.first;
}

TEST_F(ProfessionalNtfsImageTest, ADestroyedFolderRecordLeavesItsFilesInALostFolder) {
    CProfessionalNtfsRecovery first;
    Scan(first);
    const _FILE_NODE_* sub = Find(m_tree, "Docs/Sub", true);
    ASSERT_NE(nullptr, sub);
    const uint64_t subSector = sub->u64RecordSector;
    const uint32_t subNo = sub->nClusterNO;

    // A damaged copy of the disk: the Sub folder's record is gone.
    TempDir damaged("deepntfs-damaged");
    std::vector<uint8_t> disk = ReadFileBytes(s_image->strDiskPath);
    std::fill(disk.begin() + static_cast<long>(subSector * 512), disk.begin() + static_cast<long>(subSector * 512 + 1024), 0);
    WriteFileBytes(damaged.file("disk0"), disk);
    ScopedEnv env("ORVALE_DISK_DIR", damaged.path());

    CProfessionalNtfsRecovery engine;
    ASSERT_EQ(0, engine.Init(0, 0, static_cast<long long>(s_image->u64DiskSectors), L'C'));
    ASSERT_EQ(0, engine.InitProfessionalScan(nullptr));
    FeedDisk(engine, damaged.file("disk0"), s_image->u64DiskSectors);
    engine.ParseProfessionalRecordVec();
    const Tree tree = DeepNtfsImageWalk(engine);
    const std::string lost = "LostFolder" + std::to_string(subNo);
    ASSERT_NE(nullptr, Find(tree, lost, true));
    EXPECT_NE(nullptr, Find(tree, lost + "/deep.dat", false));
    EXPECT_NE(nullptr, Find(tree, lost + "/note.txt", false));
    EXPECT_NE(nullptr, Find(tree, "Docs/report.bin", false));
    EXPECT_EQ(nullptr, Find(tree, "Docs/Sub", true));
}

}  // namespace

namespace {

// Two lost volumes with different cluster sizes on one disk: every file is
// placed with its own volume's $MFT, start and cluster size.
TEST(ProfessionalNtfsTwoVolumes, EachVolumeKeepsItsOwnGeometry) {
    ORVALE_REQUIRE_TOOL("mkntfs");
    ORVALE_REQUIRE_TOOL("ntfs-3g");
    TempDir dir("deepntfs-two");
    TempDir support("deepntfs-two-support");
    DeepNtfsImage a, b;
    ASSERT_EQ("", BuildDeepNtfsTwoVolumeImage(dir.path(), a, b));
    ScopedEnv envDisk("ORVALE_DISK_DIR", dir.path());
    ScopedEnv envSupport("ORVALE_SUPPORT_DIR", support.path());

    CProfessionalNtfsRecovery engine;
    ASSERT_EQ(0, engine.Init(0, 0, static_cast<long long>(a.u64DiskSectors), L'C'));
    ASSERT_EQ(0, engine.InitProfessionalScan(nullptr));
    FeedDisk(engine, a.strDiskPath, a.u64DiskSectors);
    engine.ParseProfessionalRecordVec();
    const Tree tree = DeepNtfsImageWalk(engine);
    EXPECT_GE(engine.GetMftRegistry().size(), 2u);

    TempDir out("deepntfs-two-out");
    int checked = 0, saved = 0;
    for (const DeepNtfsImage* vol : {&a, &b}) {
        for (const DeepNtfsImageFile& f : vol->files) {
            if (f.bMayBeOverwritten) continue;
            const _FILE_NODE_* node = Find(tree, f.strPath, false);
            // Both volumes number their first files alike: a root file of one may
            // be found twice, so pick the copy of this volume.
            auto range = tree.equal_range(f.strPath);
            for (auto it = range.first; it != range.second; ++it)
                if (it->second.u64PartitionStartSector == vol->u64VolumeStart) node = &it->second;
            ASSERT_NE(nullptr, node) << f.strPath;
            EXPECT_EQ(vol->u64VolumeStart, node->u64PartitionStartSector) << f.strPath;
            EXPECT_EQ(vol->nClusterBytes, node->nClusterBytes) << f.strPath;
            _FILE_NODE_ copy = *node;
            const std::string target = out.file("f" + std::to_string(saved++));
            const std::wstring w = Utf8ToWide(target.c_str());
            ASSERT_EQ(0, engine.SaveFileData(&copy, const_cast<wchar_t*>(w.c_str()), 0)) << f.strPath;
            EXPECT_EQ(Sha256Hex(f.data), Sha256File(target)) << f.strPath;
            ++checked;
        }
    }
    EXPECT_GT(checked, 100);
    EXPECT_NE(nullptr, Find(tree, "Other/b3.bin", false));
}

}  // namespace
