// Signature tests on hand-made headers: the boundaries of each test.
#include "carving/CFileTypeJudge.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {
std::vector<unsigned char> Sector(const void* head, size_t n) {
    std::vector<unsigned char> s(512, 0);
    std::memcpy(s.data(), head, n);
    return s;
}

std::vector<unsigned char> PeHeader(uint16_t characteristics) {
    std::vector<unsigned char> s(512, 0);
    s[0] = 'M';
    s[1] = 'Z';
    s[60] = 0x80;
    std::memcpy(&s[0x80], "PE\0\0", 4);
    s[0x80 + 22] = characteristics & 0xFF;
    s[0x80 + 23] = characteristics >> 8;
    return s;
}
} // namespace

TEST(SignatureEdges, GifIsVersion87aOr89aWithAScreen) {
    auto good = Sector("GIF89a\x01\x00\x01\x00", 10);
    auto upper = Sector("GIF89A\x01\x00\x01\x00", 10);
    auto empty = Sector("GIF87a\x00\x00\x01\x00", 10);
    EXPECT_EQ(TYPE_UNKNOWN, CFileTypeJudge::IsGifType(empty.data(), 512)) << "no width";
    EXPECT_EQ(TYPE_GIF, CFileTypeJudge::IsGifType(good.data(), 512));
    EXPECT_EQ(TYPE_UNKNOWN, CFileTypeJudge::IsGifType(upper.data(), 512));
    EXPECT_EQ(TYPE_UNKNOWN, CFileTypeJudge::IsGifType(good.data(), 5)) << "below the minimum length";
    EXPECT_EQ(TYPE_UNKNOWN, CFileTypeJudge::IsGifType(nullptr, 512));
}

TEST(SignatureEdges, PeKindsFollowTheCharacteristics) {
    EXPECT_EQ(TYPE_EXE, CFileTypeJudge::IsPeType(PeHeader(0x0102).data(), 512));
    EXPECT_EQ(TYPE_DLL, CFileTypeJudge::IsPeType(PeHeader(0x2102).data(), 512));
    EXPECT_EQ(TYPE_SYS, CFileTypeJudge::IsPeType(PeHeader(0x1102).data(), 512));
    EXPECT_EQ(TYPE_UNKNOWN, CFileTypeJudge::IsPeType(PeHeader(0x0100).data(), 512)) << "not executable";
    auto far = PeHeader(0x0102);
    far[60] = 0xF0; // e_lfanew beyond 488
    far[61] = 0x01;
    EXPECT_EQ(TYPE_UNKNOWN, CFileTypeJudge::IsPeType(far.data(), 512));
    EXPECT_EQ(TYPE_UNKNOWN, CFileTypeJudge::IsPeType(PeHeader(0x0102).data(), 511));
}

TEST(SignatureEdges, ShortBuffersAreNeverReadPastTheirEnd) {
    // Every row's test on every length from 0 to 64 of a buffer that looks like
    // its own signature: under the sanitizer build this catches any over-read.
    for (const EXTEND_NAME_ROW* row = CFileTypeJudge::szExtendNameAndType; row->type != TYPE_UNKNOWN; ++row) {
        for (int len = 0; len <= 64; ++len) {
            std::vector<unsigned char> buf(len ? len : 1, 0);
            if (row->nLeadCount) buf[0] = static_cast<unsigned char>(row->szLeads[0]);
            EXTEND_NAME_TYPE t = row->test(len ? buf.data() : nullptr, len);
            if (len < 3) {
                EXPECT_EQ(TYPE_UNKNOWN, t) << row->szExtendName << " accepted " << len << " bytes";
            }
        }
    }
}

TEST(SignatureEdges, IconDirectoryMustChainItsImages) {
    std::vector<unsigned char> ico(512, 0);
    const unsigned char head[] = {0, 0, 1, 0, 2, 0};
    std::memcpy(ico.data(), head, 6);
    auto entry = [&](int i, uint32_t size, uint32_t offset) {
        unsigned char* e = &ico[6 + 16 * i];
        e[0] = 16;
        e[1] = 16;
        std::memcpy(e + 8, &size, 4);
        std::memcpy(e + 12, &offset, 4);
    };
    entry(0, 100, 38);
    entry(1, 200, 138);
    EXPECT_EQ(TYPE_ICO, CFileTypeJudge::IsIcoType(ico.data(), 512));
    entry(1, 200, 139);
    EXPECT_EQ(TYPE_UNKNOWN, CFileTypeJudge::IsIcoType(ico.data(), 512));
}

TEST(SignatureEdges, MemSearchBothWays) {
    unsigned char buf[] = "abcabcab";
    const unsigned char pat[] = "ab";
    EXPECT_EQ(buf, CFileTypeJudge::memmem(buf, 8, pat, 2));
    EXPECT_EQ(buf + 6, CFileTypeJudge::memrmem(buf, 8, pat, 2));
    EXPECT_EQ(nullptr, CFileTypeJudge::memmem(buf, 8, pat, 0));
    EXPECT_EQ(nullptr, CFileTypeJudge::memmem(buf, 1, pat, 2));
    EXPECT_EQ(nullptr, CFileTypeJudge::memrmem(buf, 8, reinterpret_cast<const unsigned char*>("zz"), 2));
}
