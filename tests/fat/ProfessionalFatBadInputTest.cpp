// Bad input never stops a deep FAT scan: decoy directory sectors, folders whose
// ".." entries loop, long-name runs that never continue, entries pointing past
// the disk, a truncated image and a missing device.
#include "engine/CLogFileManager.h"
#include "fat/CProfessionalFatRecovery.h"
#include "fixtures/DeepFatImage.h"
#include "fixtures/DeepFatImageCraft.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "fat/FatStructures.h"
#include "platform/TextCodec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace {
using C = DeepFatImageCraft;
constexpr uint64_t Sec(uint32_t cluster) { return 936 + uint64_t(cluster - 2) * 8; }

// A sector of plausible entries with random names, clusters and sizes: it
// passes the directory-table test although no volume ever held it.
std::vector<DeepFatEntry> DecoyEntries(std::mt19937& rng, bool withOpenRun) {
    std::vector<DeepFatEntry> out;
    int n = withOpenRun ? 14 : 16;
    for (int i = 0; i < n; ++i) {
        char name[12];
        for (int k = 0; k < 11; ++k) name[k] = char('A' + rng() % 26);
        name[11] = 0;
        bool dir = rng() % 4 == 0;
        uint32_t cluster = 2 + rng() % 0x0FFFFFF0u;
        out.push_back(dir ? C::Dir(name, cluster, rng() % 3 == 0) : C::File(name, cluster, 1 + rng(), rng() % 3 == 0));
    }
    if (withOpenRun) {
        char name[12] = "ZZZZZZZZZZZ";
        auto ln = C::LongName("A run that never finds its end", name);
        out.insert(out.end(), ln.end() - 2, ln.end());
    }
    return out;
}

class ProfessionalFatBadInput : public ::testing::Test {
protected:
    StoreTestEnv env;
    TempDir disks{"deepfat-bad"};
    TempDir out{"deepfat-bad-out"};
    ScopedEnv diskDir{"ORVALE_DISK_DIR", disks.path()};
};
} // namespace

TEST_F(ProfessionalFatBadInput, DecoysAndLoopsDoNotHideTheRealVolume) {
    DeepFatImageCraft img(12000);
    std::mt19937 rng(5);
    auto a = RandomBytes(3000, 41), b = RandomBytes(9000, 42);
    img.PutDir(1000, 10, 0, {C::File("A       BIN", 30, 3000)});
    img.PutDir(1080, 20, 0, {C::File("B       BIN", 40, 9000), C::Dir("LOOPA      ", 100)});
    img.PutData(Sec(30), a);
    img.PutData(Sec(40), b);
    // Folders 100 and 101 name each other in ".."; 102 names itself; each holds a file.
    img.PutDir(Sec(100), 100, 101, {C::File("L1      TXT", 0, 0), C::Dir("LOOPB      ", 101)});
    img.PutDir(Sec(101), 101, 100, {C::File("L2      TXT", 0, 0)});
    img.PutDir(Sec(102), 102, 102, {C::File("L3      TXT", 0, 0)});
    // Files that point past the end of the disk.
    img.PutDir(Sec(103), 103, 0, {C::File("FAR     BIN", 0x0FFFFFF0, 100000), C::File("HUGE    BIN", 200, 0xFFFFFFFF)});
    // Decoys everywhere after the volume, with stray "." sectors among them.
    for (int i = 0; i < 300; ++i) {
        uint64_t s = 3000 + rng() % 8900;
        img.PutEntries(s, 0, DecoyEntries(rng, i % 5 == 0));
    }
    for (int i = 0; i < 60; ++i) {
        uint64_t s = 3000 + rng() % 8900;
        img.PutDir(s, 2 + rng() % 5000, rng() % 5000, {C::File("STRAY   TXT", 0, 0)});
    }
    ASSERT_TRUE(img.Write(disks.file("disk0")));

    CProfessionalFatRecovery engine;
    ASSERT_EQ(0, engine.Init(0, 0, 12000, L'C'));
    DeepFatImageScanStats st;
    ASSERT_EQ(0, DeepFatImageScan(engine, disks.file("disk0"), 0, 12000, &st));
    EXPECT_GT(st.u64TableSectors, 100u);
    EXPECT_EQ(0u, engine.GetHeldSectorCount());
    EXPECT_EQ(0u, engine.GetHeldFileCount());

    auto found = DeepFatImageListFiles(engine);
    EXPECT_GT(found.size(), 100u); // decoy entries are recorded too: a deep scan cannot tell them apart
    for (const auto& f : found) {
        ASSERT_EQ(3u, f.node.nFileSystemType);
        ASSERT_LT(std::strlen(f.node.szFileName), sizeof f.node.szFileName);
    }
    auto one = [&](const std::string& path) {
        auto hits = DeepFatImageFind(found, path);
        return hits.size() == 1 ? DeepFatImageRecover(engine, hits[0].node, out.file("x")) : std::string("missing");
    };
    EXPECT_EQ(Sha256Hex(a), one("LostFolder10/a.bin"));
    EXPECT_EQ(Sha256Hex(b), one("LostFolder20/b.bin"));
    // The looping folders are listed (under some folder); asking for their paths ends.
    for (const char* name : {"l1.txt", "l2.txt", "l3.txt"}) {
        bool seen = false;
        for (const auto& f : found) seen |= std::strcmp(f.node.szFileName, name) == 0;
        EXPECT_TRUE(seen) << name;
    }
    // Data past the end of the disk is an error, not a crash; what could be read stays.
    for (const char* name : {"far.bin", "huge.bin"}) {
        for (const auto& f : found) {
            if (std::strcmp(f.node.szFileName, name) != 0) continue;
            _FILE_NODE_ node = f.node;
            std::wstring target = Utf8ToWide(out.file(name).c_str());
            EXPECT_EQ(30, engine.SaveFileData(&node, const_cast<wchar_t*>(target.c_str()), 0)) << name;
        }
    }
}

