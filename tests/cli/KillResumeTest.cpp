// A deep scan stopped or killed mid-pass resumes to what an uninterrupted scan finds, including
// a lost FAT volume's named files passed before the stop (their folders were held only in memory).
#include "cli/CliRun.h"
#include "engine/CLogFileManager.h"
#include "fixtures/FatImageBuilder.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/SkipUnless.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <thread>
#include <unistd.h>

namespace {
std::multiset<std::string> Listed(const std::string& json) {
    std::multiset<std::string> out;
    for (const JsonFile& f : ParseFiles(json)) out.insert(f.name + " " + std::to_string(f.size));
    return out;
}

// The partly scanned record of the scan log, read the way the program reads it.
bool PartialCheckpoint(_LOG_FILE_INFO_& out) {
    if (CLogFileManager::GetInstance()->Reload() != 0) return false;
    for (const _LOG_FILE_INFO_& r : CLogFileManager::GetInstance()->GetLogRecords())
        if (r.u64ScannedSectors > 0 && r.u64ScannedSectors < r.u64SectorCount) return out = r, true;
    return false;
}

pid_t SpawnScan(const std::string& image, const std::string& outFile) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        ::dup2(::open("/dev/null", O_WRONLY), 2);
        ::execl(ORVALE_CLI_PATH, ORVALE_CLI_PATH, "scan", image.c_str(), "--json", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}
} // namespace

TEST(CliKillResume, StoppedOrKilledDeepScanResumesToTheSameFiles) {
    ORVALE_REQUIRE_TOOL("/usr/bin/convert");
    TempDir dir("killresume");
    // Random filler with a picture every 512 KiB: a pass long enough to be stopped in.
    ASSERT_EQ(0, RunCommand("cd " + dir.path() + " && /usr/bin/convert -size 96x96 plasma: a.jpg && "
                                                  "/usr/bin/convert -size 80x80 plasma: b.png"));
    const std::vector<uint8_t> pictures[] = {ReadFileBytes(dir.file("a.jpg")), ReadFileBytes(dir.file("b.png"))};
    const FatScenario& fat = SharedFatScenario(16);
    ASSERT_TRUE(fat.ok);
    const std::vector<uint8_t> volume = ReadFileBytes(fat.image.path());
    constexpr size_t kVolumeAt = 4u << 20;
    std::vector<uint8_t> disk = RandomBytes(64u << 20, 5);
    for (size_t off = 4096, i = 0; off + 65536 < disk.size(); off += 512 * 1024, ++i)
        if (off + 65536 < kVolumeAt || off >= kVolumeAt + volume.size())
            std::copy(pictures[i % 2].begin(), pictures[i % 2].end(), disk.begin() + off);
    std::copy(volume.begin(), volume.end(), disk.begin() + kVolumeAt);
    const std::string image = dir.file("raw.img");
    WriteFileBytes(image, disk);
    const CliRun whole = RunCli("scan " + image + " --json", dir.file("reference"));
    ASSERT_EQ(0, whole.status) << whole.err;
    const std::multiset<std::string> expected = Listed(whole.out);
    ASSERT_GE(expected.size(), 100u);
    size_t named = 0;
    for (const auto& file : fat.expected) {
        const std::string name = file.first.substr(file.first.rfind('/') + 1);
        named += expected.count(name + " " + std::to_string(file.second.size()));
    }
    ASSERT_GE(named, 5u) << "the lost volume's files are listed by name";
    // At the rate of a slow card the scan outlasts the watcher however busy the machine is.
    ScopedEnv checkpointEnv("ORVALE_CHECKPOINT_MS", "20"), rateEnv("ORVALE_READ_LIMIT_MBPS", "32");
    // The signal, and the part of the area scanned when it is sent.
    struct Case { int signal; double fraction; } const cases[] = {{SIGKILL, 0.0}, {SIGINT, 0.0}, {SIGKILL, 0.5}, {SIGINT, 0.8}};
    int caught = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(strsignal(c.signal)) + " at " + std::to_string(c.fraction));
        TempDir support("killresume-support");
        ScopedEnv supportEnv("ORVALE_SUPPORT_DIR", support.path());
        const pid_t pid = SpawnScan(image, dir.file("stopped.json"));
        ASSERT_GT(pid, 0);
        _LOG_FILE_INFO_ at{};
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline &&
               !(PartialCheckpoint(at) && at.u64ScannedSectors >= c.fraction * at.u64SectorCount))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ::kill(pid, c.signal);
        int st = 0;
        ::waitpid(pid, &st, 0);
        if (c.signal == SIGKILL ? !WIFSIGNALED(st) : !WIFEXITED(st) || WEXITSTATUS(st) != 3) {
            EXPECT_NE(SIGKILL, c.signal) << "the scan ended before a checkpoint could be caught";
            continue; // the scan ended before the stop reached it
        }
        ++caught;
        _LOG_FILE_INFO_ after{};
        ASSERT_TRUE(PartialCheckpoint(after)) << "the log left behind loads and holds the checkpoint";
        EXPECT_TRUE(after.u64ScannedSectors >= at.u64ScannedSectors && after.u64SectorCount == disk.size() / 512);
        const std::vector<uint8_t> stopped = ReadFileBytes(dir.file("stopped.json"));
        EXPECT_TRUE(c.signal == SIGKILL || std::string(stopped.begin(), stopped.end()).find("\"complete\": false") != std::string::npos);
        CliRun resumed = RunCli("scan " + image + " --resume --json --progress", support.path());
        ASSERT_EQ(0, resumed.status) << resumed.err;
        EXPECT_EQ(expected, Listed(resumed.out));
        // The progress and the found count never fall, and the count ends at the number listed.
        unsigned long long last[2] = {0, 0};
        const std::regex shown[2] = {std::regex(R"re((\d+)%  sector)re"), std::regex(R"re((\d+) files found)re")};
        for (int k = 0; k < 2; ++k)
            for (std::sregex_iterator it(resumed.err.begin(), resumed.err.end(), shown[k]), end; it != end; ++it) {
                EXPECT_GE(std::stoull((*it)[1]), last[k]) << resumed.err;
                last[k] = std::stoull((*it)[1]);
            }
        EXPECT_EQ(expected.size(), last[1]) << resumed.err;
        // Recorded finished, in the folder the interrupted scan began: it went on rather than starting over.
        ASSERT_EQ(0, CLogFileManager::GetInstance()->Reload());
        const std::vector<_LOG_FILE_INFO_> records = CLogFileManager::GetInstance()->GetLogRecords();
        ASSERT_EQ(1u, records.size());
        EXPECT_TRUE(records[0].u64SectorCount == records[0].u64ScannedSectors && std::strcmp(after.szLogDirPath, records[0].szLogDirPath) == 0);
    }
    EXPECT_GE(caught, 3) << "most stop points must catch the scan running";
}
