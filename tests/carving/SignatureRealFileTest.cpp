// The signature judge on the first sectors of real files, read from a disk image
// as the file-system engines and the carver read them.
#include "carving/CFileTypeJudge.h"

#include "fixtures/CarvingSamples.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "platform/CDiskReader.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {
// The file at sector 0 of an image, with zeros after it; reader opened on it.
struct OnDisk {
    TempDir dir{"carving-sig"};
    CDiskReader reader;
    std::vector<uint8_t> image;

    explicit OnDisk(const std::vector<uint8_t>& bytes, size_t extraSectors = 8) {
        image = bytes;
        image.resize((image.size() + 511) / 512 * 512 + extraSectors * 512, 0);
        WriteFileBytes(dir.file("img"), image);
        std::string p = dir.file("img");
        std::wstring w(p.begin(), p.end());
        EXPECT_EQ(0, reader.Init(w.c_str(), image.size() / 512));
    }
    EXTEND_NAME_TYPE Recognise(uint64_t sector = 0) {
        CFileTypeJudge::m_pDiskReader = &reader;
        CFileTypeJudge::m_nBytesPerSector = 512;
        CFileTypeJudge::m_u64StartSector = CFileTypeJudge::m_u64CurrentSector = sector;
        return CFileTypeJudge::RecogniseFileStart(&image[sector * 512], 512);
    }
    bool Matches(const char* ext) {
        char e[16];
        std::snprintf(e, sizeof e, "%s", ext);
        return CFileTypeJudge::IsFileTypeMatching(image.data(), 512, e, &reader, 512, 0);
    }
};

const struct {
    const char* sample;
    EXTEND_NAME_TYPE type;
    const char* ext;
} kTyped[] = {
    {"jfif.jpg", TYPE_JPG, "jpg"}, {"exif.jpg", TYPE_JPG, "jpeg"}, {"png", TYPE_PNG, "png"},
    {"gif", TYPE_GIF, "gif"},      {"bmp", TYPE_BMP, "bmp"},       {"tif", TYPE_TIF, "tiff"},
    {"pdf", TYPE_PDF, "pdf"},      {"zip", TYPE_ZIP, "zip"},       {"docx", TYPE_DOCX, "docx"},
    {"xlsx", TYPE_XLSX, "xlsx"},   {"pptx", TYPE_PPTX, "pptx"},    {"doc", TYPE_DOC, "doc"},
    {"xls", TYPE_XLS, "xls"},      {"ole", TYPE_OLE, "ole"},       {"mp3", TYPE_MP3, "mp3"},
    {"wav", TYPE_WAV, "wav"},      {"avi", TYPE_AVI, "avi"},       {"mp4", TYPE_MP4, "mp4"},
    {"mkv", TYPE_MKV, "mkv"},      {"flv", TYPE_FLV, "flv"},       {"mpg", TYPE_MPG, "mpg"},
    {"ts", TYPE_TS, "ts"},         {"7z", TYPE_7Z, "7z"},          {"rar", TYPE_RAR, "rar"},
    {"gz", TYPE_GZIP, "gz"},       {"db", TYPE_DB, "db"},          {"mid", TYPE_MID, "mid"},
    {"ico", TYPE_ICO, "ico"},      {"ttf", TYPE_TTF, "ttf"},       {"cab", TYPE_CAB, "cab"},
    {"exe", TYPE_EXE, "exe"},      {"dll", TYPE_DLL, "dll"},       {"dqt.jpg", TYPE_JPG, "jpg"},
    {"adobe.jpg", TYPE_JPG, "jpg"}, {"progressive.jpg", TYPE_JPG, "jpg"}, {"os2.bmp", TYPE_BMP, "bmp"},
    {"v5.bmp", TYPE_BMP, "bmp"},   {"bare.mp3", TYPE_MP3, "mp3"},  {"ogg", TYPE_OGG, "ogg"},
    {"mov", TYPE_MOV, "mov"},      {"odt", TYPE_ODT, "odt"},       {"epub", TYPE_EPUB, "epub"},
    {"jar", TYPE_JAR, "jar"},      {"rar5", TYPE_RAR, "rar"},      {"name.gz", TYPE_GZIP, "gz"},
    {"txt", TYPE_TXT, "txt"},      {"html", TYPE_HTML, "html"},    {"xml", TYPE_XML, "xml"},
    {"json", TYPE_JSON, "json"},   {"csv", TYPE_CSV, "csv"},       {"sh", TYPE_SH, "sh"},
};
} // namespace

TEST(SignatureRealFiles, EachKindIsTypedAsTheTableSays) {
    int checked = 0;
    for (const auto& k : kTyped) {
        const CarvingSample& s = GetCarvingSample(k.sample);
        if (s.bytes.empty()) {
            std::printf("[ skipped  ] %s: its tool is missing\n", k.sample);
            continue;
        }
        SCOPED_TRACE(k.sample);
        OnDisk d(s.bytes);
        EXPECT_EQ(k.type, d.Recognise());
        EXPECT_TRUE(d.Matches(k.ext));
        ++checked;
    }
    EXPECT_GE(checked, 25);
}

