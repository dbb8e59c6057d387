// The folded CRC against zlib's over every tail length and alignment, in pieces.
#include "platform/Crc32.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>
#include <zlib.h>

TEST(Crc32, SameAsZlibForEveryLengthAlignmentAndSplit) {
    std::mt19937 rng(7);
    std::vector<unsigned char> data(5000);
    for (auto& b : data) b = static_cast<unsigned char>(rng());
    for (size_t len : {0, 1, 15, 16, 63, 64, 65, 79, 80, 127, 128, 129, 200, 1000, 4093}) {
        for (size_t at : {0, 1, 7}) {
            const unsigned char* p = data.data() + at;
            const uint32_t want = static_cast<uint32_t>(::crc32(0, p, static_cast<uInt>(len)));
            EXPECT_EQ(want, Crc32(0, p, len)) << len << " at " << at;
            const size_t half = len / 3;
            EXPECT_EQ(want, Crc32(Crc32(0, p, half), p + half, len - half)) << len << " split";
        }
    }
}
