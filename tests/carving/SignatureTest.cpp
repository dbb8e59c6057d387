// Signature tests on hand-made headers at the boundaries of each test, and on
// compound files and file-system sectors, read through a disk reader as the
// carver and the file-system engines read them.
#include "carving/CFileTypeJudge.h"

#include "fixtures/CarvingSamples.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "platform/CDiskReader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {
// The bytes at sector 0 of an image, with zeros after them; reader opened on it.
struct OnDisk {
    TempDir dir{"carving-sig"};
    CDiskReader reader;
    std::vector<uint8_t> image;

    explicit OnDisk(const std::vector<uint8_t>& bytes) : image(bytes) {
        image.resize((image.size() + 511) / 512 * 512 + 8 * 512, 0);
        WriteFileBytes(dir.file("img"), image);
        std::string p = dir.file("img");
        std::wstring w(p.begin(), p.end());
        EXPECT_EQ(0, reader.Init(w.c_str(), image.size() / 512));
    }
    EXTEND_NAME_TYPE Recognise() {
        CFileTypeJudge::m_pDiskReader = &reader;
        CFileTypeJudge::m_nBytesPerSector = 512;
        CFileTypeJudge::m_u64StartSector = CFileTypeJudge::m_u64CurrentSector = 0;
        return CFileTypeJudge::RecogniseFileStart(image.data(), 512);
    }
    bool Matches(const char* ext) {
        char e[16];
        std::snprintf(e, sizeof e, "%s", ext);
        return CFileTypeJudge::IsFileTypeMatching(image.data(), 512, e, &reader, 512, 0);
    }
};
} // namespace

TEST(SignatureEdges, GifIsVersion87aOr89aWithAScreen) {
    std::vector<unsigned char> good(512, 0), upper(512, 0), empty(512, 0);
    std::memcpy(good.data(), "GIF89a\x01\x00\x01\x00", 10);
    std::memcpy(upper.data(), "GIF89A\x01\x00\x01\x00", 10);
    std::memcpy(empty.data(), "GIF87a\x00\x00\x01\x00", 10);
    EXPECT_EQ(TYPE_UNKNOWN, CFileTypeJudge::IsGifType(empty.data(), 512)) << "no width";
    EXPECT_EQ(TYPE_GIF, CFileTypeJudge::IsGifType(good.data(), 512));
    EXPECT_EQ(TYPE_UNKNOWN, CFileTypeJudge::IsGifType(upper.data(), 512));
    EXPECT_EQ(TYPE_UNKNOWN, CFileTypeJudge::IsGifType(good.data(), 5)) << "below the minimum length";
    EXPECT_EQ(TYPE_UNKNOWN, CFileTypeJudge::IsGifType(nullptr, 512));
}

TEST(SignatureEdges, PeKindsFollowTheCharacteristics) {
    EXPECT_EQ(TYPE_EXE, CFileTypeJudge::IsPeType(MakePeFile(0x0102, 512).data(), 512));
    EXPECT_EQ(TYPE_DLL, CFileTypeJudge::IsPeType(MakePeFile(0x2102, 512).data(), 512));
    EXPECT_EQ(TYPE_SYS, CFileTypeJudge::IsPeType(MakePeFile(0x1102, 512).data(), 512));
    EXPECT_EQ(TYPE_UNKNOWN, CFileTypeJudge::IsPeType(MakePeFile(0x0100, 512).data(), 512)) << "not executable";
    EXPECT_EQ(TYPE_UNKNOWN, CFileTypeJudge::IsPeType(MakePeFile(0x0102, 512).data(), 511));
    auto far = MakePeFile(0x0102, 512);
    far[60] = 0xF0; // e_lfanew beyond 488
    far[61] = 0x01;
    EXPECT_EQ(TYPE_UNKNOWN, CFileTypeJudge::IsPeType(far.data(), 512));
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

TEST(SignatureEdges, WordMagicDecidesWithoutTheDirectory) {
    // The stream follows the header directly; wipe the directory sector.
    std::vector<uint8_t> doc = MakeCompoundFile("WordDocument", {0xEC, 0xA5, 0xC1, 0x00}, 4096, 0);
    uint32_t dirSector = doc[48] | (doc[49] << 8);
    std::memset(&doc[512 * (dirSector + 1)], 0, 512);
    EXPECT_EQ(TYPE_DOC, OnDisk(doc).Recognise());

    // Without the magic, the stream names decide; an unknown name is a plain compound file.
    EXPECT_EQ(TYPE_PPT, OnDisk(MakeCompoundFile("PowerPoint Document", {0x00, 0x00}, 4096, 0)).Recognise());
    EXPECT_EQ(TYPE_XLS, OnDisk(MakeCompoundFile("Workbook", {0x00, 0x00}, 4096, 0)).Recognise());
    OnDisk plain(MakeCompoundFile("Contents", {0x00, 0x00}, 4096, 0));
    EXPECT_EQ(TYPE_OLE, plain.Recognise());
    EXPECT_TRUE(plain.Matches("doc")) << "a compound file named .doc shows no other content";
    EXPECT_TRUE(plain.Matches("fla")) << "a compound file carries the Flash-source signature";
}

TEST(SignatureEdges, FileSystemSectorsAreKnown) {
    std::vector<uint8_t> s(512, 0);
    EXPECT_FALSE(CFileTypeJudge::IsFileSystemSector(s.data(), 512));
    std::memcpy(s.data(), "FILE0", 5);
    EXPECT_TRUE(CFileTypeJudge::IsFileSystemSector(s.data(), 512));
    std::memcpy(s.data(), "\xEB\x58\x90MSWIN4.1", 11);
    EXPECT_TRUE(CFileTypeJudge::IsFileSystemSector(s.data(), 512));
    // A directory sector: a volume label and one file entry.
    std::memset(s.data(), 0, 512);
    std::memcpy(&s[0], "DISK       \x08", 12);
    std::memcpy(&s[32], "README  TXT\x20", 12);
    const uint8_t date[] = {0x21, 0x5A}; // 2025-01-01
    for (int off : {16, 18, 24, 32 + 16, 32 + 18, 32 + 24}) std::memcpy(&s[off], date, 2);
    s[32 + 26] = 3;
    s[32 + 28] = 10;
    EXPECT_TRUE(CFileTypeJudge::IsFileSystemSector(s.data(), 512));
}
