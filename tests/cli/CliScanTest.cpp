// orvale-cli end to end, on images made with the real file-system tools.
#include "cli/CliRun.h"
#include "fixtures/E2eDiskImage.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <regex>
#include <set>
#include <sys/wait.h>


TEST(CliScan, BadTargetsFailWithOneClearLine) {
    TempDir dir;
    TempDir support;
    WriteFileBytes(dir.file("empty.img"), {});
    WriteFileBytes(dir.file("short.img"), std::vector<uint8_t>(10000, 0));
    struct Case {
        std::string target;
        std::string reason;
    } cases[] = {
        {dir.file("missing.img"), "No such file"},
        {dir.path(), "directory"},
        {dir.file("empty.img"), "empty"},
        {dir.file("short.img"), "too small"},
    };
    for (const Case& c : cases) {
        CliRun run = RunCli("scan '" + c.target + "'", support.path());
        EXPECT_EQ(2, run.status) << c.target;
        EXPECT_NE(std::string::npos, run.err.find(c.target)) << run.err;
        EXPECT_NE(std::string::npos, run.err.find(c.reason)) << run.err;
        EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
    }
    EXPECT_EQ(2, RunCli("scan", support.path()).status);
    EXPECT_EQ(2, RunCli("scan x --bogus", support.path()).status);
    EXPECT_EQ(0, RunCommand("[ -z \"$(ls -A " + support.path() + ")\" ]")) << "nothing written for a target that cannot be scanned";
}

TEST(CliScan, UnreadableTargetForAnotherUser) {
    ORVALE_REQUIRE_TOOL("setpriv");
    TempDir dir;
    WriteFileBytes(dir.file("secret.img"), std::vector<uint8_t>(1 << 20, 0));
    RunCommand("chmod 0600 " + dir.file("secret.img") + " && chmod 0755 " + dir.path());
    TempDir support;
    RunCommand("chmod 0777 " + support.path());
    std::string cmd = "setpriv --reuid=65534 --regid=65534 --clear-groups env ORVALE_SUPPORT_DIR=" + support.path() + " " +
                      ORVALE_CLI_PATH " scan " + dir.file("secret.img") + " 2>&1 | grep -q 'Permission denied'";
    if (::geteuid() != 0) GTEST_SKIP() << "SKIPPED: needs root to switch to another user";
    EXPECT_EQ(0, RunCommand(cmd));
}

TEST(CliScan, PartitionedImageListsAndRecoversEveryDeletedFile) {
    ORVALE_REQUIRE_TOOL("mkfs.vfat");
    ORVALE_REQUIRE_TOOL("mcopy");
    ORVALE_REQUIRE_TOOL("sfdisk");
    ORVALE_REQUIRE_TOOL("/usr/bin/convert");
    ORVALE_REQUIRE_TOOL("ntfs-3g");
    TempDir dir;
    TempDir support;
    E2eDiskImage image;
    std::string error;
    if (!image.Build(dir.path(), true, error)) GTEST_SKIP() << "SKIPPED: " << error;
    const std::string imageDigest = Sha256File(image.path());

    struct Partition {
        int number;
        const std::vector<E2eFile>* files;
    } partitions[] = {{1, &image.fatFiles()}, {2, &image.ntfsFiles()}};
    for (const Partition& p : partitions) {
        SCOPED_TRACE("partition " + std::to_string(p.number));
        CliRun run = RunCli("scan " + image.path() + " --partition " + std::to_string(p.number) + " --json", support.path());
        ASSERT_EQ(0, run.status) << run.err;
        std::vector<JsonFile> files = ParseFiles(run.out);
        for (const E2eFile& f : *p.files) {
            if (!f.deleted || f.carvedOnly) continue;
            std::vector<const JsonFile*> hits = Named(files, f.name);
            ASSERT_EQ(1u, hits.size()) << f.name << " must be listed exactly once\n" << run.out;
            EXPECT_EQ(f.folder, hits[0]->folder) << f.name;
            EXPECT_EQ(f.size, hits[0]->size) << f.name;
            // No carved duplicate of a file-system file at the same sector.
            for (const JsonFile& other : files) {
                if (other.engine == "carved") {
                    EXPECT_NE(hits[0]->firstSector, other.firstSector) << other.name;
                }
            }
        }
        // Recover everything and find every deleted file byte for byte in its category folder.
        TempDir out;
        CliRun rec = RunCli("scan " + image.path() + " --partition " + std::to_string(p.number) + " --recover " + out.path(), support.path());
        EXPECT_EQ(0, rec.status) << rec.out << rec.err;
        std::set<std::string> recovered;
        FILE* list = ::popen(("find " + out.path() + " -type f -exec sha256sum {} +").c_str(), "r");
        char line[1024];
        while (list && std::fgets(line, sizeof line, list)) recovered.insert(std::string(line, 64));
        if (list) ::pclose(list);
        for (const E2eFile& f : *p.files) {
            if (f.deleted) {
                EXPECT_TRUE(recovered.count(f.sha256)) << (f.name.empty() ? "carved file" : f.name) << " not recovered byte-identical";
            }
        }
    }
    EXPECT_EQ(imageDigest, Sha256File(image.path())) << "scanning and recovering never write to the scanned image";
}

