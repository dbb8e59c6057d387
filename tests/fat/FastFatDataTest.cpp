// Data access of the quick FAT engine: folder saves, previews, short chains and
// the free-cluster map, on the shared FAT16/FAT32 scenario volumes.
#include "FastFatTestSupport.h"

#include "fixtures/FatImageScenario.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "platform/PathHelpers.h"
#include "platform/TextCodec.h"

#include <cstring>
#include <set>

namespace {

struct SaveLog {
    std::vector<std::string> order; // target paths in the order their first report came
    std::vector<int> errors;
};

int RecordSave(void* p, int, int, int error, wchar_t* path) {
    SaveLog* log = static_cast<SaveLog*>(p);
    std::string s = path ? WideToUtf8(path) : std::string();
    if (log->order.empty() || log->order.back() != s) log->order.push_back(s);
    log->errors.push_back(error);
    return 0;
}

std::vector<std::pair<int, int>> g_previewReports;
int RecordPreview(void*, int progress, int ret) {
    g_previewReports.push_back({progress, ret});
    return 0;
}

class FastFatData : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        if (!HaveTool("mkfs.vfat") || !HaveTool("mdeltree")) GTEST_SKIP() << "SKIPPED: mkfs.vfat or mtools missing";
        scenario = &FatImageScenario::Shared(GetParam());
        ASSERT_TRUE(scenario->ok());
    }
    // Opens and scans imagePath (the shared image when empty).
    void Scan(const std::string& imagePath = std::string()) {
        opened = OpenFastFat(imagePath.empty() ? scenario->image().path() : imagePath);
        ASSERT_EQ(opened.initResult, 0);
        ASSERT_EQ(opened.engine->ScanDevice(nullptr), 0);
        tree = FastFatTree(*opened.engine);
    }
    CFastFatRecovery& engine() { return *opened.engine; }

    StoreTestEnv env;
    TempDir dir{"fastfatdata"};
    FatImageScenario* scenario = nullptr;
    FastFatOpened opened;
    std::map<std::string, _FILE_NODE_> tree;
};

std::wstring W(const std::string& utf8) { return Utf8ToWide(utf8.c_str()); }

} // namespace

// A deleted folder comes back as a whole tree, one level after another, under the found names.
TEST_P(FastFatData, FolderSaveWritesTheTreeBreadthFirst) {
    Scan();
    SaveLog log;
    engine().InitCallBack(nullptr, RecordSave, &log, 100);
    const std::string target = dir.file("saved/Trip");
    ASSERT_EQ(MakeDirectories(dir.file("saved")), 0);
    std::wstring wtarget = W(target);
    int separators = 0;
    GetPathDirIndex(wtarget.c_str(), separators);
    // Trip lies in the root's list (level 0); its children are level 1.
    _FILE_NODE_ trip = tree.at("Trip");
    ASSERT_EQ(engine().SaveFileData(&trip, const_cast<wchar_t*>(wtarget.c_str()), separators - 1), 0);

    const std::vector<std::string> files = {"Beach archive.dat", "Day 1/Café 照片.txt", "Day 1/empty file.txt"};
    for (const std::string& f : files) {
        std::string expectedKey = FatScenarioAnsi("Trip/" + f);
        EXPECT_EQ(Sha256File(target + "/" + f), Sha256Hex(scenario->expected().at(expectedKey))) << f;
    }
    // The level-1 file is written before anything of level 2.
    ASSERT_GE(log.order.size(), 3u);
    EXPECT_EQ(log.order.front(), target + "/Beach archive.dat");
    for (int e : log.errors) EXPECT_EQ(e, 0);

    // A live folder holding deleted files saves just those.
    _FILE_NODE_ docs = tree.at("Docs");
    std::wstring wdocs = W(dir.file("saved/Docs"));
    ASSERT_EQ(engine().SaveFileData(&docs, const_cast<wchar_t*>(wdocs.c_str()), separators - 1), 0);
    EXPECT_EQ(Sha256File(dir.file("saved/Docs/Old draft.txt")),
              Sha256Hex(scenario->expected().at("Docs/Old draft.txt")));
    EXPECT_EQ(Sha256File(dir.file("saved/Docs/Nested/Deep note.txt")),
              Sha256Hex(scenario->expected().at("Docs/Nested/Deep note.txt")));
    EXPECT_FALSE(FileExists(dir.file("saved/Docs/Report final.docx")));
}

