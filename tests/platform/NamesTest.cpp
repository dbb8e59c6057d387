// Names and paths: conversions, extensions, never-overwrite names, and names made safe to save under.
#include "platform/PathHelpers.h"
#include "platform/Portability.h"
#include "platform/TextCodec.h"
#include "platform/TextHelpers.h"

#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(PathHelpers, ExtensionsAndFolderDepth) {
    // {name, result, extension}: the last dot counts, a name without one is refused and left alone.
    const struct {
        const char* name;
        int rc;
        const char* ext;
    } exts[] = {{"archive.tar.gz", 0, "gz"}, {".profile", 0, "profile"}, {"trailing.", 0, ""}, {"README", 87, "untouched"}};
    for (const auto& e : exts) {
        char ext[64] = "untouched";
        EXPECT_EQ(e.rc, GetExtendName(e.name, ext)) << e.name;
        EXPECT_STREQ(e.ext, ext) << e.name;
    }

    int count = -1;
    for (const auto& [path, n] : {std::make_pair(L"/Users/x/out/", 3), std::make_pair(L"/", 0), std::make_pair(L"C:\\a\\b", 2)}) {
        GetPathDirIndex(path, count);
        EXPECT_EQ(n, count);
    }
}

TEST(PathHelpers, GetRealFileNameNeverOverwrites) {
    TempDir dir;
    wchar_t out[512];
    // {existing files, asked for, given}: the number goes before the last dot of the name, never into a folder's;
    // an 8-bit name is checked under its UTF-8 name on disk.
    const struct {
        std::vector<std::string> existing;
        std::string asked, given;
    } cases[] = {{{}, "a.jpg", "a.jpg"},
                 {{"a.jpg"}, "a.jpg", "a(1).jpg"},
                 {{"a(1).jpg"}, "a.jpg", "a(2).jpg"},
                 {{"readme"}, "readme", "readme(1)"},
                 {{"a.b.jpg"}, "a.b.jpg", "a.b(1).jpg"},
                 {{"x.d/readme"}, "x.d/readme", "x.d/readme(1)"},
                 {{"\xE4\xB8\xAD.txt"}, "\xD6\xD0.txt", "\xE4\xB8\xAD(1).txt"}};
    for (const auto& c : cases) {
        for (const std::string& f : c.existing) {
            ASSERT_EQ(0, RunCommand("mkdir -p \"$(dirname " + ShellQuote(dir.file(f)) + ")\""));
            WriteFileBytes(dir.file(f), {1});
        }
        GetRealFileName(dir.file(c.asked).c_str(), out, 512);
        EXPECT_EQ(dir.file(c.given), WideToUtf8(out)) << c.asked;
    }
}

TEST(Portability, FreeSpaceWalksUpToAnExistingFolder) {
    TempDir dir;
    std::string missing = dir.path() + "/not/yet/there";
    std::vector<char> buf(missing.begin(), missing.end());
    buf.push_back(0);
    unsigned high = 9, low = 9;
    EXPECT_EQ(0, rsb_getFreeSpace(buf.data(), 0, &high, &low));
    EXPECT_GT((uint64_t(high) << 32) | low, 0u);
    EXPECT_EQ(dir.path(), std::string(buf.data()));
    char relative[] = "relative/path";
    EXPECT_EQ(0, rsb_getFreeSpace(relative, 0, &high, &low));
    EXPECT_EQ(0u, high | low);
}

// Names found on a disk become one path component of a destination folder.
TEST(SanitizeFileName, PathCharactersAndDotNamesCannotLeaveTheFolder) {
    const char* cases[][2] = {{"../../escape.txt", ".._.._escape.txt"}, {"/etc/passwd", "_etc_passwd"}, {".", "unnamed"},
                              {"..", "unnamed"}, {"", "unnamed"}, {"...", "..."}, {"plain name.txt", "plain name.txt"}};
    for (const auto& c : cases) EXPECT_EQ(c[1], SanitizeFileName(c[0])) << c[0];
    EXPECT_EQ("unnamed", SanitizeFileName(nullptr));
}

