// Signature tests at their edges; compound files read through a disk reader as the carver reads them;
// a deleted file is damaged only when its first bytes show other content, never for an unknown variant.
#include "carving/CFileTypeJudge.h"

#include "fixtures/CarvingSamples.h"
#include "fixtures/Le.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "platform/CDiskReader.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace {
// A sector starting with the literal's bytes, zeros inside it included.
template <size_t N> std::vector<uint8_t> Sector(const char (&head)[N]) {
    std::vector<uint8_t> s(512, 0);
    std::memcpy(s.data(), head, N - 1);
    return s;
}

// The first sector of a compound file recognised with the rest of it on disk behind a reader.
EXTEND_NAME_TYPE RecogniseOnDisk(std::vector<uint8_t> image, const char* matchAs = nullptr, bool* matches = nullptr) {
    TempDir dir("carving-sig");
    const std::string file = dir.file("img");
    image.resize(image.size() + 8 * 512, 0);
    WriteFileBytes(file, image);
    const std::wstring path(file.begin(), file.end());
    CDiskReader reader;
    EXPECT_EQ(0, reader.Init(path.c_str(), image.size() / 512));
    CFileTypeJudge::m_pDiskReader = &reader;
    CFileTypeJudge::m_nBytesPerSector = 512;
    CFileTypeJudge::m_u64StartSector = CFileTypeJudge::m_u64CurrentSector = 0;
    std::string ext = matchAs ? matchAs : "";
    if (matchAs) *matches = CFileTypeJudge::IsFileTypeMatching(image.data(), 512, &ext[0], &reader, 512, 0);
    return CFileTypeJudge::RecogniseFileStart(image.data(), 512);
}
} // namespace

TEST(SignatureEdges, HeadersAtTheEdgesOfEachTest) {
    std::vector<uint8_t> ico = Sector("\0\0\1\0\2\0"), badIco;
    for (auto [i, size, offset] : {std::array<uint32_t, 3>{0, 100, 38}, {1, 200, 138}})
        ico[6 + 16 * i] = ico[7 + 16 * i] = 16, PutLe32(ico, 14 + 16 * i, size), PutLe32(ico, 18 + 16 * i, offset);
    badIco = ico;
    PutLe32(badIco, 34, 139); // the second image does not follow the first
    auto farPe = MakePeFile(0x0102, 512);
    PutLe16(farPe, 60, 0x1F0); // e_lfanew beyond 488
    using Test = EXTEND_NAME_TYPE (*)(unsigned char*, int);
    const struct { const char* what; Test test; std::vector<uint8_t> bytes; int len; EXTEND_NAME_TYPE type; } cases[] = {
        {"gif", CFileTypeJudge::IsGifType, Sector("GIF89a\x01\x00\x01\x00"), 512, TYPE_GIF},
        {"gif upper case", CFileTypeJudge::IsGifType, Sector("GIF89A\x01\x00\x01\x00"), 512, TYPE_UNKNOWN},
        {"gif no width", CFileTypeJudge::IsGifType, Sector("GIF87a\0\0\1\0"), 512, TYPE_UNKNOWN},
        {"gif short", CFileTypeJudge::IsGifType, Sector("GIF89a\x01\x00\x01\x00"), 5, TYPE_UNKNOWN},
        {"exe", CFileTypeJudge::IsPeType, MakePeFile(0x0102, 512), 512, TYPE_EXE},
        {"dll", CFileTypeJudge::IsPeType, MakePeFile(0x2102, 512), 512, TYPE_DLL},
        {"sys", CFileTypeJudge::IsPeType, MakePeFile(0x1102, 512), 512, TYPE_SYS},
        {"pe not executable", CFileTypeJudge::IsPeType, MakePeFile(0x0100, 512), 512, TYPE_UNKNOWN},
        {"pe short", CFileTypeJudge::IsPeType, MakePeFile(0x0102, 512), 511, TYPE_UNKNOWN},
        {"pe header far", CFileTypeJudge::IsPeType, farPe, 512, TYPE_UNKNOWN},
        {"ico chained", CFileTypeJudge::IsIcoType, ico, 512, TYPE_ICO},
        {"ico gap", CFileTypeJudge::IsIcoType, badIco, 512, TYPE_UNKNOWN},
    };
    for (auto c : cases) EXPECT_EQ(c.type, c.test(c.bytes.data(), c.len)) << c.what;
    EXPECT_EQ(TYPE_UNKNOWN, CFileTypeJudge::IsGifType(nullptr, 512));
}