// An existing longer file at the target is replaced, not left with its old tail.
TEST_P(FastFatData, SavingOverALongerFileLeavesExactlyTheRecoveredBytes) {
    Scan();
    const std::string out = dir.file("over.bin");
    WriteFileBytes(out, RandomBytes(100000, 5));
    _FILE_NODE_ node = tree.at("Docs/Old draft.txt");
    std::wstring wout = W(out);
    ASSERT_EQ(engine().SaveFileData(&node, const_cast<wchar_t*>(wout.c_str()), 0), 0);
    EXPECT_EQ(Sha256File(out), Sha256Hex(scenario->expected().at("Docs/Old draft.txt")));

    // An empty file is created empty, with one final report.
    SaveLog log;
    engine().InitCallBack(nullptr, RecordSave, &log, 100);
    _FILE_NODE_ empty = tree.at("Empty deleted.txt");
    std::wstring wempty = W(dir.file("empty.txt"));
    ASSERT_EQ(engine().SaveFileData(&empty, const_cast<wchar_t*>(wempty.c_str()), 0), 0);
    EXPECT_TRUE(FileExists(dir.file("empty.txt")));
    EXPECT_TRUE(ReadFileBytes(dir.file("empty.txt")).empty());
    EXPECT_EQ(log.errors, std::vector<int>{0});
    EXPECT_EQ(engine().SaveFileData(nullptr, const_cast<wchar_t*>(wempty.c_str()), 0), 87);
}

TEST_P(FastFatData, PreviewOfPicturesGoesToATemporaryFileAndOfTheRestToTheBuffer) {
    Scan();
    // Text: the caller's buffer, at most its length.
    _FILE_NODE_ text = tree.at("Docs/Old draft.txt");
    const std::vector<uint8_t>& textData = scenario->expected().at("Docs/Old draft.txt");
    std::vector<unsigned char> buf(10240, 0xAA);
    wchar_t tmp[256] = {0};
    int len = 1000;
    g_previewReports.clear();
    ASSERT_EQ(engine().PreView(&text, tmp, buf.data(), len, RecordPreview, nullptr), 0);
    EXPECT_EQ(len, 1000);
    EXPECT_TRUE(std::equal(textData.begin(), textData.begin() + 1000, buf.begin()));
    EXPECT_EQ(buf[1000], 0xAA);
    EXPECT_EQ(tmp[0], 0);
    ASSERT_FALSE(g_previewReports.empty());
    EXPECT_EQ(g_previewReports.back(), std::make_pair(100, 0));
    len = 10240;
    ASSERT_EQ(engine().PreView(&text, tmp, buf.data(), len, nullptr, nullptr), 0);
    EXPECT_EQ(len, int(textData.size()));

    // A photo extension (here a fragment of one, "jp" of "*.jpg") selects the file.
    _FILE_NODE_ photo = tree.at("Several clusters.bin");
    std::strcpy(photo.szFileName, "Several clusters.jp");
    len = 10240;
    ASSERT_EQ(engine().PreView(&photo, tmp, buf.data(), len, nullptr, nullptr), 0);
    EXPECT_EQ(len, 0);
    const std::string tmpPath = WideToUtf8(tmp);
    EXPECT_EQ(tmpPath, GetScanLogDirPath() + "tmp.jp");
    EXPECT_EQ(Sha256File(tmpPath), Sha256Hex(scenario->expected().at("Several clusters.bin")));

    len = 10;
    EXPECT_EQ(engine().PreView(nullptr, tmp, buf.data(), len, nullptr, nullptr), 87);
    EXPECT_EQ(len, 0);
}