TEST(SanitizeFileName, LongNamesAreCutAtACharacterBoundaryKeepingTheExtension) {
    std::string wide;
    for (int i = 0; i < 120; ++i) wide += "\xE7\x85\xA7"; // three bytes in UTF-8, two in the 8-bit code
    const std::string ansi = Unicode2Ansi(Utf8ToWide((wide + ".jpeg").c_str()).c_str());
    const std::string cut = WideToUtf8(Ansi2Unicode(SanitizeFileName(ansi.c_str()).c_str()).c_str());
    EXPECT_LE(cut.size(), 255u);
    EXPECT_GT(cut.size(), 255u - 3);
    EXPECT_EQ(".jpeg", cut.substr(cut.size() - 5));
    EXPECT_EQ(wide.substr(0, cut.size() - 5), cut.substr(0, cut.size() - 5)) << "a character was split";
    EXPECT_EQ(std::string(255, 'a'), SanitizeFileName(std::string(300, 'a').c_str())) << "no extension: simply cut";
    const std::string exact = std::string(251, 'b') + ".txt";
    EXPECT_EQ(exact, SanitizeFileName(exact.c_str()));
}

TEST(TextCodec, RoundTripsAndGb2312Bytes) {
    for (const wchar_t* name : {L"Été à Noël — façade.jpg", L"Пример файла.docx", L"日本語のファイル名.txt", L"中文名字.png",
                                L"party 🎉 photo.jpeg", L""})
        EXPECT_EQ(std::wstring(name), Ansi2Unicode(Unicode2Ansi(name).c_str())) << Unicode2Ansi(name);
    EXPECT_EQ(std::string("\xD6\xD0"), Unicode2Ansi(L"中")) << "GB2312 characters keep their bytes";
    EXPECT_EQ(std::wstring(L"中文"), Ansi2Unicode("\xD6\xD0\xCE\xC4"));
    EXPECT_EQ(std::string("caf\xC3\xA9 \xF0\x9F\x8E\x89"), WideToUtf8(L"café 🎉"));
    EXPECT_EQ(std::wstring(L"café 🎉"), Utf8ToWide("caf\xC3\xA9 \xF0\x9F\x8E\x89"));
}

TEST(TextCodec, BoundedConversionsNeverSplitACharacter) {
    char buf[6];
    std::memset(buf, 'Z', sizeof buf);
    EXPECT_EQ(0, Unicode2Ansi(L"ab中🎉", buf, sizeof buf)); // 🎉 takes 4 bytes: no room
    EXPECT_STREQ("ab\xD6\xD0", buf);
    char one[2];
    Unicode2Ansi(L"中", one, sizeof one);
    EXPECT_STREQ("", one) << "half a character is never written";
    wchar_t out[4];
    EXPECT_EQ(0, Ansi2Unicode("abcdef", out, 4));
    EXPECT_EQ(std::wstring(L"abc"), out);
    EXPECT_EQ(std::wstring(L"a\xFFFD" L"b"), Ansi2Unicode("a\xFF" "b")) << "broken bytes are replaced";
    EXPECT_EQ(std::wstring(L"x\xFFFD"), Ansi2Unicode("x\xD6")) << "a truncated pair is replaced, not dropped";

    const uint8_t utf16[] = {'A', 0, 0x2D, 0x4E, 0x3C, 0xD8, 0x89, 0xDF, 0x00, 0xD8}; // A 中 🎉 and a lone surrogate
    EXPECT_EQ(std::wstring(L"A中🎉\xFFFD"), Utf16leToWide(utf16, 5));
    char narrow[16];
    Utf16leToAnsi(utf16, 2, narrow, sizeof narrow);
    EXPECT_STREQ("A\xD6\xD0", narrow);
}

TEST(TextHelpers, LowerCaseLeavesOtherCharacters) {
    char s[] = "ABC.Jpg-Ü";
    EXPECT_STREQ("abc.jpg-Ü", GetCharLowerA(s));
    wchar_t w[] = L"MiXeD É";
    EXPECT_STREQ(L"mixed É", GetCharLowerW(w));
}
