#include "platform/ByteView.h"

#include <gtest/gtest.h>

TEST(ByteView, ReadsInsideAndFlagsOutside) {
    const uint8_t data[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xFF};
    ByteView v(data, sizeof data);
    EXPECT_EQ(0x0201, v.le16(0));
    EXPECT_EQ(0x0102, v.be16(0));
    EXPECT_EQ(0x04030201u, v.le32(0));
    EXPECT_EQ(0x0807060504030201ull, v.le64(0));
    EXPECT_FALSE(v.bad());
    EXPECT_EQ(0u, v.le32(6));
    EXPECT_TRUE(v.bad());
    v.clearBad();
    EXPECT_EQ(-1, v.leSignedN(8, 1));
    EXPECT_EQ(0x030201u, v.leN(0, 3));
    EXPECT_EQ(nullptr, v.ptr(5, 5));
    EXPECT_TRUE(v.bad());
    EXPECT_EQ(4u, v.sub(5, 100).size()) << "a clipped sub-view keeps what is there";
    EXPECT_EQ(0u, v.sub(100, 1).size());
    EXPECT_FALSE(v.has(SIZE_MAX, 2)) << "offsets near the top must not wrap";
    EXPECT_FALSE(v.has(2, SIZE_MAX));
}