TEST(SignatureEdges, CompoundFilesByWordMagicOrStreamName) {
    // The Word stream follows the header directly: its magic decides with the directory wiped.
    std::vector<uint8_t> doc = MakeCompoundFile("WordDocument", {0xEC, 0xA5, 0xC1, 0x00}, 4096, 0);
    std::memset(&doc[512 * (GetLe(doc, 48, 4) + 1)], 0, 512);
    EXPECT_EQ(TYPE_DOC, RecogniseOnDisk(doc));
    EXPECT_EQ(TYPE_PPT, RecogniseOnDisk(MakeCompoundFile("PowerPoint Document", {0, 0}, 4096, 0)));
    EXPECT_EQ(TYPE_XLS, RecogniseOnDisk(MakeCompoundFile("Workbook", {0, 0}, 4096, 0)));
    for (const char* ext : {"doc", "fla"}) { // a plain compound file shows no other content, and carries the Flash-source signature
        bool matches = false;
        EXPECT_EQ(TYPE_OLE, RecogniseOnDisk(MakeCompoundFile("Contents", {0, 0}, 4096, 0), ext, &matches));
        EXPECT_TRUE(matches) << ext;
    }
}

TEST(SignatureEdges, FileSystemSectorsAreKnown) {
    // A directory sector: a volume label and one file entry dated 2025-01-01.
    std::vector<uint8_t> dir = Sector("DISK       \x08");
    std::memcpy(&dir[32], "README  TXT\x20", 12);
    for (int off : {16, 18, 24, 48, 50, 56}) PutLe16(dir, off, 0x5A21);
    dir[58] = 3, dir[60] = 10;
    for (auto [s, known] : {std::pair{Sector(""), false}, {Sector("FILE0"), true}, {Sector("\xEB\x58\x90MSWIN4.1"), true}, {dir, true}})
        EXPECT_EQ(known, CFileTypeJudge::IsFileSystemSector(s.data(), 512)) << s[0];
}

TEST(HealthJudgement, DamagedOnlyWhenTheFirstBytesShowOtherContent) {
    const auto zeros = Sector(""), png = Sector("\x89PNG\r\n\x1a\n\0\0\0\rIHDR"), frame = Sector("\xFF\xFB\x90\x64");
    const auto oddJpeg = Sector("\xFF\xD8\xFF\xE7\0\x04\0\0"); // a variant no test knows
    const auto oddBmp = Sector("BM\x10\0\0\0\0\0\0\0\x80\0\0\0\x99\0\0\0"), ole = Sector("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
    const auto zip = Sector("PK\3\4\x14\0\0\0\x08\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\1\0\0\0a");
    std::vector<uint8_t> utf16(512, 0);
    for (int i = 0; i < 200; ++i) utf16[2 * i] = 'a' + i % 26;
    const struct { const char* ext; const std::vector<uint8_t>& first; bool healthy; } kCases[] = {
        {"jpg", oddJpeg, true}, {"jpg", zeros, false}, {"jpg", png, false}, {"bmp", oddBmp, true}, {"bmp", png, false},
        {"mp3", frame, true}, {"mp3", zeros, false}, {"doc", ole, true}, {"docx", zip, true}, {"docx", ole, false},
        {"txt", utf16, true}, {"txt", zeros, true}, {"txt", png, false}, {"xyz", png, true}, {"PNG", png, true},
    };
    for (const auto& c : kCases) {
        std::string ext = c.ext;
        std::vector<uint8_t> first = c.first;
        EXPECT_EQ(c.healthy, CFileTypeJudge::IsFileTypeMatching(first.data(), 512, &ext[0], nullptr, 512, 0)) << ext << " case " << (&c - kCases);
    }
}
