#include "engine/CLogFileManager.h"

#include "fixtures/StoreTestEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "platform/DeviceMap.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {
CLogFileManager* Log() { return CLogFileManager::GetInstance(); }

_LOG_FILE_INFO_ Record(int disk, uint64_t start, uint64_t count, const std::string& dir, uint64_t freeSpace = 0) {
    _LOG_FILE_INFO_ r;
    std::memset(&r, 0, sizeof r);
    r.nDiskNo = disk;
    r.u64StartSector = start;
    r.u64SectorCount = count;
    r.u64FreeSpace = freeSpace;
    std::strncpy(r.szLogDirPath, dir.c_str(), sizeof r.szLogDirPath - 1);
    return r;
}

// A "config" file: the counter, then the records, then optional trailing bytes.
std::vector<uint8_t> ConfigBytes(uint64_t counter, const std::vector<_LOG_FILE_INFO_>& records, size_t extra = 0) {
    std::vector<uint8_t> bytes(8 + records.size() * 592 + extra, 0xEE);
    std::memcpy(bytes.data(), &counter, 8);
    for (size_t i = 0; i < records.size(); ++i) std::memcpy(bytes.data() + 8 + i * 592, &records[i], 592);
    return bytes;
}

bool IsDir(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Dir(const StoreTestEnv& env, int n) { return env.logDir() + std::to_string(n) + "/"; }
} // namespace

TEST(LogFileLoad, WholeRecordsOnly) {
    StoreTestEnv env;
    ASSERT_EQ(0, MakeDirectories(env.logDir()));
    WriteFileBytes(env.logDir() + "config", ConfigBytes(7, {Record(1, 0, 100, "a/"), Record(2, 5, 50, "b/")}));
    EXPECT_EQ(0, Log()->Reload());
    ASSERT_EQ(2u, Log()->GetLogRecords().size());
    EXPECT_EQ(7u, Log()->GetDirIndex());
    EXPECT_EQ(50u, Log()->GetLogRecords()[1].u64SectorCount);

    WriteFileBytes(env.logDir() + "config", ConfigBytes(3, {Record(1, 0, 100, "a/")}, 8));
    EXPECT_EQ(0, Log()->Reload());
    EXPECT_EQ(1u, Log()->GetLogRecords().size()) << "8 + 600 bytes hold one record";

    WriteFileBytes(env.logDir() + "config", {});
    EXPECT_EQ(87, Log()->Reload());
    EXPECT_TRUE(Log()->GetLogRecords().empty());
    EXPECT_EQ(0u, Log()->GetDirIndex());

    WriteFileBytes(env.logDir() + "config", {1, 2, 3});
    EXPECT_NE(0, Log()->Reload()) << "shorter than the counter";
    EXPECT_EQ(0u, Log()->GetDirIndex());
}

TEST(LogFileLoad, LeftoverCopyIsTaken) {
    StoreTestEnv env;
    ASSERT_EQ(0, MakeDirectories(env.logDir()));
    WriteFileBytes(env.logDir() + "config.tmp", ConfigBytes(2, {Record(4, 8, 16, Dir(env, 2))}));
    EXPECT_EQ(0, Log()->Reload());
    EXPECT_TRUE(FileExists(env.logDir() + "config"));
    EXPECT_FALSE(FileExists(env.logDir() + "config.tmp"));
    ASSERT_EQ(1u, Log()->GetLogRecords().size());
    EXPECT_EQ(4u, Log()->GetLogRecords()[0].nDiskNo);
}

