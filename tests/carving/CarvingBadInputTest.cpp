// Carving garbage: random sectors and headers with nothing sensible after them
// must give bounded results, never a crash or an endless read.
#include "carving/CFileTypeRecovery.h"

#include "fixtures/CarvingDriver.h"
#include "fixtures/CarvingSamples.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {
constexpr uint64_t kImageBytes = 64ull << 20;

struct Carved {
    CarvingPassResult pass;
    std::vector<_FILE_NODE_> nodes;
};

Carved CarveImage(const std::vector<uint8_t>& image) {
    TempDir disks("carving-bad");
    ScopedEnv diskDir("ORVALE_DISK_DIR", disks.path());
    WriteFileBytes(disks.file("disk0"), image);
    CFileTypeRecovery engine;
    const uint64_t sectors = image.size() / 512;
    EXPECT_EQ(0, engine.Init(0, 0, static_cast<long long>(sectors), L'C'));
    Carved c;
    c.pass = RunCarvingPass(engine, engine.GetDiskReader(), 0, sectors);
    engine.GetChildrenFileNode(nullptr, 0, c.nodes);
    return c;
}

// Whatever was found lies inside the image and holds data.
void ExpectBounded(const Carved& c) {
    EXPECT_EQ(0, c.pass.rc);
    for (const _FILE_NODE_& n : c.nodes) {
        EXPECT_LE(n.u64RecordSector * 512 + n.u64FileSize, kImageBytes) << n.szFileName << " runs past the image";
        EXPECT_GT(n.u64FileSize, 0u) << n.szFileName;
    }
}
} // namespace

TEST(CarvingBadInput, GarbageCarvesToBoundedResults) {
    StoreTestEnv env;
    Carved random = CarveImage(RandomBytes(kImageBytes, 2024));
    ExpectBounded(random);
    EXPECT_EQ(kImageBytes / 512, random.pass.sectorsVisited) << "nothing real to skip: every sector is tried";
    EXPECT_LT(random.nodes.size(), 50u) << "random data looks like very few file starts";

    // Every 16 sectors the first sector of a JPEG, a zip or a compound file, then garbage.
    std::vector<uint8_t> image = RandomBytes(kImageBytes, 77);
    const uint8_t jpeg[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0};
    const uint8_t zip[] = {0x50, 0x4B, 0x03, 0x04, 0x14, 0x00, 0x00, 0x00, 0x08, 0x00};
    std::vector<uint8_t> ole = MakeCompoundFile("WordDocument", {0xEC, 0xA5}, 1024, 0x00020906);
    // A corrupt header: absurd FAT counts and sector numbers.
    for (int off : {44, 48, 68, 72, 76}) std::memset(&ole[off], 0xEE, 4);
    size_t count = 0;
    for (uint64_t at = 0; at + 512 <= image.size(); at += 16 * 512, ++count) {
        if (count % 3 == 0) std::memcpy(&image[at], jpeg, sizeof jpeg);
        else if (count % 3 == 1) std::memcpy(&image[at], zip, sizeof zip);
        else std::memcpy(&image[at], ole.data(), 512);
    }
    Carved c = CarveImage(image);
    ExpectBounded(c);
    EXPECT_GE(c.nodes.size(), count / 3) << "every JPEG fragment is a file start";
    // The zip fragments name entries running past their sector: no file start.
    for (const _FILE_NODE_& n : c.nodes)
        if (std::strstr(n.szFileName, ".jpg")) {
            EXPECT_LE(n.u64FileSize, 32u * 512) << "a JPEG without an end stops at the next file start";
        }
}
