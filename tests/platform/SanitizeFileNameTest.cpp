// Names found on a disk become one path component of a destination folder.
#include "platform/PathHelpers.h"
#include "platform/TextCodec.h"

#include <gtest/gtest.h>

#include <string>

namespace {
std::string Ansi(const std::string& utf8) { return Unicode2Ansi(Utf8ToWide(utf8.c_str()).c_str()); }
std::string Utf8(const std::string& ansi) { return WideToUtf8(Ansi2Unicode(ansi.c_str()).c_str()); }
} // namespace

TEST(SanitizeFileName, PathCharactersAndDotNamesCannotLeaveTheFolder) {
    EXPECT_EQ(".._.._escape.txt", SanitizeFileName("../../escape.txt"));
    EXPECT_EQ("_etc_passwd", SanitizeFileName("/etc/passwd"));
    EXPECT_EQ("unnamed", SanitizeFileName("."));
    EXPECT_EQ("unnamed", SanitizeFileName(".."));
    EXPECT_EQ("unnamed", SanitizeFileName(""));
    EXPECT_EQ("unnamed", SanitizeFileName(nullptr));
    EXPECT_EQ("...", SanitizeFileName("..."));
    EXPECT_EQ("plain name.txt", SanitizeFileName("plain name.txt"));
}

TEST(SanitizeFileName, LongNamesAreCutAtACharacterBoundaryKeepingTheExtension) {
    std::string wide;
    for (int i = 0; i < 120; ++i) wide += "\xE7\x85\xA7";  // three bytes in UTF-8, two in the 8-bit code
    const std::string cut = Utf8(SanitizeFileName(Ansi(wide + ".jpeg").c_str()));
    EXPECT_LE(cut.size(), 255u);
    EXPECT_GT(cut.size(), 255u - 3);
    EXPECT_EQ(".jpeg", cut.substr(cut.size() - 5));
    EXPECT_EQ(0u, (cut.size() - 5) % 3) << "a character was split";
    EXPECT_EQ(wide.substr(0, cut.size() - 5), cut.substr(0, cut.size() - 5));

    // No usable extension: the name is simply cut.
    const std::string plain(300, 'a');
    EXPECT_EQ(std::string(255, 'a'), SanitizeFileName(plain.c_str()));
    // A name of exactly the limit stays as it is.
    const std::string exact(251, 'b');
    EXPECT_EQ(exact + ".txt", SanitizeFileName((exact + ".txt").c_str()));
}