TEST(LogFileDirs, EveryScanBeginsAFolderNoOneElseHolds) {
    StoreTestEnv env;
    char path[256];
    Log()->GetLogFileDirPath(path);
    EXPECT_EQ(Dir(env, 1), path) << "a quick scan's stores get a folder of their own too";
    EXPECT_TRUE(IsDir(path));
    for (int i = 0; i < 4; ++i) Log()->AddDirIndex();
    Log()->GetLogFileDirPath(path);
    EXPECT_EQ(Dir(env, 5), path);

    // A folder that exists belongs to another process or a killed scan: passed over, kept.
    ASSERT_EQ(0, MakeDirectories(Dir(env, 6) + "sub"));
    WriteFileBytes(Dir(env, 6) + "Fast_1", {1, 2, 3});
    Log()->AddDirIndex();
    Log()->GetLogFileDirPath(path);
    EXPECT_EQ(Dir(env, 7), path);
    EXPECT_TRUE(FileExists(Dir(env, 6) + "Fast_1"));
    Log()->ReduceDirIndex();
    EXPECT_FALSE(IsDir(Dir(env, 7))) << "an abandoned folder without a record goes";
    EXPECT_EQ(6u, Log()->GetDirIndex());

    // Another process counted further meanwhile; folders are named after the area.
    std::vector<uint8_t> config = ReadFileBytes(env.logDir() + "config");
    ASSERT_GE(config.size(), 8u);
    uint64_t counter = 20;
    std::memcpy(config.data(), &counter, 8);
    WriteFileBytes(env.logDir() + "config", config);
    Log()->SetScanAreaId("00ab");
    Log()->AddDirIndex();
    Log()->GetLogFileDirPath(path);
    EXPECT_EQ(env.logDir() + "00ab-21/", path);
    Log()->SetScanAreaId("");

    // Only folders inside the scan log can be deleted through a record.
    std::string outside = env.root() + "/keep/";
    ASSERT_EQ(0, MakeDirectories(outside));
    Log()->SaveLogFileInfo(nullptr, 3, 0, 10, 0, 0, 0, 0, 0, outside.c_str(), "");
    ASSERT_EQ(1u, Log()->GetLogRecords().size());
    EXPECT_EQ(0, Log()->DeleteLogFileDir(outside.c_str()));
    EXPECT_TRUE(Log()->GetLogRecords().empty()) << "the record goes";
    EXPECT_TRUE(IsDir(outside)) << "but the foreign folder stays";
    EXPECT_EQ(0, Log()->DeleteLogFileDir((env.logDir() + "../").c_str()));
    EXPECT_TRUE(IsDir(env.logDir()));
}

TEST(LogFileDirs, NameByFileType) {
    StoreTestEnv env;
    ASSERT_EQ(0, MakeDirectories(Dir(env, 1)));
    WriteFileBytes(Dir(env, 1) + "Fast_0_2024339 5", {});
    WriteFileBytes(Dir(env, 1) + "Fast_0_2024339 5_Relation", {});
    char name[256] = "unchanged";
    EXPECT_EQ(0, Log()->GetLogFileNameByFileType(Dir(env, 1).c_str(), "File_Type_", name));
    EXPECT_STREQ("unchanged", name);
    EXPECT_EQ(0, Log()->GetLogFileNameByFileType(Dir(env, 1).c_str(), "Fast_", name));
    EXPECT_STREQ("Fast_0_2024339 5", name) << "the node file's bare name, never a companion file";
    // Whatever the directory order, companion files never name a store.
    WriteFileBytes(Dir(env, 1) + "File_Type_9_2024339 5_DirInfo", {});
    WriteFileBytes(Dir(env, 1) + "File_Type_9_2024339 5_Relation", {});
    std::strcpy(name, "unchanged");
    EXPECT_EQ(0, Log()->GetLogFileNameByFileType(Dir(env, 1).c_str(), "File_Type_", name));
    EXPECT_STREQ("unchanged", name);
    EXPECT_EQ(0, Log()->GetLogFileNameByFileType((env.logDir() + "missing").c_str(), "Fast_", name));
}

