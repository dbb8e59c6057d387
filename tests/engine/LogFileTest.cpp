#include "engine/CLogFileManager.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {
CLogFileManager* Log() { return CLogFileManager::GetInstance(); }

_LOG_FILE_INFO_ Record(int disk, uint64_t count, const std::string& dir, uint64_t freeSpace = 0) {
    _LOG_FILE_INFO_ r{};
    r.nDiskNo = disk, r.u64SectorCount = count, r.u64FreeSpace = freeSpace;
    std::strncpy(r.szLogDirPath, dir.c_str(), sizeof r.szLogDirPath - 1);
    return r;
}

// A "config" file: the counter, the records, then `extra` trailing bytes.
std::vector<uint8_t> Config(uint64_t counter, const std::vector<_LOG_FILE_INFO_>& records, size_t extra = 0) {
    std::vector<uint8_t> bytes(8 + records.size() * sizeof(_LOG_FILE_INFO_) + extra, 0xEE);
    std::memcpy(bytes.data(), &counter, 8);
    if (!records.empty()) std::memcpy(bytes.data() + 8, records.data(), records.size() * sizeof(_LOG_FILE_INFO_));
    return bytes;
}

bool IsDir(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Dir(const StoreTestEnv& env, int n) { return env.logDir() + std::to_string(n) + "/"; }

std::string Current() {
    char path[256];
    Log()->GetLogFileDirPath(path);
    return path;
}
} // namespace

TEST(LogFile, LoadsWholeRecordsOnlyAndTakesALeftoverCopy) {
    StoreTestEnv env;
    ASSERT_EQ(0, MakeDirectories(env.logDir()));
    const std::string config = env.logDir() + "config";
    // A trailing part record is left; a file shorter than the counter is an error (-1: any).
    struct Case { std::vector<uint8_t> bytes; int status; size_t records; uint64_t counter; } const cases[] = {
        {Config(7, {Record(1, 100, "a/"), Record(2, 50, "b/")}), 0, 2, 7}, {Config(3, {Record(1, 100, "a/")}, 8), 0, 1, 3},
        {{}, 87, 0, 0}, {{1, 2, 3}, -1, 0, 0}};
    for (const Case& c : cases) {
        WriteFileBytes(config, c.bytes);
        const int status = Log()->Reload();
        EXPECT_TRUE(c.status >= 0 ? status == c.status : status != 0) << c.bytes.size() << ": " << status;
        EXPECT_TRUE(Log()->GetLogRecords().size() == c.records && Log()->GetDirIndex() == c.counter) << c.bytes.size();
    }
    ::unlink(config.c_str());
    WriteFileBytes(config + ".tmp", Config(2, {Record(4, 16, Dir(env, 2))}));
    EXPECT_EQ(0, Log()->Reload());
    EXPECT_TRUE(FileExists(config) && !FileExists(config + ".tmp"));
    ASSERT_EQ(1u, Log()->GetLogRecords().size());
    EXPECT_EQ(4u, Log()->GetLogRecords()[0].nDiskNo);
}

