// A deep scan killed with SIGKILL in the middle of its pass leaves a scan log
// that loads and from which --resume finishes with what an uninterrupted scan finds.
#include "engine/CLogFileManager.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "platform/DeviceMap.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <regex>
#include <set>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

// The files a --json listing names, as "name size" lines.
std::multiset<std::string> ListedFiles(const std::string& json) {
    std::multiset<std::string> out;
    std::regex line(R"re(\{"name": "([^"]*)", "category": "[^"]*", "extension": "[^"]*", "size": (\d+),)re");
    for (std::sregex_iterator it(json.begin(), json.end(), line), end; it != end; ++it)
        out.insert(std::string((*it)[1]) + " " + std::string((*it)[2]));
    return out;
}

std::string RunToEnd(const std::string& args, const std::string& support, int& status) {
    TempDir capture("killresume-run");
    const std::string cmd = "ORVALE_SUPPORT_DIR='" + support + "' " ORVALE_CLI_PATH " " + args + " >" + capture.file("out") +
                            " 2>" + capture.file("err");
    int rc = std::system(cmd.c_str());
    status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    std::vector<uint8_t> b = ReadFileBytes(capture.file("out"));
    return std::string(b.begin(), b.end());
}

// The partly scanned record of the scan log, read the way the program reads it.
bool PartialCheckpoint(_LOG_FILE_INFO_& out) {
    if (CLogFileManager::GetInstance()->Reload() != 0) return false;
    for (const _LOG_FILE_INFO_& r : CLogFileManager::GetInstance()->GetLogRecords())
        if (r.u64ScannedSectors > 0 && r.u64ScannedSectors < r.u64SectorCount) {
            out = r;
            return true;
        }
    return false;
}


// Random filler with a picture every 512 KiB: enough data for a pass long
// enough to be stopped in, few enough files that one checkpoint holds them.
std::vector<uint8_t> PicturesInFiller(const TempDir& dir) {
    if (RunCommand("cd " + dir.path() + " && /usr/bin/convert -size 96x96 plasma: a.jpg && /usr/bin/convert -size 80x80 plasma: b.png") != 0)
        return {};
    const std::vector<uint8_t> jpg = ReadFileBytes(dir.file("a.jpg"));
    const std::vector<uint8_t> png = ReadFileBytes(dir.file("b.png"));
    std::vector<uint8_t> disk = RandomBytes(64u << 20, 5);
    for (size_t off = 4096, i = 0; off + 65536 < disk.size(); off += 512 * 1024, ++i) {
        const std::vector<uint8_t>& f = (i % 2) ? png : jpg;
        std::copy(f.begin(), f.end(), disk.begin() + off);
    }
    return disk;
}

pid_t SpawnScan(const std::string& image, const std::string& outFile) {
    pid_t pid = -1;
    const std::string cli = ORVALE_CLI_PATH;
    char* argv[] = {const_cast<char*>(cli.c_str()), const_cast<char*>("scan"), const_cast<char*>(image.c_str()),
                    const_cast<char*>("--json"), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid, cli.c_str(), &actions, nullptr, argv, environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}
} // namespace

TEST(CliKillResume, StoppedDeepScanResumesToTheSameFilesWhereverItStopped) {
    ORVALE_REQUIRE_TOOL("/usr/bin/convert");
    TempDir dir("stopresume");
    const std::vector<uint8_t> disk = PicturesInFiller(dir);
    ASSERT_FALSE(disk.empty());
    const std::string image = dir.file("raw.img");
    WriteFileBytes(image, disk);
    TempDir reference("stopresume-ref");
    int status = -1;
    const std::multiset<std::string> expected = ListedFiles(RunToEnd("scan " + image + " --json", reference.path(), status));
    ASSERT_EQ(0, status);

    ScopedEnv checkpointEnv("ORVALE_CHECKPOINT_MS", "20");
    int stops = 0;
    for (double fraction : {0.0, 0.2, 0.5, 0.8}) {
        SCOPED_TRACE(fraction);
        TempDir support("stopresume-support");
        ScopedEnv supportEnv("ORVALE_SUPPORT_DIR", support.path());
        pid_t pid = SpawnScan(image, dir.file("stopped.json"));
        ASSERT_GT(pid, 0);
        _LOG_FILE_INFO_ at{};
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline &&
               !(PartialCheckpoint(at) && at.u64ScannedSectors >= fraction * at.u64SectorCount))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ::kill(pid, SIGINT);
        int st = 0;
        ::waitpid(pid, &st, 0);
        if (!WIFEXITED(st) || WEXITSTATUS(st) != 3) continue; // the scan ended before the stop reached it
        ++stops;
        const std::vector<uint8_t> stopped = ReadFileBytes(dir.file("stopped.json"));
        EXPECT_NE(std::string::npos, std::string(stopped.begin(), stopped.end()).find("\"complete\": false"));

        TempDir capture("stopresume-run");
        const std::string cmd = std::string(ORVALE_CLI_PATH) + " scan " + image + " --resume --json --progress >" +
                                capture.file("out") + " 2>" + capture.file("err");
        ASSERT_EQ(0, WEXITSTATUS(std::system(cmd.c_str())));
        const std::vector<uint8_t> out = ReadFileBytes(capture.file("out"));
        EXPECT_EQ(expected, ListedFiles(std::string(out.begin(), out.end())));
        // The record count of the progress lines never falls.
        const std::vector<uint8_t> err = ReadFileBytes(capture.file("err"));
        const std::string progress(err.begin(), err.end());
        std::regex count(R"re((\d+) records kept)re");
        unsigned long long last = 0;
        for (std::sregex_iterator it(progress.begin(), progress.end(), count), end; it != end; ++it) {
            const unsigned long long n = std::stoull((*it)[1]);
            EXPECT_GE(n, last) << progress;
            last = n;
        }
    }
    EXPECT_GE(stops, 2) << "most stop points must catch the scan running";
}

TEST(CliKillResume, KilledDeepScanResumesToTheSameFiles) {
    ORVALE_REQUIRE_TOOL("/usr/bin/convert");
    TempDir dir("killresume");
    const std::vector<uint8_t> disk = PicturesInFiller(dir);
    ASSERT_FALSE(disk.empty());
    const std::string image = dir.file("raw.img");
    WriteFileBytes(image, disk);

    TempDir reference("killresume-ref");
    int status = -1;
    const std::multiset<std::string> expected = ListedFiles(RunToEnd("scan " + image + " --json", reference.path(), status));
    ASSERT_EQ(0, status);
    ASSERT_GE(expected.size(), 100u);

    TempDir support("killresume-support");
    ScopedEnv supportEnv("ORVALE_SUPPORT_DIR", support.path());
    ScopedEnv checkpointEnv("ORVALE_CHECKPOINT_MS", "20");
    _LOG_FILE_INFO_ checkpoint{};
    bool killedMidway = false;
    for (int attempt = 0; attempt < 3 && !killedMidway; ++attempt) {
        pid_t pid = -1;
        const std::string cli = ORVALE_CLI_PATH;
        char* argv[] = {const_cast<char*>(cli.c_str()), const_cast<char*>("scan"), const_cast<char*>(image.c_str()),
                        const_cast<char*>("--json"), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        ASSERT_EQ(0, posix_spawn(&pid, cli.c_str(), &actions, nullptr, argv, environ));
        posix_spawn_file_actions_destroy(&actions);
        // Kill as soon as a checkpoint of the deep pass is on disk.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            if (PartialCheckpoint(checkpoint)) {
                ::kill(pid, SIGKILL);
                break;
            }
            int st = 0;
            if (::waitpid(pid, &st, WNOHANG) == pid) {
                pid = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (pid > 0) {
            int st = 0;
            ::waitpid(pid, &st, 0);
            killedMidway = WIFSIGNALED(st) && WTERMSIG(st) == SIGKILL;
        }
    }
    ASSERT_TRUE(killedMidway) << "the scan always ended before a checkpoint could be caught";

    // "config" left by the killed process loads and still holds the checkpoint.
    _LOG_FILE_INFO_ after{};
    ASSERT_TRUE(PartialCheckpoint(after));
    EXPECT_GE(after.u64ScannedSectors, checkpoint.u64ScannedSectors);
    EXPECT_EQ(uint64_t(disk.size() / 512), after.u64SectorCount);

    const std::string resumed = RunToEnd("scan " + image + " --resume --json", support.path(), status);
    ASSERT_EQ(0, status);
    EXPECT_EQ(expected, ListedFiles(resumed));
    // The finished scan is recorded as such, in the folder the killed one began:
    // it went on from there rather than starting over.
    ASSERT_EQ(0, CLogFileManager::GetInstance()->Reload());
    const std::vector<_LOG_FILE_INFO_> records = CLogFileManager::GetInstance()->GetLogRecords();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(records[0].u64SectorCount, records[0].u64ScannedSectors);
    EXPECT_STREQ(after.szLogDirPath, records[0].szLogDirPath);
}
