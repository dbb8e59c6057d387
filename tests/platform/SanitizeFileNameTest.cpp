// Names found on a disk become one path component of a destination folder.
#include "platform/PathHelpers.h"
#include "platform/TextCodec.h"

#include <gtest/gtest.h>

#include <string>

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