TEST(LogFile, EveryScanBeginsAFolderNoOneElseHolds) {
    StoreTestEnv env;
    EXPECT_TRUE(Current() == Dir(env, 1) && IsDir(Dir(env, 1)));
    for (int i = 0; i < 4; ++i) Log()->AddDirIndex();
    EXPECT_EQ(Dir(env, 5), Current());
    // A folder that exists belongs to another process or a killed scan: passed over, kept.
    ASSERT_EQ(0, MakeDirectories(Dir(env, 6) + "sub"));
    WriteFileBytes(Dir(env, 6) + "Fast_1", {1, 2, 3}), Log()->AddDirIndex();
    EXPECT_TRUE(Current() == Dir(env, 7) && FileExists(Dir(env, 6) + "Fast_1"));
    Log()->ReduceDirIndex();
    EXPECT_FALSE(IsDir(Dir(env, 7))) << "an abandoned folder without a record goes";
    // Another process counted further meanwhile; folders are named after the area.
    std::vector<uint8_t> config = ReadFileBytes(env.logDir() + "config");
    ASSERT_GE(config.size(), 8u);
    config[0] = 20;
    WriteFileBytes(env.logDir() + "config", config), Log()->SetScanAreaId("00ab"), Log()->AddDirIndex();
    EXPECT_EQ(env.logDir() + "00ab-21/", Current());
    Log()->SetScanAreaId("");
    // Only folders inside the scan log are deleted through a record.
    const std::string outside = env.root() + "/keep/";
    ASSERT_EQ(0, MakeDirectories(outside));
    Log()->SaveLogFileInfo(nullptr, 3, 0, 10, 0, 0, 0, 0, 0, outside.c_str(), "");
    EXPECT_EQ(0, Log()->DeleteLogFileDir(outside.c_str()));
    EXPECT_TRUE(Log()->GetLogRecords().empty() && IsDir(outside)) << "the record goes, the foreign folder stays";
    EXPECT_TRUE(Log()->DeleteLogFileDir((env.logDir() + "../").c_str()) == 0 && IsDir(env.logDir()));
}

TEST(LogFile, StoreNameByFileTypeNeverACompanionFile) {
    StoreTestEnv env;
    const std::string dir = Dir(env, 1);
    ASSERT_EQ(0, MakeDirectories(dir));
    for (const char* f : {"Fast_0_2024339 5", "Fast_0_2024339 5_Relation", "File_Type_9_2024339 5_DirInfo", "File_Type_9_2024339 5_Relation"})
        WriteFileBytes(dir + f, {});
    for (auto [prefix, expected] : {std::pair{"Fast_", "Fast_0_2024339 5"}, {"File_Type_", "unchanged"}}) {
        char name[256] = "unchanged";
        EXPECT_EQ(0, Log()->GetLogFileNameByFileType(dir.c_str(), prefix, name));
        EXPECT_STREQ(expected, name) << prefix;
    }
    char name[256];
    EXPECT_EQ(0, Log()->GetLogFileNameByFileType((env.logDir() + "missing").c_str(), "Fast_", name));
}

TEST(LogFile, SavedCheckpointIsFoundAgainAndStaleOnesGo) {
    StoreTestEnv env;
    Log()->AddDirIndex();
    ASSERT_EQ(0, Log()->SaveLogFileInfo(nullptr, 2, 2048, 4096, 10, 20, 5, 100, 7, Dir(env, 1).c_str(), ""));
    ASSERT_EQ(0, Log()->SaveLogFileInfo(nullptr, 2, 2048, 4096, 30, 0, 0, 4096, 9, Dir(env, 1).c_str(), nullptr));
    ASSERT_EQ(1u, Log()->GetLogRecords().size()) << "same area, same free space: updated in place";
    // Scans opened by path always append.
    for (int n : {2, 3}) Log()->SaveLogFileInfo(nullptr, 0, 0, 100, 0, 0, 0, 100, 1, Dir(env, n).c_str(), "/images/card.img");
    EXPECT_EQ(0, Log()->Reload()) << "what was saved is what a new process loads";
    ASSERT_EQ(3u, Log()->GetLogRecords().size());
    EXPECT_STREQ("/images/card.img", Log()->GetLogRecords()[2].szDevicePath);
    _LOG_FILE_INFO_ found;
    EXPECT_EQ(1, Log()->LoadRecoveryLogInfo(nullptr, 2, 2048, 4096, &found));
    EXPECT_EQ((std::vector<uint64_t>{30, 4096, 9}), (std::vector<uint64_t>{found.u64ExtentStart, found.u64ScannedSectors, found.u64FindFileCount}));
    EXPECT_EQ(Dir(env, 1), Current()) << "the scan resumes in the recorded folder";
    EXPECT_EQ(0, Log()->LoadRecoveryLogInfo(nullptr, 2, 2048, 4095, &found)) << "another area";
    EXPECT_EQ(Dir(env, 2), Current()) << "no record: a fresh folder, never the found one";
    // A record whose free space changed since is stale: its folder and record go.
    ASSERT_EQ(0, MakeDirectories(Dir(env, 9)));
    WriteFileBytes(env.logDir() + "config", Config(9, {Record(0, 1000, Dir(env, 9), 123456)}));
    ASSERT_EQ(0, Log()->Reload());
    EXPECT_EQ(0, Log()->LoadRecoveryLogInfo(nullptr, 0, 0, 1000, &found));
    EXPECT_TRUE(!IsDir(Dir(env, 9)) && Log()->GetLogRecords().empty());
}

