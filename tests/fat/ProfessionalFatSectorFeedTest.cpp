// The sector-feed test driver must offer every sector of an area once, in
// order, in 64 KiB reads, and honour steps that run past a chunk's end.
#include "fixtures/SectorFeed.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
// An image whose sector n begins with n as a 64-bit value, so every offered sector tells where it came from.
std::string MakeNumberedImage(const TempDir& dir, uint64_t sectors) {
    std::vector<uint8_t> img(sectors * 512, 0xAB);
    for (uint64_t n = 0; n < sectors; ++n) std::memcpy(&img[n * 512], &n, sizeof n);
    std::string path = dir.file("numbered.img");
    WriteFileBytes(path, img);
    return path;
}
uint64_t SectorTag(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
} // namespace

TEST(ProfessionalFatSectorFeed, OffersEverySectorOnceInOrderInWholeChunks) {
    TempDir dir("feed");
    // 300 sectors past an offset of 7: two full chunks of 128 and a tail of 44.
    std::string path = MakeNumberedImage(dir, 400);
    SectorFeed feed(path, 7, 300);

    std::vector<size_t> chunkSizes;
    std::vector<uint64_t> seen;
    SectorFeedStats st;
    ASSERT_EQ(0, feed.FeedChunks(
                     [&](const uint8_t* data, size_t bytes, uint64_t first) -> long long {
                         chunkSizes.push_back(bytes);
                         EXPECT_EQ(first, SectorTag(data));
                         return 0;
                     },
                     &st));
    EXPECT_EQ((std::vector<size_t>{65536, 65536, 44 * 512}), chunkSizes);

    ASSERT_EQ(0, feed.FeedSectors(
                     [&](const uint8_t* s, size_t left, uint64_t abs) -> unsigned {
                         EXPECT_GE(left, 512u);
                         EXPECT_EQ(abs, SectorTag(s));
                         seen.push_back(abs);
                         return 1;
                     },
                     &st));
    ASSERT_EQ(300u, seen.size());
    for (size_t i = 0; i < seen.size(); ++i) ASSERT_EQ(7 + i, seen[i]);
    EXPECT_EQ(300u, st.u64Sectors);
    EXPECT_EQ(3u, st.u64Chunks);
    EXPECT_FALSE(st.bStopped);
}

TEST(ProfessionalFatSectorFeed, StepsPastAChunkEndSkipTheConsumedSectors) {
    TempDir dir("feed");
    std::string path = MakeNumberedImage(dir, 512);
    SectorFeed feed(path);
    ASSERT_EQ(512u, feed.SectorCount());

    std::vector<uint64_t> seen;
    ASSERT_EQ(0, feed.FeedSectors([&](const uint8_t* s, size_t, uint64_t abs) -> unsigned {
        EXPECT_EQ(abs, SectorTag(s));
        seen.push_back(abs);
        // Sector 120 "consumes" 20 sectors: 120..139, crossing into the second chunk.
        return abs == 120 ? 20u : 1u;
    }));
    for (size_t i = 1; i < seen.size(); ++i) ASSERT_LT(seen[i - 1], seen[i]);
    EXPECT_EQ(seen.end(), std::find(seen.begin(), seen.end(), 125u));
    EXPECT_EQ(seen.end(), std::find(seen.begin(), seen.end(), 139u));
    EXPECT_NE(seen.end(), std::find(seen.begin(), seen.end(), 140u));
    EXPECT_EQ(512u - 19u, seen.size());
}

TEST(ProfessionalFatSectorFeed, StopAndMissingImage) {
    TempDir dir("feed");
    std::string path = MakeNumberedImage(dir, 256);
    unsigned calls = 0;
    SectorFeedStats st;
    ASSERT_EQ(0, SectorFeed(path).FeedSectors(
                     [&](const uint8_t*, size_t, uint64_t abs) -> unsigned {
                         ++calls;
                         return abs == 10 ? 0u : 1u;
                     },
                     &st));
    EXPECT_EQ(11u, calls);
    EXPECT_TRUE(st.bStopped);

    EXPECT_NE(0, SectorFeed(dir.file("absent.img"), 0, 10).FeedChunks([](const uint8_t*, size_t, uint64_t) -> long long {
        ADD_FAILURE() << "no chunk expected";
        return 0;
    }));
}
