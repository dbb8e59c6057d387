#include "platform/PathHelpers.h"
#include "platform/Portability.h"
#include "platform/TextCodec.h"

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