TEST(LogFile, SaveTruncatesKeepsOthersRecordsAndFailsWithoutLosingTheIndex) {
    StoreTestEnv env;
    for (int n : {1, 2}) ASSERT_EQ(0, Log()->SaveLogFileInfo(nullptr, n, 0, 100, 0, 0, 0, 50, 3, Dir(env, n).c_str(), ""));
    // Another process saved its checkpoint and dropped record 2 since this one loaded.
    WriteFileBytes(env.logDir() + "config", Config(9, {Record(1, 100, Dir(env, 1)), Record(7, 100, Dir(env, 7))}));
    WriteFileBytes(env.logDir() + "config.tmp", std::vector<uint8_t>(5000, 0xAB));
    Log()->DeleteLogFileDir(Dir(env, 1).c_str());
    ASSERT_EQ(0, Log()->SaveLogConfigFile());
    EXPECT_EQ(8u + 2 * sizeof(_LOG_FILE_INFO_), ReadFileBytes(env.logDir() + "config").size()) << "no stale bytes";
    EXPECT_FALSE(FileExists(env.logDir() + "config.tmp"));
    ASSERT_EQ(0, Log()->Reload());
    std::vector<std::string> dirs;
    for (const _LOG_FILE_INFO_& r : Log()->GetLogRecords()) dirs.push_back(r.szLogDirPath);
    EXPECT_EQ((std::vector<std::string>{Dir(env, 2), Dir(env, 7)}), dirs)
        << "the other's record kept, the one this process deleted not brought back";
    EXPECT_EQ(9u, Log()->GetDirIndex()) << "the larger counter wins";
    // The copy cannot be written: the file on disk stays as it was.
    ASSERT_EQ(0, MakeDirectories(env.logDir() + "config.tmp"));
    Log()->AddDirIndex();
    EXPECT_NE(0, Log()->SaveLogConfigFile());
    const std::vector<uint8_t> kept = ReadFileBytes(env.logDir() + "config");
    EXPECT_TRUE(kept.size() == 8u + 2 * sizeof(_LOG_FILE_INFO_) && kept[0] == 9);
}

TEST(ScanAreaLock, OneScanPerArea) {
    StoreTestEnv env;
    const std::string a = env.root() + "/a.img";
    WriteFileBytes(a, std::vector<uint8_t>(4096, 0));
    auto first = std::make_unique<CScanAreaLock>();
    ASSERT_EQ(0, first->Acquire(a, 4096, 0, 8));
    // The same file by another name is the same area; a grown image is another.
    struct Case { std::string path; uint64_t bytes, start, count; int expected; } cases[] = {
        {a, 4096, 0, 8, EWOULDBLOCK}, {env.root() + "/./a.img", 4096, 0, 8, EWOULDBLOCK}, {a, 4096, 1, 7, 0},
        {a, 4096, 0, 7, 0}, {a, 8192, 0, 8, 0}, {env.root() + "/b.img", 4096, 0, 8, 0}};
    for (const Case& c : cases) {
        CScanAreaLock second;
        const bool held = c.expected == EWOULDBLOCK;
        EXPECT_EQ(c.expected, second.Acquire(c.path, c.bytes, c.start, c.count)) << c.path << " " << c.start << " " << c.count;
        EXPECT_TRUE((!held || second.Holder() == ::getpid()) && held == (first->Id() == second.Id())) << c.path;
    }
    first.reset();
    CScanAreaLock again;
    EXPECT_EQ(0, again.Acquire(a, 4096, 0, 8)) << "free once the first scan ended";
}
