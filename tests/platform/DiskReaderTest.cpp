#include "platform/CDiskReader.h"
#include "platform/DeviceMap.h"

#include "fixtures/ScopedEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {
// An image of `sectors` sectors where every byte of sector s is (s & 0xFF), plus `tail` extra bytes.
std::string MakeImage(const TempDir& dir, int sectors, int tail = 0) {
    std::vector<uint8_t> data(sectors * 512 + tail);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i / 512);
    std::string path = dir.file("disk0");
    WriteFileBytes(path, data);
    return path;
}
} // namespace

TEST(DiskReader, ReadsUpToTheLimitAndRefusesBeyondWithoutIo) {
    TempDir dir;
    MakeImage(dir, 64);
    ScopedEnv env("ORVALE_DISK_DIR", dir.path());
    CDiskReader reader;
    ASSERT_EQ(0, reader.Init(0, 16));
    std::vector<unsigned char> buf(8 * 512, 0xEE);
    unsigned got = 99;
    EXPECT_EQ(0, reader.ReadData(buf.data(), 8, 8, 512, &got));
    EXPECT_EQ(8u, got);
    EXPECT_EQ(8, buf[0]);
    EXPECT_EQ(15, buf[7 * 512 + 511]);

    std::fill(buf.begin(), buf.end(), 0xEE);
    EXPECT_EQ(87, reader.ReadData(buf.data(), 8, 9, 512, &got));
    EXPECT_EQ(0u, got);
    EXPECT_EQ(0xEE, buf[0]) << "a refused request must not touch the buffer";
}

TEST(DiskReader, ShortReadReportsWholeSectorsOnly) {
    TempDir dir;
    MakeImage(dir, 10, 100); // ten sectors and a partial eleventh
    ScopedEnv env("ORVALE_DISK_DIR", dir.path());
    CDiskReader reader;
    ASSERT_EQ(0, reader.Init(0, 1000));
    std::vector<unsigned char> buf(8 * 512);
    unsigned got = 0;
    EXPECT_EQ(30, reader.ReadData(buf.data(), 8, 6, 512, &got));
    EXPECT_EQ(4u, got);
    EXPECT_EQ(9, buf[3 * 512]);
}

TEST(DiskReader, LargeReadsCrossThePieceSize) {
    TempDir dir;
    MakeImage(dir, 300);
    ScopedEnv env("ORVALE_DISK_DIR", dir.path());
    CDiskReader reader;
    ASSERT_EQ(0, reader.Init(0, 300));
    std::vector<unsigned char> buf(300 * 512);
    unsigned got = 0;
    ASSERT_EQ(0, reader.ReadData(buf.data(), 300, 0, 512, &got));
    EXPECT_EQ(300u, got);
    for (int s : {0, 127, 128, 129, 255, 299}) EXPECT_EQ(s & 0xFF, buf[s * 512 + 17]) << s;
}

TEST(DiskReader, OpenFailuresReturnTheSystemError) {
    TempDir dir;
    ScopedEnv env("ORVALE_DISK_DIR", dir.path());
    CDiskReader reader;
    EXPECT_EQ(ENOENT, reader.Init(3, 10));
    EXPECT_FALSE(reader.IsOpen());
    unsigned got = 0;
    unsigned char buf[512];
    EXPECT_EQ(87, reader.ReadData(buf, 1, 0, 512, &got));
    EXPECT_EQ(ENOENT, reader.Init(const_cast<wchar_t*>(L"/nonexistent/orvale.img"), 10));
}

TEST(DiskReader, OpensByPathAndNeverForWriting) {
    TempDir dir;
    std::string path = MakeImage(dir, 4);
    ::chmod(path.c_str(), 0444);
    std::wstring wide(path.begin(), path.end());
    CDiskReader reader;
    ASSERT_EQ(0, reader.Init(wide.data(), 4));
    unsigned char buf[512];
    unsigned got = 0;
    EXPECT_EQ(0, reader.ReadData(buf, 1, 3, 512, &got));
    EXPECT_EQ(3, buf[0]);
}