// A chain that ends before the file does gives a short file and a non-zero
// result, never the root area or another file's clusters as data.
TEST_P(FastFatData, ChainEndingEarlyGivesAShortFileAndAnError) {
    const std::string copy = dir.file("short.img");
    ASSERT_TRUE(scenario->CopyTo(copy));
    FatImageBuilder img(copy, GetParam());
    Scan(copy);
    const unsigned cb = scenario->ClusterBytes();
    const uint32_t endOfChain = GetParam() == 32 ? 0x0FFFFFFF : 0xFFFF;

    // Deleted file: its third cluster is taken by something else now.
    _FILE_NODE_ several = tree.at("Several clusters.bin");
    ASSERT_TRUE(img.SetFatEntry(several.nClusterNO + 2, endOfChain));
    FastFatOpened patched = OpenFastFat(copy);
    ASSERT_EQ(patched.initResult, 0);
    SaveLog log;
    patched.engine->InitCallBack(nullptr, RecordSave, &log, 100);
    std::wstring out = W(dir.file("several.bin"));
    EXPECT_EQ(patched.engine->SaveFileData(&several, const_cast<wchar_t*>(out.c_str()), 0),
              CFastFatRecovery::kChainEndedEarly);
    std::vector<uint8_t> got = ReadFileBytes(dir.file("several.bin"));
    const std::vector<uint8_t>& want = scenario->expected().at("Several clusters.bin");
    ASSERT_EQ(got.size(), size_t(2 * cb));
    EXPECT_TRUE(std::equal(got.begin(), got.end(), want.begin()));
    ASSERT_FALSE(log.errors.empty());
    EXPECT_EQ(log.errors.back(), CFastFatRecovery::kChainEndedEarly);

    // Live file whose chain was cut after its first cluster.
    _FILE_NODE_ inside = tree.at("Kept/Inside live.txt");
    ASSERT_TRUE(img.SetFatEntry(inside.nClusterNO, endOfChain));
    FastFatOpened again = OpenFastFat(copy);
    std::wstring out2 = W(dir.file("inside.txt"));
    EXPECT_EQ(again.engine->SaveFileData(&inside, const_cast<wchar_t*>(out2.c_str()), 0),
              CFastFatRecovery::kChainEndedEarly);
    std::vector<uint8_t> got2 = ReadFileBytes(dir.file("inside.txt"));
    const std::vector<uint8_t>& want2 = scenario->expected().at("Kept/Inside live.txt");
    ASSERT_EQ(got2.size(), size_t(cb));
    EXPECT_TRUE(std::equal(got2.begin(), got2.end(), want2.begin()));

    // The preview stops there too.
    std::vector<unsigned char> buf(10240);
    int len = 10240;
    wchar_t tmp[256] = {0};
    EXPECT_EQ(again.engine->PreView(&inside, tmp, buf.data(), len, nullptr, nullptr),
              CFastFatRecovery::kChainEndedEarly);
    EXPECT_EQ(len, int(cb));

    // A file whose entry lost its first cluster has no data to give.
    _FILE_NODE_ lost = several;
    lost.nClusterNO = 0;
    EXPECT_EQ(again.engine->SaveFileData(&lost, const_cast<wchar_t*>(out.c_str()), 0),
              CFastFatRecovery::kChainEndedEarly);
    EXPECT_TRUE(ReadFileBytes(dir.file("several.bin")).empty());
}

// The free runs from sector 0 cover exactly the clusters whose FAT entry is 0.
TEST_P(FastFatData, FreeRunsCoverExactlyTheFreeClusters) {
    Scan();
    ASSERT_EQ(engine().BuildBitMapInfo(), 0);
    const FAST_FAT_GEOMETRY& g = engine().Geometry();
    std::set<uint64_t> expected;
    const std::vector<uint32_t> fat = scenario->image().FatEntries();
    ASSERT_GE(fat.size(), size_t(g.nClusterCount) + 2);
    for (uint32_t c = 2; c < g.nClusterCount + 2; ++c)
        if (fat[c] == 0) expected.insert(g.nDataStartSector + uint64_t(c - 2) * g.nSectorsPerCluster);
    ASSERT_FALSE(expected.empty());

    std::set<uint64_t> covered;
    uint64_t sector = 0, count = 1;
    int runs = 0;
    while (true) {
        ASSERT_EQ(engine().GetUnUsedSectorCount(sector, count), 1);
        if (count == 0) break;
        ASSERT_LT(++runs, 100000);
        EXPECT_GE(sector, g.nDataStartSector);
        EXPECT_EQ((sector - g.nDataStartSector) % g.nSectorsPerCluster, 0u);
        for (uint64_t s = sector; s < sector + count; s += g.nSectorsPerCluster) covered.insert(s);
        sector += count;
    }
    EXPECT_EQ(covered, expected);
    EXPECT_LE(*covered.rbegin() + g.nSectorsPerCluster, g.u64TotalSectors);
}

INSTANTIATE_TEST_SUITE_P(Fat16And32, FastFatData, ::testing::Values(16, 32),
                         [](const ::testing::TestParamInfo<int>& i) { return "FAT" + std::to_string(i.param); });
