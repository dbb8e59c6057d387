// What a scan reports and saves is its own, whole and honest: scans side by side, areas
// bounded by the device, unusable support folders, recoveries that cannot finish, long names.
#include "cli/CliRun.h"
#include "fixtures/FatImageBuilder.h"
#include "fixtures/NtfsImageVolume.h"
#include "fixtures/SkipUnless.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sys/mount.h>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;

// A 16 MiB FAT16 image holding files of random content (seeded by `seed` on), all deleted.
std::string DeletedFatImage(const TempDir& dir, const std::string& image, const std::vector<std::pair<std::string, size_t>>& files,
                            uint32_t seed) {
    FatImageBuilder img(dir.file(image), 16, 16384, 4);
    // All written before any is deleted: a freed entry would take the next file.
    for (const auto& f : files) {
        WriteFileBytes(dir.file(f.first), RandomBytes(f.second, seed++));
        if (!img.PutFile("/" + f.first, ReadFileBytes(dir.file(f.first)))) return "";
    }
    for (const auto& f : files)
        if (!img.DeleteFile("/" + f.first)) return "";
    return img.ok() ? img.path() : "";
}

} // namespace

TEST(ScanResults, ScansOfTwoImagesAtOnceListOnlyTheirOwnFiles) {
    for (const char* tool : {"mkfs.vfat", "mcopy"}) ORVALE_REQUIRE_TOOL(tool);
    TempDir dir, support;
    std::vector<std::pair<std::string, size_t>> alpha, beta;
    for (int i = 0; i < 6; ++i) {
        alpha.push_back({"alpha_file_" + std::to_string(i) + ".bin", 3000 + 700u * i});
        beta.push_back({"beta_file_" + std::to_string(i) + ".bin", 5000 + 300u * i});
    }
    const std::string a = DeletedFatImage(dir, "a.img", alpha, 1), b = DeletedFatImage(dir, "b.img", beta, 100);
    ASSERT_FALSE(a.empty() || b.empty());
    for (const char* mode : {"--quick", ""}) {
        SCOPED_TRACE(*mode ? mode : "deep");
        CliRun runB;
        std::thread other([&] { runB = RunCli("scan " + b + " --json " + mode, support.path()); });
        const CliRun runA = RunCli("scan " + a + " --json " + mode, support.path());
        other.join();
        ASSERT_TRUE(runA.status == 0 && runB.status == 0) << runA.err << runB.err;
        const std::vector<JsonFile> filesA = ParseFiles(runA.out), filesB = ParseFiles(runB.out);
        for (const auto& f : alpha) EXPECT_TRUE(Named(filesA, f.first).size() == 1 && Named(filesB, f.first).empty()) << f.first;
        for (const auto& f : beta) EXPECT_TRUE(Named(filesB, f.first).size() == 1 && Named(filesA, f.first).empty()) << f.first;
    }
}

TEST(ScanResults, AreasEndWhereTheDeviceEnds) {
    TempDir dir, support;
    std::vector<uint8_t> disk = RandomBytes(4 << 20, 9);
    const long long sectors = static_cast<long long>(disk.size() / 512);
    // An MBR whose one entry starts at 2048 and claims 0xFFFFFFFF sectors, the partition's first sector zeroed.
    std::fill(disk.begin(), disk.begin() + 512, 0), std::fill(disk.begin() + 2048 * 512, disk.begin() + 2049 * 512, 0);
    const uint8_t entry[16] = {0x00, 0, 0, 0, 0x0C, 0, 0, 0, 0x00, 0x08, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    std::memcpy(&disk[446], entry, 16), disk[510] = 0x55, disk[511] = 0xAA;
    const std::string image = dir.file("disk.img");
    WriteFileBytes(image, disk);
    struct Case { std::string area, warning; long long scanned; } cases[] = { // no warning; sector count listed
        {"--start " + std::to_string(sectors - 2) + " --count 2", "", 2},
        {"--start " + std::to_string(sectors - 32) + " --count 32 --quick", "", -1},
        {"--start 0 --count 4294967295", "the device ends after " + std::to_string(sectors), sectors},
        {"--partition 1", "claims 4294967295 sectors from sector 2048", sectors - 2048},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.area);
        const auto t0 = Clock::now();
        CliRun run = RunCli("scan " + image + " --json " + c.area, support.path());
        EXPECT_LT(Clock::now() - t0, std::chrono::seconds(60)) << "missing sectors must not be counted one by one";
        EXPECT_EQ(std::string::npos, run.err.find("cannot be opened")) << run.err;
        EXPECT_EQ(1, run.status) << "nothing found, not an unreadable target: " << run.err;
        if (c.scanned < 0) continue; // a quick scan of no file system lists nothing
        EXPECT_NE(std::string::npos, run.out.find("\"sector_count\": " + std::to_string(c.scanned) + "}")) << run.out;
        EXPECT_NE(std::string::npos, run.out.find("\"complete\": true")) << run.out;
        if (c.warning.empty()) EXPECT_EQ(std::string::npos, run.err.find("device ends")) << run.err;
        else EXPECT_NE(std::string::npos, run.err.find(c.warning)) << run.err;
    }
}

