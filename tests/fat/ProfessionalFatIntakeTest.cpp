// Directory sectors placed by hand: geometries from anchors, files met before
// any geometry, sectors held until the end, long names split across sectors,
// the root found by its volume label, and two volumes sharing a folder number.
#include "fat/CProfessionalFatRecovery.h"
#include "fixtures/DeepFatImage.h"
#include "fixtures/DeepFatImageCraft.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>

namespace {
using C = DeepFatImageCraft;

// Geometry of the example volume: 8 sectors per cluster, data area at sector 936.
constexpr uint64_t kData = 936;
constexpr uint64_t Sec(uint32_t cluster) { return kData + uint64_t(cluster - 2) * 8; }

class ProfessionalFatIntake : public ::testing::Test {
protected:
    StoreTestEnv env;
    TempDir disks{"deepfat-intake"};
    TempDir out{"deepfat-intake-out"};
    ScopedEnv diskDir{"ORVALE_DISK_DIR", disks.path()};
    CProfessionalFatRecovery engine;

    void Scan(DeepFatImageCraft& img) {
        ASSERT_TRUE(img.Write(disks.file("disk0")));
        uint64_t total = img.bytes().size() / 512;
        ASSERT_EQ(0, engine.Init(0, 0, static_cast<long long>(total), L'C'));
        ASSERT_EQ(0, DeepFatImageScan(engine, disks.file("disk0"), 0, total));
        found = DeepFatImageListFiles(engine);
    }
    // The one file found at path, recovered: its SHA-256 ("" when absent or ambiguous).
    std::string Recover(const std::string& path) {
        auto hits = DeepFatImageFind(found, path);
        EXPECT_EQ(1u, hits.size()) << path;
        if (hits.size() != 1) return "";
        return DeepFatImageRecover(engine, hits[0].node, out.file("r" + std::to_string(n++)));
    }
    std::vector<DeepFatImageFound> found;
    int n = 0;
};
} // namespace

TEST_F(ProfessionalFatIntake, GeometryExampleFilesHeldAndPlaced) {
    DeepFatImageCraft img(2000);
    auto a = RandomBytes(1000, 11), b = RandomBytes(5000, 12), c = RandomBytes(4096 + 1, 13), r = RandomBytes(600, 14);
    // Root by its label at the data start; directories 10 and 20 at sectors 1000 and 1080.
    img.PutEntries(Sec(2), 0, {C::Entry("MYDISK     ", 0x08, 0, 0), C::File("R       TXT", 60, 600)});
    img.PutDir(1000, 10, 0, {C::File("A       TXT", 30, 1000)});
    // The directory's second sector arrives before any geometry explains it: held to the end.
    img.PutEntries(1001, 0, {C::File("C       DAT", 70, 4097)});
    img.PutDir(1080, 20, 0, {C::File("B       BIN", 40, 5000), C::File("D       BIN", 0, 0, true)});
    img.PutData(Sec(30), a);
    img.PutData(Sec(40), b);
    img.PutData(Sec(70), c);
    img.PutData(Sec(60), r);
    Scan(img);

    ASSERT_EQ(1u, engine.GetVirtualDbrVec().size());
    EXPECT_EQ(8u, engine.GetVirtualDbrVec()[0].nSectorsPerCluster);
    EXPECT_EQ(kData, engine.GetVirtualDbrVec()[0].nDataStartSector);
    EXPECT_EQ(0u, engine.GetHeldSectorCount());
    EXPECT_EQ(0u, engine.GetHeldFileCount());

    EXPECT_EQ(Sha256Hex(a), Recover("LostFolder10/a.txt"));   // met before any geometry
    EXPECT_EQ(Sha256Hex(c), Recover("LostFolder10/c.dat"));   // held sector, placed at the end
    EXPECT_EQ(Sha256Hex(b), Recover("LostFolder20/b.bin"));
    EXPECT_EQ(Sha256Hex(r), Recover("r.txt"));                // root, found by its label
    EXPECT_EQ(1u, DeepFatImageFind(found, "LostFolder20/!.bin").size()); // deleted, empty
    EXPECT_EQ(5u, found.size());

    std::vector<_FILE_NODE_> top;
    ASSERT_EQ(0, engine.GetChildrenFileNode(nullptr, 0, top));
    std::map<std::string, _FILE_NODE_> names;
    for (const auto& t : top) names[t.szFileName] = t;
    ASSERT_TRUE(names.count("LostFolder10"));
    EXPECT_TRUE(names.count("LostFolder20"));
    EXPECT_TRUE(names.count("r.txt"));
    EXPECT_EQ(1u, names["LostFolder10"].bIsDir);
    EXPECT_EQ(0xFFFFFFFFu, names["LostFolder10"].nClusterBytes);
    unsigned count = 0;
    ASSERT_EQ(0, engine.GetChildrenFileCount(&names["LostFolder10"], 1, count));
    EXPECT_EQ(2u, count);
    EXPECT_EQ(static_cast<int>(5 + 2), engine.GetLostFileCount()); // five files, two lost folders
}

