#include "platform/ByteView.h"
#include "platform/CDiskReader.h"
#include "platform/DeviceMap.h"

#include "fixtures/ScopedEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

// disk0: 300 sectors where every byte of sector s is (s & 0xFF), and 100 bytes of a 301st.
TEST(DiskReader, LimitsShortReadsLargeReadsAndFailingSectors) {
    TempDir dir;
    std::vector<uint8_t> data(300 * 512 + 100);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i / 512);
    WriteFileBytes(dir.file("disk0"), data);
    ::chmod(dir.file("disk0").c_str(), 0444); // opened for reading only
    ScopedEnv env("ORVALE_DISK_DIR", dir.path());
    CDiskReader limited;
    ASSERT_EQ(0, limited.Init(0, 16));
    std::vector<unsigned char> buf(300 * 512, 0xEE);
    unsigned got = 99;
    EXPECT_EQ(0, limited.ReadData(buf.data(), 8, 8, 512, &got));
    EXPECT_EQ(8u, got);
    EXPECT_EQ(15, buf[7 * 512 + 511]);
    std::fill(buf.begin(), buf.end(), 0xEE);
    EXPECT_EQ(87, limited.ReadData(buf.data(), 8, 9, 512, &got)) << "past the limit";
    EXPECT_EQ(0u, got);
    EXPECT_EQ(0xEE, buf[0]) << "a refused request must not touch the buffer";

    CDiskReader reader;
    ASSERT_EQ(0, reader.Init(0, 1000));
    ASSERT_EQ(0, reader.ReadData(buf.data(), 300, 0, 512, &got));
    EXPECT_EQ(300u, got);
    for (int s : {0, 127, 128, 129, 255, 299}) EXPECT_EQ(s & 0xFF, buf[s * 512 + 17]) << s;
    EXPECT_EQ(30, reader.ReadData(buf.data(), 8, 296, 512, &got)) << "only whole sectors count";
    EXPECT_EQ(4u, got);
    CDiskReader::SetFailingSectorsForTesting({20, 40});
    EXPECT_EQ(30, reader.ReadData(buf.data(), 16, 16, 512, &got));
    EXPECT_EQ(4u, got);
    EXPECT_EQ(0, reader.ReadData(buf.data(), 16, 21, 512, &got));
    EXPECT_EQ(30, reader.ReadData(buf.data(), 1, 40, 512, &got));
    EXPECT_EQ(0u, got);
    CDiskReader::SetFailingSectorsForTesting({});
    EXPECT_EQ(0, reader.ReadData(buf.data(), 16, 16, 512, &got));

    const std::string path = dir.file("disk0");
    std::wstring wide(path.begin(), path.end());
    CDiskReader byPath;
    ASSERT_EQ(0, byPath.Init(wide.data(), 4));
    EXPECT_EQ(0, byPath.ReadData(buf.data(), 1, 3, 512, &got));
    EXPECT_EQ(3, buf[0]);

    CDiskReader missing;
    EXPECT_EQ(ENOENT, missing.Init(3, 10));
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_EQ(87, missing.ReadData(buf.data(), 1, 0, 512, &got));
    EXPECT_EQ(ENOENT, missing.Init(const_cast<wchar_t*>(L"/nonexistent/orvale.img"), 10));
}

TEST(DeviceMap, OverridesSupportFoldersAndTheScannedDevice) {
    {
        ScopedEnv env("ORVALE_DISK_DIR", "/images");
        EXPECT_EQ("/images/disk7", GetDiskDevicePath(7));
        RegisterDiskPath(7, "/tmp/card.img");
        EXPECT_EQ("/tmp/card.img", GetDiskDevicePath(7));
        RegisterDiskPath(7, "");
        EXPECT_EQ("/images/disk7", GetDiskDevicePath(7));
    }
    TempDir dir;
    std::string nested = dir.file("a/b/ScanLog");
    ASSERT_EQ(0, MakeDirectories(nested));
    struct stat st;
    ASSERT_EQ(0, ::stat(nested.c_str(), &st));
    EXPECT_EQ(0755u, st.st_mode & 0777) << "support folders are enterable";
    EXPECT_EQ(0, MakeDirectories(nested)) << "existing folders are fine";
    WriteFileBytes(dir.file("plain"), {1});
    EXPECT_EQ(ENOTDIR, MakeDirectories(dir.file("plain")));

    // Saving onto the scanned device is recognised; an image that is not mounted holds no folder.
    WriteFileBytes(dir.file("image.img"), std::vector<uint8_t>(4096, 0));
    EXPECT_FALSE(IsPathOnDevice(dir.file("out"), dir.file("image.img")));
    EXPECT_FALSE(IsPathOnDevice(dir.file("out"), dir.file("missing.img")));
    ASSERT_EQ(0, ::stat(dir.path().c_str(), &st));
    std::vector<uint8_t> text = ReadFileBytes("/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" +
                                              std::to_string(minor(st.st_dev)) + "/uevent");
    std::string s(text.begin(), text.end());
    size_t at = s.find("DEVNAME=");
    if (at == std::string::npos) GTEST_SKIP() << "SKIPPED: the temporary folder is not on a block device";
    std::string device = "/dev/" + s.substr(at + 8, s.find('\n', at) - at - 8);
    if (!FileExists(device)) GTEST_SKIP() << "SKIPPED: " << device << " is not visible here";
    EXPECT_TRUE(IsPathOnDevice(dir.file("not/yet/made"), device)) << device;
}

TEST(ByteView, ReadsInsideAndFlagsOutside) {
    const uint8_t data[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xFF};
    ByteView v(data, sizeof data);
    EXPECT_EQ(0x0201, v.le16(0));
    EXPECT_EQ(0x0102, v.be16(0));
    EXPECT_EQ(0x04030201u, v.le32(0));
    EXPECT_EQ(0x0807060504030201ull, v.le64(0));
    EXPECT_FALSE(v.bad());
    EXPECT_EQ(0u, v.le32(6));
    EXPECT_TRUE(v.bad());
    v.clearBad();
    EXPECT_EQ(-1, v.leSignedN(8, 1));
    EXPECT_EQ(0x030201u, v.leN(0, 3));
    EXPECT_EQ(nullptr, v.ptr(5, 5));
    EXPECT_TRUE(v.bad());
    EXPECT_EQ(4u, v.sub(5, 100).size()) << "a clipped sub-view keeps what is there";
    EXPECT_EQ(0u, v.sub(100, 1).size());
    EXPECT_FALSE(v.has(SIZE_MAX, 2)) << "offsets near the top must not wrap";
    EXPECT_FALSE(v.has(2, SIZE_MAX));
}