TEST(SignatureRealFiles, ZipThatIsNotOfficeIsAZip) {
    const CarvingSample& zip = GetCarvingSample("zip");
    if (zip.bytes.empty()) GTEST_SKIP() << "SKIPPED: zip is missing";
    OnDisk d(zip.bytes);
    EXPECT_EQ(TYPE_UNKNOWN, CFileTypeJudge::IsOffice2007Type(d.image.data(), 512));
    EXPECT_EQ(TYPE_ZIP, d.Recognise());
    EXPECT_TRUE(d.Matches("docx")) << "a zip named .docx shows no other content";
    EXPECT_FALSE(d.Matches("pdf"));
}

TEST(SignatureRealFiles, WordMagicDecidesWithoutTheDirectory) {
    // The stream follows the header directly; wipe the directory sector.
    std::vector<uint8_t> doc = MakeCompoundFile("WordDocument", {0xEC, 0xA5, 0xC1, 0x00}, 4096, 0);
    uint32_t dirSector = doc[48] | (doc[49] << 8);
    std::memset(&doc[512 * (dirSector + 1)], 0, 512);
    OnDisk d(doc);
    EXPECT_EQ(TYPE_DOC, d.Recognise());

    // Without the magic, the stream names decide; an unknown name is a plain compound file.
    OnDisk byName(MakeCompoundFile("PowerPoint Document", {0x00, 0x00}, 4096, 0));
    EXPECT_EQ(TYPE_PPT, byName.Recognise());
    OnDisk book(MakeCompoundFile("Workbook", {0x00, 0x00}, 4096, 0));
    EXPECT_EQ(TYPE_XLS, book.Recognise());
    OnDisk plain(MakeCompoundFile("Contents", {0x00, 0x00}, 4096, 0));
    EXPECT_EQ(TYPE_OLE, plain.Recognise());
    EXPECT_TRUE(plain.Matches("doc")) << "a compound file named .doc shows no other content";
    EXPECT_TRUE(plain.Matches("fla")) << "a compound file carries the Flash-source signature";
}

TEST(SignatureRealFiles, TransportStreamThatStartedEarlierIsNotANewFile) {
    const CarvingSample& ts = GetCarvingSample("ts");
    if (ts.bytes.empty()) GTEST_SKIP() << "SKIPPED: ffmpeg is missing";
    std::vector<uint8_t> stream;
    for (int i = 0; i < 3; ++i) stream.insert(stream.end(), ts.bytes.begin(), ts.bytes.end());
    OnDisk d(stream);
    CFileTypeJudge::m_tsFileRangeVec.clear();
    // 47 sectors in, a packet starts a sector again; the sector before holds packet starts.
    CFileTypeJudge::m_bIsNeedCheckTsFileRange = 1;
    EXPECT_EQ(TYPE_UNKNOWN, d.Recognise(47));
    CFileTypeJudge::m_bIsNeedCheckTsFileRange = 0;
    EXPECT_EQ(TYPE_TS, d.Recognise(47));
    CFileTypeJudge::m_bIsNeedCheckTsFileRange = 1;
    EXPECT_EQ(TYPE_TS, d.Recognise(0));
    CFileTypeJudge::m_tsFileRangeVec.push_back({0, 10});
    EXPECT_EQ(TYPE_UNKNOWN, d.Recognise(0)) << "inside a stream already carved";
    CFileTypeJudge::m_tsFileRangeVec.clear();
}

TEST(SignatureRealFiles, FileSystemSectorsAreKnown) {
    std::vector<uint8_t> s(512, 0);
    std::memcpy(s.data(), "FILE0", 5);
    EXPECT_TRUE(CFileTypeJudge::IsFileSystemSector(s.data(), 512));
    std::memset(s.data(), 0, 512);
    const uint8_t boot[] = {0xEB, 0x58, 0x90, 'M', 'S', 'W', 'I', 'N', '4', '.', '1'};
    std::memcpy(s.data(), boot, sizeof boot);
    EXPECT_TRUE(CFileTypeJudge::IsFileSystemSector(s.data(), 512));
    std::memset(s.data(), 0, 512);
    EXPECT_FALSE(CFileTypeJudge::IsFileSystemSector(s.data(), 512));
    // A directory sector: a volume label and one file entry.
    std::memcpy(&s[0], "DISK       \x08", 12);
    std::memcpy(&s[32], "README  TXT\x20", 12);
    const uint8_t date[] = {0x21, 0x5A}; // 2025-01-01
    for (int off : {16, 18, 24, 32 + 16, 32 + 18, 32 + 24}) std::memcpy(&s[off], date, 2);
    s[32 + 26] = 3;
    s[32 + 28] = 10;
    EXPECT_TRUE(CFileTypeJudge::IsFileSystemSector(s.data(), 512));
}