TEST_F(ProfessionalFatIntake, LongNameSplitAcrossSectorsIsRecordedOnce) {
    DeepFatImageCraft img(2000);
    img.PutDir(1000, 10, 0, {C::File("A       TXT", 30, 10)});
    img.PutDir(1080, 20, 0, {C::File("B       BIN", 40, 10)});
    // Directory 31: twelve small files, then a long name whose
    // two pieces end the first sector and whose short entry opens the second.
    std::vector<DeepFatEntry> fill;
    for (int i = 0; i < 12; ++i) {
        char nm[12];
        std::snprintf(nm, sizeof nm, "F%02d     TXT", i);
        fill.push_back(C::File(nm, 0, 0));
    }
    auto ln = C::LongName("Split Across Sectors.txt", "SPLITA~1TXT");
    ASSERT_EQ(2u, ln.size());
    fill.insert(fill.end(), ln.begin(), ln.end());
    img.PutDir(Sec(31), 31, 0, fill);
    img.PutEntries(Sec(31) + 1, 0, {C::File("SPLITA~1TXT", 50, 700)});
    auto data = RandomBytes(700, 21);
    img.PutData(Sec(50), data);
    Scan(img);

    EXPECT_EQ(Sha256Hex(data), Recover("LostFolder31/Split Across Sectors.txt"));
    EXPECT_TRUE(DeepFatImageFind(found, "LostFolder31/splita~1.txt").empty());
    EXPECT_EQ(0u, engine.GetPendingLongNameCount());
}

TEST_F(ProfessionalFatIntake, TwoVolumesEachWithFolder40) {
    DeepFatImageCraft img(7000);
    // Volume A: 8 sectors per cluster, data at 936. Volume B: 4 per cluster, data at 5000.
    auto secB = [](uint32_t c) { return 5000 + uint64_t(c - 2) * 4; };
    auto fa = RandomBytes(3000, 31), fb = RandomBytes(2000, 32);
    img.PutDir(Sec(10), 10, 0, {C::Dir("SUB        ", 40)});
    img.PutDir(Sec(40), 40, 10, {C::File("INA     BIN", 60, 3000)});
    img.PutDir(secB(40), 40, 0, {C::File("INB     BIN", 70, 2000)});
    img.PutDir(secB(50), 50, 0, {C::Dir("X          ", 51)});
    img.PutData(Sec(60), fa);
    img.PutData(secB(70), fb);
    Scan(img);

    const auto& dbrs = engine.GetVirtualDbrVec();
    ASSERT_EQ(2u, dbrs.size());
    EXPECT_EQ(8u, dbrs[0].nSectorsPerCluster);
    EXPECT_EQ(4u, dbrs[1].nSectorsPerCluster);
    EXPECT_EQ(5000u, dbrs[1].nDataStartSector);
    // Each file keeps the geometry of its own volume, whatever the folder numbers share.
    std::map<std::string, std::string> sha;
    for (const auto& f : found) sha[f.node.szFileName] = DeepFatImageRecover(engine, f.node, out.file(f.node.szFileName));
    EXPECT_EQ(Sha256Hex(fa), sha["ina.bin"]);
    EXPECT_EQ(Sha256Hex(fb), sha["inb.bin"]);
}

TEST_F(ProfessionalFatIntake, DeletedFolderGetsItsHighWordFromTheFolderThatPointsBack) {
    // One sector per cluster, data area at sector 100: cluster 0x10005 lies at sector 65639.
    auto at = [](uint32_t c) { return 100 + uint64_t(c - 2); };
    const uint32_t lost = 0x10005;
    DeepFatImageCraft img(at(lost) + 40);
    auto data = RandomBytes(700, 81);
    img.PutDir(at(10), 10, 0, {C::File("A       BIN", 0, 0)});
    // Deletion cleared the high word of the folder's cluster: only 0x0005 is left.
    img.PutDir(at(20), 20, 0, {C::Dir("SUB        ", lost & 0xFFFF, true)});
    // Cluster 5 is another folder: sharing the low word must not make it the lost one.
    img.PutDir(at(5), 5, 0, {C::File("OTHER   BIN", 0, 0)});
    img.PutDir(at(lost), lost, 20, {C::File("IN      BIN", lost + 1, 700, true)});
    img.PutData(at(lost + 1), data);
    Scan(img);

    EXPECT_EQ(Sha256Hex(data), Recover("LostFolder20/!ub/!n.bin"));
}

TEST_F(ProfessionalFatIntake, LongNameSplitAcrossHeldSectorsIsJoinedAtTheEnd) {
    DeepFatImageCraft img(2000);
    // The root (by its label) comes before any folder that could explain it: both
    // of its sectors are held, and the run opened in the first continues in the second.
    std::vector<DeepFatEntry> root = {C::Entry("MYDISK     ", 0x08, 0, 0)};
    for (int i = 0; i < 13; ++i) {
        char nm[12];
        std::snprintf(nm, sizeof nm, "R%02d     TXT", i);
        root.push_back(C::File(nm, 0, 0));
    }
    auto ln = C::LongName("Held Long Name File.bin", "HELDLO~1BIN");
    ASSERT_EQ(2u, ln.size());
    root.insert(root.end(), ln.begin(), ln.end());
    img.PutEntries(Sec(2), 0, root);
    img.PutEntries(Sec(2) + 1, 0, {C::File("HELDLO~1BIN", 60, 900)});
    img.PutDir(1000, 10, 0, {C::File("A       TXT", 30, 10)});
    img.PutDir(1080, 20, 0, {C::File("B       BIN", 40, 10)});
    auto data = RandomBytes(900, 23);
    img.PutData(Sec(60), data);
    Scan(img);

    EXPECT_EQ(Sha256Hex(data), Recover("Held Long Name File.bin"));
    EXPECT_TRUE(DeepFatImageFind(found, "heldlo~1.bin").empty());
    EXPECT_EQ(1u, DeepFatImageFind(found, "r12.txt").size());
}