TEST(LogFileSave, InPlaceAppendAndStale) {
    StoreTestEnv env;
    Log()->AddDirIndex();
    ASSERT_EQ(0, Log()->SaveLogFileInfo(nullptr, 2, 2048, 4096, 10, 20, 5, 100, 7, Dir(env, 1).c_str(), ""));
    ASSERT_EQ(0, Log()->SaveLogFileInfo(nullptr, 2, 2048, 4096, 30, 0, 0, 4096, 9, Dir(env, 1).c_str(), nullptr));
    auto records = Log()->GetLogRecords();
    ASSERT_EQ(1u, records.size()) << "same area, same free space: updated in place";
    EXPECT_EQ(30u, records[0].u64ExtentStart);
    EXPECT_EQ(4096u, records[0].u64ScannedSectors);
    EXPECT_EQ(9u, records[0].u64FindFileCount);
    EXPECT_EQ(8 + 592, static_cast<int>(ReadFileBytes(env.logDir() + "config").size()));

    // Scans opened by path always append.
    Log()->SaveLogFileInfo(nullptr, 0, 0, 100, 0, 0, 0, 100, 1, Dir(env, 2).c_str(), "/images/card.img");
    Log()->SaveLogFileInfo(nullptr, 0, 0, 100, 0, 0, 0, 100, 1, Dir(env, 3).c_str(), "/images/card.img");
    records = Log()->GetLogRecords();
    ASSERT_EQ(3u, records.size());
    EXPECT_STREQ("/images/card.img", records[2].szDevicePath);
    EXPECT_STREQ(Dir(env, 3).c_str(), records[2].szLogDirPath);

    // What was saved is what a new process loads.
    std::vector<uint8_t> saved = ReadFileBytes(env.logDir() + "config");
    ASSERT_EQ(8u + 3 * 592, saved.size());
    EXPECT_EQ(0, Log()->Reload());
    EXPECT_EQ(1u, Log()->GetDirIndex());
    EXPECT_EQ(3u, Log()->GetLogRecords().size());

    // Found with matching free space: the scan resumes in the recorded folder.
    _LOG_FILE_INFO_ found;
    EXPECT_EQ(1, Log()->LoadRecoveryLogInfo(nullptr, 2, 2048, 4096, &found));
    EXPECT_EQ(30u, found.u64ExtentStart);
    char path[256];
    Log()->GetLogFileDirPath(path);
    EXPECT_EQ(Dir(env, 1), path);
    EXPECT_EQ(0, Log()->LoadRecoveryLogInfo(nullptr, 2, 2048, 4095, &found)) << "another area";
    Log()->GetLogFileDirPath(path);
    EXPECT_EQ(Dir(env, 2), path) << "no record: a fresh folder, never the found one";
}

TEST(LogFileSave, StaleRecordIsDeleted) {
    StoreTestEnv env;
    ASSERT_EQ(0, MakeDirectories(Dir(env, 1)));
    WriteFileBytes(Dir(env, 1) + "File_Type_1", {9});
    WriteFileBytes(env.logDir() + "config", ConfigBytes(1, {Record(0, 0, 1000, Dir(env, 1), 123456)}));
    ASSERT_EQ(0, Log()->Reload());
    _LOG_FILE_INFO_ found;
    EXPECT_EQ(0, Log()->LoadRecoveryLogInfo(nullptr, 0, 0, 1000, &found)) << "free space changed since";
    EXPECT_FALSE(IsDir(Dir(env, 1)));
    EXPECT_TRUE(Log()->GetLogRecords().empty());

    // Saving over a stale record replaces it with a fresh one.
    WriteFileBytes(env.logDir() + "config", ConfigBytes(1, {Record(0, 0, 1000, Dir(env, 1), 99)}));
    ASSERT_EQ(0, Log()->Reload());
    Log()->SaveLogFileInfo(nullptr, 0, 0, 1000, 1, 2, 3, 4, 5, Dir(env, 1).c_str(), "");
    auto records = Log()->GetLogRecords();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(0u, records[0].u64FreeSpace);
    EXPECT_EQ(5u, records[0].u64FindFileCount);
}