TEST_F(ProfessionalFatBadInput, TruncatedImageAndMissingDevice) {
    DeepFatImageCraft img(1300);
    auto a = RandomBytes(3000, 51);
    img.PutDir(1000, 10, 0, {C::File("A       BIN", 30, 3000), C::File("CUT     BIN", 45, 40000)});
    img.PutDir(1080, 20, 0, {C::File("B       BIN", 40, 10)});
    img.PutData(Sec(30), a);
    ASSERT_TRUE(img.Write(disks.file("disk0")));

    // The area claims twice the sectors the image holds.
    CProfessionalFatRecovery engine;
    ASSERT_EQ(0, engine.Init(0, 0, 2600, L'C'));
    DeepFatImageScanStats st;
    ASSERT_EQ(0, DeepFatImageScan(engine, disks.file("disk0"), 0, 2600, &st));
    auto found = DeepFatImageListFiles(engine);
    auto hits = DeepFatImageFind(found, "LostFolder10/a.bin");
    ASSERT_EQ(1u, hits.size());
    EXPECT_EQ(Sha256Hex(a), DeepFatImageRecover(engine, hits[0].node, out.file("a")));
    hits = DeepFatImageFind(found, "LostFolder10/cut.bin");
    ASSERT_EQ(1u, hits.size());
    _FILE_NODE_ cut = hits[0].node;
    std::wstring target = Utf8ToWide(out.file("cut").c_str());
    EXPECT_EQ(30, engine.SaveFileData(&cut, const_cast<wchar_t*>(target.c_str()), 0));
    // The sectors that exist were written.
    EXPECT_EQ((1300 - Sec(45)) * 512, ReadFileBytes(out.file("cut")).size());

    // A new scan writes into a result folder of its own, as the deep scan does.
    CLogFileManager::GetInstance()->AddDirIndex();
    CProfessionalFatRecovery missing;
    EXPECT_NE(0, missing.Init(7, 0, 100, L'C'));
    EXPECT_EQ(0, missing.ClearProfessionalVec(nullptr));
    EXPECT_EQ(87, missing.InitVirtualDbrInfo());
    unsigned char sector[512] = {};
    std::memcpy(sector, C::Dir(".          ", 10).data(), 32);
    std::memcpy(sector + 32, C::Dir("..         ", 0).data(), 32);
    std::memcpy(sector + 64, C::File("A       BIN", 30, 3000).data(), 32);
    EXPECT_EQ(0, missing.ParseFatFileRecord(sector, 1000));
    EXPECT_EQ(87, missing.ParseFatFileRecord(nullptr, 1000));
    EXPECT_EQ(87, missing.ParseFDTFileRecord(nullptr, 1000));
    EXPECT_EQ(0, missing.DealProfessionalRecordVec());
    EXPECT_EQ(0, missing.GetLostFileCount()); // no geometry ever: the held file is dropped
}

TEST_F(ProfessionalFatBadInput, NullRecordsAndOversizedClusters) {
    CProfessionalFatRecovery engine;
    int calls = 0, lastRet = 0;
    auto cb = [](void* p, int, int ret) {
        auto* st = static_cast<std::pair<int*, int*>*>(p);
        ++*st->first;
        *st->second = ret;
        return 0;
    };
    std::pair<int*, int*> ctx{&calls, &lastRet};
    unsigned char buf[16];
    int len = sizeof buf;
    EXPECT_EQ(87, engine.PreView(nullptr, nullptr, buf, len, cb, &ctx));
    EXPECT_EQ(1, calls);
    EXPECT_EQ(87, lastRet);
    EXPECT_EQ(87, engine.SaveFileData(nullptr, nullptr, 0));

    _FILE_NODE_ node{};
    std::strcpy(node.szFileName, "big.txt");
    node.nClusterBytes = 0x6400001;
    node.u64FileSize = 10;
    len = sizeof buf;
    EXPECT_EQ(29, engine.PreView(&node, nullptr, buf, len, nullptr, nullptr));
    EXPECT_EQ(0, len);
    node.nClusterBytes = 0; // a record without a geometry
    len = sizeof buf;
    EXPECT_EQ(87, engine.PreView(&node, nullptr, buf, len, nullptr, nullptr));
    std::vector<_FILE_NODE_> kids;
    EXPECT_EQ(87, engine.GetChildrenFileNode(nullptr, 2, kids));
    EXPECT_EQ(0, engine.GetChildrenFileNode(&node, 2, kids)); // no store yet: nothing
    EXPECT_EQ(0, engine.GetLostFileCount());
}
