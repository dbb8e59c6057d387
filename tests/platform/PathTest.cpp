#include "platform/PathHelpers.h"
#include "platform/Portability.h"
#include "platform/TextCodec.h"

#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <unistd.h>

TEST(PathHelpers, GetExtendName) {
    char ext[64] = "untouched";
    EXPECT_EQ(0, GetExtendName("archive.tar.gz", ext));
    EXPECT_STREQ("gz", ext);
    EXPECT_EQ(0, GetExtendName(".profile", ext));
    EXPECT_STREQ("profile", ext);
    EXPECT_EQ(0, GetExtendName("trailing.", ext));
    EXPECT_STREQ("", ext);
    std::strcpy(ext, "untouched");
    EXPECT_EQ(87, GetExtendName("README", ext));
    EXPECT_STREQ("untouched", ext);
    EXPECT_EQ(87, GetExtendName(nullptr, ext));
    EXPECT_EQ(87, GetExtendName("a.b", nullptr));
}

TEST(PathHelpers, SplitPath) {
    char drive[64], dir[64], fname[64], ext[64];
    _splitpath("file.txt", drive, dir, fname, ext);
    EXPECT_STREQ("", drive);
    EXPECT_STREQ("", dir);
    EXPECT_STREQ("file", fname);
    EXPECT_STREQ(".txt", ext);
    _splitpath("/a/b/", drive, dir, fname, ext);
    EXPECT_STREQ("/a/b/", dir);
    EXPECT_STREQ("", fname);
    EXPECT_STREQ("", ext);
    _splitpath("/x.d/readme", drive, dir, fname, ext);
    EXPECT_STREQ("/x.d/", dir) << "a dot in a folder name is not an extension";
    EXPECT_STREQ("readme", fname);
    EXPECT_STREQ("", ext);
    _splitpath("/T/photo/a.b.jpg", drive, dir, fname, ext);
    EXPECT_STREQ("a.b", fname);
    EXPECT_STREQ(".jpg", ext);
    _splitpath(nullptr, drive, dir, fname, ext);
    EXPECT_STREQ("", dir);
    EXPECT_STREQ("", fname);
}

TEST(PathHelpers, GetRealFileNameNeverOverwrites) {
    TempDir dir;
    std::string photo = dir.file("a.jpg");
    wchar_t out[512];
    GetRealFileName(photo.c_str(), out, 512);
    EXPECT_EQ(std::string(photo), WideToUtf8(out));
    WriteFileBytes(photo, {1});
    GetRealFileName(photo.c_str(), out, 512);
    EXPECT_EQ(dir.file("a(1).jpg"), WideToUtf8(out));
    WriteFileBytes(dir.file("a(1).jpg"), {1});
    GetRealFileName(photo.c_str(), out, 512);
    EXPECT_EQ(dir.file("a(2).jpg"), WideToUtf8(out));
    WriteFileBytes(dir.file("readme"), {1});
    GetRealFileName(dir.file("readme").c_str(), out, 512);
    EXPECT_EQ(dir.file("readme(1)"), WideToUtf8(out));
}

TEST(PathHelpers, GetRealFileNameSeesNonAsciiNamesOnDisk) {
    TempDir dir;
    // The file exists under its UTF-8 name; the caller passes the 8-bit name.
    WriteFileBytes(dir.path() + "/\xE4\xB8\xAD.txt", {1}); // 中.txt in UTF-8
    std::string ansi = dir.path() + "/\xD6\xD0.txt";        // 中.txt in the 8-bit code page
    wchar_t out[512];
    GetRealFileName(ansi.c_str(), out, 512);
    EXPECT_EQ(dir.path() + "/\xE4\xB8\xAD(1).txt", WideToUtf8(out));
}

TEST(PathHelpers, GetPathDirIndex) {
    int count = -1;
    EXPECT_EQ(0, GetPathDirIndex(L"/Users/x/out/", count));
    EXPECT_EQ(3, count);
    GetPathDirIndex(L"/", count);
    EXPECT_EQ(0, count);
    GetPathDirIndex(L"C:\\a\\b", count);
    EXPECT_EQ(2, count);
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
    EXPECT_EQ(0u, high);
    EXPECT_EQ(0u, low);
}