TEST(LogFileSave, CopyIsTruncatedAndFailuresKeepTheIndex) {
    StoreTestEnv env;
    ASSERT_EQ(0, MakeDirectories(env.logDir()));
    WriteFileBytes(env.logDir() + "config.tmp", std::vector<uint8_t>(5000, 0xAB));
    WriteFileBytes(env.logDir() + "config", ConfigBytes(6, {Record(1, 0, 10, "x/")}));
    ASSERT_EQ(0, Log()->Reload());
    ASSERT_EQ(0, Log()->SaveLogConfigFile());
    EXPECT_EQ(8u + 592u, ReadFileBytes(env.logDir() + "config").size()) << "no stale bytes after the records";
    EXPECT_FALSE(FileExists(env.logDir() + "config.tmp"));

    // The copy cannot be written: the index stays as it was.
    ASSERT_EQ(0, MakeDirectories(env.logDir() + "config.tmp"));
    Log()->AddDirIndex();
    EXPECT_NE(0, Log()->SaveLogConfigFile());
    std::vector<uint8_t> kept = ReadFileBytes(env.logDir() + "config");
    ASSERT_EQ(8u + 592u, kept.size());
    uint64_t counter;
    std::memcpy(&counter, kept.data(), 8);
    EXPECT_EQ(6u, counter);
}

TEST(LogFileSave, RecordsOfOtherProcessesSurviveASave) {
    StoreTestEnv env;
    ASSERT_EQ(0, Log()->SaveLogFileInfo(nullptr, 1, 0, 100, 0, 0, 0, 50, 3, Dir(env, 1).c_str(), ""));
    ASSERT_EQ(0, Log()->SaveLogFileInfo(nullptr, 2, 0, 100, 0, 0, 0, 50, 3, Dir(env, 2).c_str(), ""));
    // Another process saved its checkpoint and dropped record 2 since this one loaded.
    WriteFileBytes(env.logDir() + "config",
                   ConfigBytes(9, {Record(1, 0, 100, Dir(env, 1)), Record(7, 0, 100, Dir(env, 7))}));
    Log()->DeleteLogFileDir(Dir(env, 1).c_str());
    ASSERT_EQ(0, Log()->SaveLogConfigFile());
    ASSERT_EQ(0, Log()->Reload());
    std::vector<std::string> dirs;
    for (const _LOG_FILE_INFO_& r : Log()->GetLogRecords()) dirs.push_back(r.szLogDirPath);
    EXPECT_EQ((std::vector<std::string>{Dir(env, 2), Dir(env, 7)}), dirs)
        << "the other's record kept, the one this process deleted not brought back";
    EXPECT_EQ(9u, Log()->GetDirIndex()) << "the larger counter wins";
}

TEST(ScanAreaLock, OneScanPerArea) {
    StoreTestEnv env;
    TempDir images;
    WriteFileBytes(images.file("a.img"), std::vector<uint8_t>(4096, 0));
    const std::string a = images.file("a.img");
    auto first = std::make_unique<CScanAreaLock>();
    ASSERT_EQ(0, first->Acquire(a, 4096, 0, 8));
    struct Case {
        std::string path;
        uint64_t bytes, start, count;
        int expected;
    } cases[] = {
        {a, 4096, 0, 8, EWOULDBLOCK},
        {images.path() + "/./a.img", 4096, 0, 8, EWOULDBLOCK}, // the same file by another name
        {a, 4096, 1, 7, 0},
        {a, 4096, 0, 7, 0},
        {a, 8192, 0, 8, 0}, // the image grew: another area
        {images.file("b.img"), 4096, 0, 8, 0},
    };
    for (const Case& c : cases) {
        CScanAreaLock second;
        EXPECT_EQ(c.expected, second.Acquire(c.path, c.bytes, c.start, c.count)) << c.path << " " << c.start << " " << c.count;
        if (c.expected == EWOULDBLOCK) {
            EXPECT_EQ(static_cast<long>(::getpid()), second.Holder());
            EXPECT_EQ(first->Id(), second.Id());
        } else {
            EXPECT_NE(first->Id(), second.Id());
        }
    }
    first.reset();
    CScanAreaLock again;
    EXPECT_EQ(0, again.Acquire(a, 4096, 0, 8)) << "free once the first scan ended";
}
