// Carving steps at their edges on hand-laid images; garbage carves to bounded results.
#include "carving/CFileTypeRecovery.h"
#include "fixtures/CarvingDriver.h"
#include "fixtures/CarvingSamples.h"
#include "fixtures/Le.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TestFiles.h"
#include "platform/TextCodec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <unistd.h>

namespace {
class CarvingEdges : public ::testing::Test {
protected:
    StoreTestEnv env;
    TempDir disks{"carving-edge"};
    ScopedEnv diskDir{"ORVALE_DISK_DIR", disks.path()};
    std::vector<uint8_t> image;
    CFileTypeRecovery engine;
    void Put(uint64_t sector, const std::vector<uint8_t>& bytes) {
        if (image.size() < sector * 512 + bytes.size()) image.resize((sector * 512 + bytes.size() + 511) / 512 * 512, 0);
        std::memcpy(&image[sector * 512], bytes.data(), bytes.size());
    }
    // The disk holds the laid sectors, then zeros up to sectors (a sparse file).
    uint64_t Open(uint64_t sectors) {
        image.resize(std::min<size_t>(image.size(), sectors * 512));
        WriteFileBytes(disks.file("disk0"), image);
        EXPECT_EQ(0, ::truncate(disks.file("disk0").c_str(), static_cast<off_t>(sectors * 512)));
        image.resize(sectors * 512, 0);
        EXPECT_EQ(0, engine.Init(0, 0, static_cast<long long>(sectors), L'C'));
        return sectors;
    }
    // One carving step at sector, as the deep scan makes it, on a copy of exactly that sector; its result code.
    int Step(uint64_t sector, uint64_t& used) {
        uint64_t found = 0;
        std::vector<uint8_t> s(image.begin() + sector * 512, image.begin() + sector * 512 + 512);
        return engine.ParseFileBuf(s.data(), 512, sector, 0, image.size() / 512, -1, &engine.GetDiskReader(), 512, used, found);
    }
    std::vector<_FILE_NODE_> Nodes() { // the root's nodes, sorted by name
        std::vector<_FILE_NODE_> nodes;
        EXPECT_EQ(0, engine.GetChildrenFileNode(nullptr, 0, nodes));
        return nodes;
    }
    uint64_t SizeAt(uint64_t sector) {
        for (auto& n : Nodes())
            if (n.u64RecordSector == sector) return n.u64FileSize;
        ADD_FAILURE() << "no node at " << sector;
        return 0;
    }
};

// A JPEG of the given size: a JFIF segment, a start of scan, entropy-coded bytes without markers, then EOI.
std::vector<uint8_t> JpegWithEndAt(size_t bytes) {
    std::vector<uint8_t> j = RandomBytes(bytes, 9);
    const uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0,
                            0xFF, 0xDA, 0x00, 0x08, 1, 1, 0, 0, 0x3F, 0};
    std::memcpy(j.data(), head, sizeof head);
    for (size_t i = sizeof head; i + 1 < bytes; ++i) j[i] = j[i] == 0xFF ? 0xFE : j[i];
    j[bytes - 2] = 0xFF, j[bytes - 1] = 0xD9;
    return j;
}
} // namespace

// A header's claim is cut at the area's end; the scan goes on inside a BMP; an executable is never carved.
TEST_F(CarvingEdges, HeaderLengthNeverRunsPastTheArea) {
    std::vector<uint8_t> wav(512, 0), bmp(512, 0);
    std::memcpy(&wav[0], "RIFF\xF0\xFF\xFF\x7FWAVEfmt ", 16);
    bmp[0] = 'B', bmp[1] = 'M', bmp[26] = 1, bmp[28] = 24; // planes, bits per pixel
    PutLe32(bmp, 2, 300u << 20), PutLe32(bmp, 10, 54), PutLe32(bmp, 14, 40), PutLe32(bmp, 18, 16), PutLe32(bmp, 22, 16);
    Put(7, MakePeFile(0x0102, 2048)), Put(100, bmp), Put(1000, wav);
    Open((200ull << 20) / 512); // long enough for the BMP cap to apply, short of its header's claim
    uint64_t used = 1;
    EXPECT_TRUE(Step(7, used) == 87 && used == 1);
    ASSERT_TRUE(Step(1000, used) == 0 && Step(100, used) == 0);
    EXPECT_EQ(1u, used) << "the scan continues at sector 101";
    EXPECT_EQ((200ull << 20) - 1000 * 512, SizeAt(1000));
    EXPECT_EQ((200ull << 20) - 100 * 512, SizeAt(100)) << "no more than the area holds";
    EXPECT_EQ(2, engine.GetLostFileCount());
}