TEST(DeviceMap, DiskDirectoryAndRegisteredPathsOverrideTheDevices) {
    {
        ScopedEnv env("ORVALE_DISK_DIR", "/images");
        EXPECT_EQ("/images/disk7", GetDiskDevicePath(7));
        RegisterDiskPath(7, "/tmp/card.img");
        EXPECT_EQ("/tmp/card.img", GetDiskDevicePath(7));
        RegisterDiskPath(7, "");
        EXPECT_EQ("/images/disk7", GetDiskDevicePath(7));
    }
    ScopedEnv support("ORVALE_SUPPORT_DIR", "/srv/orvale");
    EXPECT_EQ("/srv/orvale", GetSupportDirPath());
    EXPECT_EQ("/srv/orvale/ScanLog/", GetScanLogDirPath());
}

TEST(DeviceMap, SupportFoldersAreCreatedEnterable) {
    TempDir dir;
    std::string nested = dir.file("a/b/ScanLog");
    ASSERT_EQ(0, MakeDirectories(nested));
    struct stat st;
    ASSERT_EQ(0, ::stat(nested.c_str(), &st));
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(0755u, st.st_mode & 0777);
    EXPECT_EQ(0, MakeDirectories(nested)) << "existing folders are fine";
    WriteFileBytes(dir.file("plain"), {1});
    EXPECT_EQ(ENOTDIR, MakeDirectories(dir.file("plain")));
}

TEST(DiskReader, FailingSectorsStopAReadLikeABadSector) {
    TempDir dir;
    MakeImage(dir, 64);
    ScopedEnv env("ORVALE_DISK_DIR", dir.path());
    CDiskReader reader;
    ASSERT_EQ(0, reader.Init(0, 64));
    CDiskReader::SetFailingSectorsForTesting({20, 40});
    std::vector<unsigned char> buf(16 * 512);
    unsigned got = 0;
    EXPECT_EQ(30, reader.ReadData(buf.data(), 16, 16, 512, &got));
    EXPECT_EQ(4u, got);
    EXPECT_EQ(0, reader.ReadData(buf.data(), 16, 21, 512, &got));
    EXPECT_EQ(16u, got);
    EXPECT_EQ(30, reader.ReadData(buf.data(), 1, 40, 512, &got));
    EXPECT_EQ(0u, got);
    CDiskReader::SetFailingSectorsForTesting({});
    EXPECT_EQ(0, reader.ReadData(buf.data(), 16, 16, 512, &got));
}

TEST(DeviceMap, FoldersOnTheScannedDeviceAreRecognised) {
    TempDir dir;
    WriteFileBytes(dir.file("image.img"), std::vector<uint8_t>(4096, 0));
    EXPECT_FALSE(IsPathOnDevice(dir.file("out"), dir.file("image.img"))) << "an image that is not mounted holds no folder";
    EXPECT_FALSE(IsPathOnDevice(dir.file("out"), dir.file("missing.img")));
    // The block device that holds the temporary folder, found through sysfs.
    struct stat st;
    ASSERT_EQ(0, ::stat(dir.path().c_str(), &st));
    std::string uevent = "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev)) + "/uevent";
    std::vector<uint8_t> text = ReadFileBytes(uevent);
    std::string s(text.begin(), text.end());
    size_t at = s.find("DEVNAME=");
    if (at == std::string::npos) GTEST_SKIP() << "SKIPPED: the temporary folder is not on a block device";
    std::string device = "/dev/" + s.substr(at + 8, s.find('\n', at) - at - 8);
    if (!FileExists(device)) GTEST_SKIP() << "SKIPPED: " << device << " is not visible here";
    EXPECT_TRUE(IsPathOnDevice(dir.file("not/yet/made"), device)) << device;
}