TEST(ScanResults, AnUnusableSupportFolderStopsTheScanWithItsReason) {
    TempDir dir;
    WriteFileBytes(dir.file("disk.img"), RandomBytes(1 << 20, 4));
    WriteFileBytes(dir.file("plain"), {1});
    ASSERT_EQ(0, ::mkdir(dir.file("ro").c_str(), 0755));
    const bool readOnlyMount = ::mount("tmpfs", dir.file("ro").c_str(), "tmpfs", MS_RDONLY, "size=1m") == 0;
    struct Case { std::string support, reason; } cases[] = {
        {dir.file("plain"), "Not a directory"},
        {"/proc/orvale", "No such file or directory"},
        {dir.file("ro"), "Read-only file system"},
    };
    for (const Case& c : cases) {
        if (c.support == dir.file("ro") && !readOnlyMount) {
            std::printf("SKIPPED row: a read-only tmpfs cannot be mounted here (%s)\n", std::strerror(errno));
            continue;
        }
        CliRun run = RunCli("scan " + dir.file("disk.img") + " --json", c.support);
        EXPECT_EQ(2, run.status) << c.support;
        EXPECT_EQ(0u, run.err.find("orvale-cli: support folder " + c.support + ": " + c.reason)) << run.err;
        EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
        EXPECT_TRUE(run.out.empty()) << "no listing for a scan that never began";
    }
    if (readOnlyMount) ::umount(dir.file("ro").c_str());
}

TEST(ScanResults, RecoveryOntoAFullDiskLeavesNothingThatClaimsToBeComplete) {
    for (const char* tool : {"mkfs.vfat", "mcopy"}) ORVALE_REQUIRE_TOOL(tool);
    TempDir dir, support;
    const std::string image = DeletedFatImage(dir, "fat.img", {{"small_notes.txt", 9000}, {"ReadMe", 3000}, {"large_payload.bin", 3u << 20}}, 50);
    ASSERT_FALSE(image.empty());
    const std::string imageDigest = Sha256File(image);
    ASSERT_EQ(0, ::mkdir(dir.file("dest").c_str(), 0755));
    if (::mount("tmpfs", dir.file("dest").c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "SKIPPED: a small tmpfs cannot be mounted here to fill up: " << std::strerror(errno);
    for (const char* options : {"", "--keep-partial"}) {
        SCOPED_TRACE(options);
        const bool keep = *options;
        RunCommand("rm -rf " + dir.file("dest") + "/*");
        CliRun run = RunCli("scan " + image + " --quick --recover " + dir.file("dest") + " " + options, support.path());
        EXPECT_EQ(1, run.status) << run.out << run.err;
        EXPECT_NE(std::string::npos, run.out.find("Failed: large_payload.bin: No space left on device")) << run.out;
        if (!keep) {
            // A kept partial file fills the disk; without it the small files fit.
            EXPECT_EQ(ReadFileBytes(dir.file("small_notes.txt")), ReadFileBytes(dir.file("dest/document/small_notes.txt")));
            EXPECT_EQ(ReadFileBytes(dir.file("ReadMe")), ReadFileBytes(dir.file("dest/others/ReadMe")))
                << "a file of no known type goes to others/";
        }
        EXPECT_FALSE(FileExists(dir.file("dest/others/large_payload.bin")));
        EXPECT_NE(0, RunCommand("find " + dir.file("dest") + " -name '.orvale-*' | grep -q .")) << "no temporary left behind";
        EXPECT_EQ(keep, FileExists(dir.file("dest/others/large_payload.bin.partial")));
        const size_t reported = run.out.find("Partial (incomplete, kept on request): " + dir.file("dest/others/large_payload.bin.partial"));
        EXPECT_EQ(keep, reported != std::string::npos) << run.out;
    }
    ::umount(dir.file("dest").c_str());
    EXPECT_EQ(imageDigest, Sha256File(image));
}

TEST(ScanResults, LongNtfsNamesComeBackWholeOrKeepTheirExtension) {
    for (const char* tool : {"mkntfs", "ntfs-3g"}) ORVALE_REQUIRE_TOOL(tool);
    TempDir dir, support;
    std::string image = dir.file("ntfs.img"), error, e300;
    for (int i = 0; i < 150; ++i) e300 += "\xc3\xa9"; // é: 300 bytes, more than a record's name holds
    // The name written and the name listed (empty: shortened, with the extension).
    const std::pair<std::string, std::string> cases[] = {{std::string(196, 'L') + ".txt", std::string(196, 'L') + ".txt"}, {e300 + ".pdf", ""}};
    ASSERT_TRUE(NtfsImageVolume::Format(image, 16ull << 20, error)) << error;
    {
        NtfsImageVolume volume(image, dir.file("mnt"));
        if (!volume.Mounted()) GTEST_SKIP() << "SKIPPED: ntfs-3g cannot mount here (no FUSE)";
        for (const auto& c : cases) ASSERT_TRUE(volume.Write(c.first, RandomBytes(3000, 8)));
        for (const auto& c : cases) ASSERT_TRUE(volume.Remove(c.first));
        ASSERT_TRUE(volume.Unmount());
    }
    CliRun run = RunCli("scan " + image + " --quick --json --recover " + dir.file("out"), support.path());
    ASSERT_EQ(0, run.status) << run.out << run.err;
    const std::vector<JsonFile> files = ParseFiles(run.out);
    ASSERT_EQ(2u, files.size()) << run.out;
    for (const auto& [name, listed] : cases) {
        const JsonFile* hit = nullptr;
        for (const JsonFile& f : files)
            if (listed.empty() ? f.name.size() < name.size() : f.name == listed) hit = &f;
        ASSERT_TRUE(hit) << name;
        EXPECT_TRUE(hit->category == "document" && hit->extension == name.substr(name.size() - 3)) << hit->name;
        EXPECT_EQ(name.substr(0, 20), hit->name.substr(0, 20)) << "the start of the name stays";
        EXPECT_EQ(RandomBytes(3000, 8), ReadFileBytes(dir.file("out/document/" + hit->name))) << hit->name;
    }
}