TEST(CliScan, ImageShorterThanItsPartitionTableIsScannedToItsEnd) {
    ORVALE_REQUIRE_TOOL("mkfs.vfat");
    ORVALE_REQUIRE_TOOL("sfdisk");
    ORVALE_REQUIRE_TOOL("/usr/bin/convert");
    TempDir dir;
    TempDir support;
    E2eDiskImage image;
    std::string error;
    if (!image.Build(dir.path(), false, error)) GTEST_SKIP() << "SKIPPED: " << error;
    // Cut the image 8192 sectors before the end of the FAT32 partition.
    ASSERT_EQ(0, RunCommand("truncate -s " + std::to_string((2048 + 131072 - 8192) * 512LL) + " " + image.path()));
    CliRun run = RunCli("scan " + image.path() + " --partition 1 --json", support.path());
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("the device ends after 122880; scanning those 122880 only")) << run.err;
    EXPECT_EQ(std::string::npos, run.err.find("could not be read")) << "missing sectors are not counted as unreadable";
    EXPECT_EQ(1u, Named(ParseFiles(run.out), "BeachPhoto.jpg").size()) << "what was readable is still found";
}

TEST(CliScan, WholeRawImageIsCarvedToItsLastSector) {
    ORVALE_REQUIRE_TOOL("/usr/bin/convert");
    TempDir dir;
    TempDir support;
    ASSERT_EQ(0, RunCommand("cd " + dir.path() + " && /usr/bin/convert -size 64x64 plasma: tail.png && /usr/bin/convert -size 64x64 plasma: head.jpg"));
    std::vector<uint8_t> disk = RandomBytes(8 << 20, 7);
    std::vector<uint8_t> head = ReadFileBytes(dir.file("head.jpg"));
    std::vector<uint8_t> tail = ReadFileBytes(dir.file("tail.png"));
    std::copy(head.begin(), head.end(), disk.begin());
    size_t tailSector = (disk.size() - tail.size()) / 512 - 1;
    std::copy(tail.begin(), tail.end(), disk.begin() + tailSector * 512);
    WriteFileBytes(dir.file("raw.img"), disk);
    CliRun run = RunCli("scan " + dir.file("raw.img") + " --json", support.path());
    ASSERT_EQ(0, run.status) << run.err;
    std::vector<JsonFile> files = ParseFiles(run.out);
    EXPECT_EQ(1u, Named(files, "0.jpg").size()) << run.out;
    EXPECT_EQ(1u, Named(files, std::to_string(tailSector) + ".png").size()) << run.out;
}