TEST_F(CarvingEdges, TransportStreamIsFoundOnceAndKeepsItsLastPacket) {
    const CarvingSample& ts = GetCarvingSample("ts");
    if (ts.bytes.empty()) GTEST_SKIP() << "SKIPPED: ffmpeg is not installed";
    CFileTypeJudge::m_tsFileRangeVec.clear();
    // Three copies make one longer stream: the packet grid runs on unbroken.
    std::vector<uint8_t> stream;
    for (int i = 0; i < 3; ++i) stream.insert(stream.end(), ts.bytes.begin(), ts.bytes.end());
    Put(4, stream);
    EXPECT_EQ(0, RunCarvingPass(engine, engine.GetDiskReader(), 0, Open(4 + (stream.size() + 511) / 512 + 8)).rc);
    int streams = 0;
    for (auto& n : Nodes()) streams += std::strstr(n.szFileName, ".ts") != nullptr;
    EXPECT_TRUE(streams == 1 && SizeAt(4) == stream.size()) << streams;
    ASSERT_EQ(1u, CFileTypeJudge::m_tsFileRangeVec.size());
    EXPECT_EQ(4u, CFileTypeJudge::m_tsFileRangeVec[0].u64StartSector);
    // A packet start later in the claimed range is not a new stream: 47 sectors are 128 packets.
    uint64_t used = 0;
    EXPECT_TRUE(image[(4 + 47) * 512] == 'G' && Step(4 + 47, used) == 87);
}

TEST_F(CarvingEdges, CancelDuringReadAheadStopsTheStep) {
    auto jpg = JpegWithEndAt(3 * 512);
    jpg.back() = 0x00; // no end: the rule reads ahead through everything
    Put(1, jpg), Put(4, RandomBytes(300 * 512, 8)), Open(600);
    int calls = 0;
    engine.InitCallBack([](void* p, int, int, int, uint64_t, uint64_t, uint64_t, wchar_t*) { return ++*static_cast<int*>(p) >= 2 ? 1 : 0; },
                        nullptr, &calls, 90);
    uint64_t used = 77;
    EXPECT_EQ(-9527, Step(1, used));
    EXPECT_EQ(2, calls) << "the step ends at the first stop answer";
    EXPECT_EQ(77u, used) << "left alone";
    EXPECT_EQ(0, engine.GetLostFileCount());
    engine.InitCallBack(nullptr, nullptr, nullptr, 100);
}

TEST_F(CarvingEdges, ListingPreviewFailedSavesAndOpeningByPath) {
    std::vector<uint8_t> pdf(1000, 'p');
    std::memcpy(pdf.data(), "%PDF-1.4\n", 9), std::memcpy(&pdf[1000 - 6], "%%EOF\n", 6);
    // Old data after the PDF that reads like an update, and a later PDF's end: the JPEG between ends the PDF at its own %%EOF.
    const auto jpg = JpegWithEndAt(700);
    Put(2, pdf), image[2 * 512 + 1000] = '%', image[2 * 512 + 1001] = 'x';
    Put(6, jpg), Put(9, {'%', '%', 'E', 'O', 'F', '\n'});
    RunCarvingPass(engine, engine.GetDiskReader(), 0, Open(12));
    std::vector<_FILE_NODE_> root = Nodes();
    ASSERT_EQ(2u, root.size());
    EXPECT_TRUE(std::string(root[0].szFileName) == "2.pdf" && std::string(root[1].szFileName) == "6.jpg") << "sorted by name";
    EXPECT_EQ(1000u, root[0].u64FileSize);
    unsigned count = 0;
    EXPECT_EQ(0, engine.GetChildrenFileCount(nullptr, 0, count));
    EXPECT_EQ(2u, count);
    // A document previews into the caller's buffer, up to its length; a picture into tmp.jpg in the scan-log folder.
    unsigned char buf[10240];
    int len = 100;
    wchar_t tmp[256] = {0};
    EXPECT_EQ(0, engine.PreView(&root[0], tmp, buf, len, nullptr, nullptr));
    EXPECT_TRUE(len == 100 && std::memcmp(buf, pdf.data(), 100) == 0);
    len = 10240;
    EXPECT_EQ(0, engine.PreView(&root[1], tmp, buf, len, nullptr, nullptr));
    EXPECT_EQ(0, len) << "a picture comes as a file";
    EXPECT_EQ(env.logDir() + "tmp.jpg", WideToUtf8(tmp));
    EXPECT_EQ(jpg, ReadFileBytes(WideToUtf8(tmp)));
    // A save whose target cannot be created reports the error.
    std::wstring bad = L"/nonexistent-dir/x.pdf";
    EXPECT_NE(0, engine.SaveFileData(&root[0], &bad[0], 0));
    EXPECT_EQ(87, engine.SaveFileData(nullptr, &bad[0], 0));
    // Opened by path the whole image is the area: a bound of 0 would refuse every read.
    CFileTypeRecovery byPath;
    std::wstring path = Utf8ToWide(disks.file("disk0").c_str());
    ASSERT_EQ(0, byPath.Init(&path[0], L'C'));
    EXPECT_EQ(12u, byPath.GetDiskReader().GetSectorLimit());
    uint64_t used = 0, found = 0;
    EXPECT_EQ(0, byPath.ParseFileBuf(&image[6 * 512], 512, 6, 0, 12, -1, &byPath.GetDiskReader(), 512, used, found));
    EXPECT_EQ(1u, found);
}

// The boxes end a file exactly; a last box claiming far too much is bounded by the next file's start.
TEST_F(CarvingEdges, ContainerStructureEndsAFileButNeverPastTheNextStart) {
    const CarvingSample& mp4 = GetCarvingSample("mp4");
    if (mp4.bytes.empty()) GTEST_SKIP() << "SKIPPED: ffmpeg is missing";
    const uint64_t n = (mp4.bytes.size() + 511) / 512, second = 2 + n + 32;
    std::vector<uint8_t> broken = mp4.bytes;
    auto boxSize = [&](uint64_t at) { return uint64_t(broken[at]) << 24 | broken[at + 1] << 16 | broken[at + 2] << 8 | broken[at + 3]; };
    uint64_t last = 0;
    for (uint64_t off = 0; off + 8 <= broken.size() && boxSize(off) >= 8; off += boxSize(off)) last = off;
    broken[last] = 0x40; // a gigabyte-sized box
    for (auto [at, file, gap] : {std::tuple{uint64_t(2), &mp4.bytes, uint64_t(30)}, {second, &broken, uint64_t(3)}}) {
        Put(at, *file), Put(at + n, RandomBytes(gap * 512, 12)), Put(at + n + gap, JpegWithEndAt(700));
    }
    Open(second + n + 10);
    uint64_t used = 0;
    ASSERT_TRUE(Step(2, used) == 0 && Step(second, used) == 0);
    EXPECT_EQ(mp4.bytes.size(), SizeAt(2));
    EXPECT_EQ((n + 3) * 512, SizeAt(second));
}

// Random sectors, or the first sector of a JPEG, a zip or a compound file every 16 sectors with garbage after it.
class CarvingGarbage : public CarvingEdges, public ::testing::WithParamInterface<bool> {};

TEST_P(CarvingGarbage, CarvesToBoundedResults) {
    constexpr uint64_t kBytes = 64ull << 20;
    const bool laid = GetParam();
    std::vector<uint8_t> ole = MakeCompoundFile("WordDocument", {0xEC, 0xA5}, 1024, 0x00020906);
    for (int off : {44, 48, 68, 72, 76}) std::memset(&ole[off], 0xEE, 4); // absurd FAT counts and sector numbers
    const std::vector<uint8_t> starts[] = {{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0},
                                           {0x50, 0x4B, 0x03, 0x04, 0x14, 0x00, 0x00, 0x00, 0x08, 0x00},
                                           std::vector<uint8_t>(ole.begin(), ole.begin() + 512)};
    image = RandomBytes(kBytes, laid ? 77 : 2024);
    size_t count = 0;
    for (uint64_t at = 0; laid && at < kBytes; at += 16 * 512, ++count) Put(at / 512, starts[count % 3]);
    const CarvingPassResult pass = RunCarvingPass(engine, engine.GetDiskReader(), 0, Open(kBytes / 512));
    EXPECT_EQ(0, pass.rc);
    const std::vector<_FILE_NODE_> nodes = Nodes();
    for (const _FILE_NODE_& n : nodes) {
        EXPECT_LE(n.u64RecordSector * 512 + n.u64FileSize, kBytes) << n.szFileName << " runs past the image";
        EXPECT_GT(n.u64FileSize, 0u) << n.szFileName;
        // The zip fragments name entries running past their sector: no file start.
        if (std::strstr(n.szFileName, ".jpg")) { EXPECT_LE(n.u64FileSize, 32u * 512) << "a JPEG without an end stops at the next file start"; }
    }
    if (laid) EXPECT_GE(nodes.size(), count / 3) << "every JPEG fragment is a file start";
    else EXPECT_TRUE(pass.sectorsVisited == kBytes / 512 && nodes.size() < 50u) << "every sector tried, very few look like file starts";
}

INSTANTIATE_TEST_SUITE_P(Kinds, CarvingGarbage, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "LaidStarts" : "Random"; });
