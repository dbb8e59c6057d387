// orvale-cli's options, and the tool end to end on images made with the real file-system tools.
#include "cli/CliOptions.h"
#include "cli/CliRun.h"
#include "engine/FileCategories.h"
#include "fixtures/E2eDiskImage.h"
#include "fixtures/SkipUnless.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <unistd.h>

namespace {
bool Parse(std::vector<const char*> args, CliOptions& o, std::string& error) {
    args.insert(args.begin(), "orvale-cli");
    return ParseCliOptions(static_cast<int>(args.size()), const_cast<char**>(args.data()), o, error);
}
} // namespace

// The options no end-to-end test gives: the category list and the defaults.
TEST(CliOptions, TypesAndDefaults) {
    CliOptions o, d;
    std::string error;
    ASSERT_TRUE(Parse({"scan", "disk.img", "--types", "photo,document"}, o, error) && Parse({"scan", "3"}, d, error)) << error;
    EXPECT_EQ(unsigned(CATEGORY_PHOTO | CATEGORY_DOCUMENT), o.categories);
    EXPECT_EQ(unsigned(CATEGORY_ALL), d.categories) << "all six categories by default";
    EXPECT_FALSE(d.quick || d.json || d.hasRange || !d.recoverDir.empty());
}

TEST(CliOptions, UsageMistakesAreRefusedWithAReason) {
    const std::vector<std::vector<const char*>> bad = {
        {}, {"frobnicate"}, {"scan"}, {"scan", "a.img", "--partition"}, {"scan", "a.img", "--partition", "0"},
        {"scan", "a.img", "--start", "5"}, {"scan", "a.img", "--partition", "1", "--start", "1", "--count", "2"},
        {"scan", "a.img", "--types", "pictures"}, {"scan", "a.img", "--quick", "--resume"}, {"scan", "a.img", "b.img"},
        {"scan", "a.img", "--count", "-4", "--start", "0"}, {"disks", "extra"},
    };
    for (const auto& args : bad) {
        CliOptions o;
        std::string error;
        EXPECT_TRUE(!Parse(args, o, error) && !error.empty()) << (args.empty() ? "(none)" : args[0]) << " " << args.size();
    }
}

TEST(CliScan, BadTargetsAndMissingDisksSayWhy) {
    TempDir dir, support;
    WriteFileBytes(dir.file("empty.img"), {});
    WriteFileBytes(dir.file("short.img"), std::vector<uint8_t>(10000, 0));
    const std::pair<std::string, std::string> cases[] = {
        {dir.file("missing.img"), "No such file"}, {dir.path(), "directory"}, {dir.file("empty.img"), "empty"}, {dir.file("short.img"), "too small"},
    };
    for (const auto& c : cases) {
        CliRun run = RunCli("scan '" + c.first + "'", support.path());
        EXPECT_EQ(2, run.status) << c.first;
        EXPECT_TRUE(run.err.find(c.first) != std::string::npos && run.err.find(c.second) != std::string::npos) << run.err;
        EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
    }
    EXPECT_EQ(2, RunCli("scan x --bogus", support.path()).status);
    EXPECT_EQ(0, RunCommand("[ -z \"$(ls -A " + support.path() + ")\" ]")) << "nothing written for a target that cannot be scanned";
    ASSERT_EQ(0, RunCommand("cd " + dir.path() + " && mkdir -p gone hollow/disk0 && ln -s /nonexistent/device gone/disk0"));
    for (const auto& c : {std::pair{"gone", "does not exist (a missing or removed device)"}, {"hollow", "opens but holds no whole sector"}}) {
        CliRun run = RunCli("disks", support.path(), "ORVALE_DISK_DIR='" + dir.file(c.first) + "'");
        EXPECT_EQ(0, run.status) << c.first;
        EXPECT_TRUE(run.out.find(c.second) != std::string::npos && run.out.find("needs administrator rights") == std::string::npos) << run.out;
    }
}

TEST(CliScan, UnreadableTargetForAnotherUser) {
    ORVALE_REQUIRE_TOOL("setpriv");
    if (::geteuid() != 0) GTEST_SKIP() << "SKIPPED: needs root to switch to another user";
    TempDir dir, support;
    WriteFileBytes(dir.file("secret.img"), std::vector<uint8_t>(1 << 20, 0));
    RunCommand("chmod 0600 " + dir.file("secret.img") + " && chmod 0755 " + dir.path() + " && chmod 0777 " + support.path());
    EXPECT_EQ(0, RunCommand("setpriv --reuid=65534 --regid=65534 --clear-groups env ORVALE_SUPPORT_DIR=" + support.path() +
                            " " ORVALE_CLI_PATH " scan " + dir.file("secret.img") + " 2>&1 | grep -q 'Permission denied'"));
}

// Every deleted file of both partitions listed once and recovered byte for byte; cut short, as far as it goes.
TEST(CliScan, PartitionedImageListsAndRecoversEveryDeletedFile) {
    for (const char* tool : {"mkfs.vfat", "mcopy", "sfdisk", "/usr/bin/convert", "ntfs-3g"}) ORVALE_REQUIRE_TOOL(tool);
    TempDir dir, support;
    E2eDiskImage image;
    std::string error;
    if (!image.Build(dir.path(), true, error)) GTEST_SKIP() << "SKIPPED: " << error;
    const std::string imageDigest = Sha256File(image.path());
    const std::pair<int, const std::vector<E2eFile>*> partitions[] = {{1, &image.fatFiles()}, {2, &image.ntfsFiles()}};
    for (const auto& p : partitions) {
        SCOPED_TRACE("partition " + std::to_string(p.first));
        const std::string scan = "scan " + image.path() + " --partition " + std::to_string(p.first);
        CliRun run = RunCli(scan + " --json", support.path());
        ASSERT_EQ(0, run.status) << run.err;
        std::vector<JsonFile> files = ParseFiles(run.out);
        for (const E2eFile& f : *p.second) {
            if (!f.deleted || f.carvedOnly) continue;
            std::vector<const JsonFile*> hits = Named(files, f.name);
            ASSERT_EQ(1u, hits.size()) << f.name << " must be listed exactly once\n" << run.out;
            EXPECT_TRUE(hits[0]->folder == f.folder && hits[0]->size == f.size) << f.name << " in " << hits[0]->folder << ": " << hits[0]->size;
            for (const JsonFile& other : files)
                EXPECT_FALSE(other.engine == "carved" && hits[0]->firstSector == other.firstSector) << "carved twin " << other.name;
        }
        TempDir out;
        CliRun rec = RunCli(scan + " --recover " + out.path(), support.path());
        EXPECT_EQ(0, rec.status) << rec.out << rec.err;
        std::set<std::string> recovered;
        for (const auto& saved : SavedDigests(out.path())) recovered.insert(saved.second);
        for (const E2eFile& f : *p.second)
            EXPECT_TRUE(!f.deleted || recovered.count(f.sha256)) << (f.name.empty() ? "carved file" : f.name) << " not byte-identical";
    }
    EXPECT_EQ(imageDigest, Sha256File(image.path())) << "scanning and recovering never write to the scanned image";
    ASSERT_EQ(0, RunCommand("truncate -s " + std::to_string((2048 + 131072 - 8192) * 512LL) + " " + image.path()));
    CliRun cut = RunCli("scan " + image.path() + " --partition 1 --json", support.path());
    EXPECT_EQ(0, cut.status) << cut.err;
    EXPECT_NE(std::string::npos, cut.err.find("the device ends after 122880; scanning those 122880 only")) << cut.err;
    EXPECT_EQ(std::string::npos, cut.err.find("could not be read")) << "missing sectors are not counted as unreadable";
    EXPECT_EQ(1u, Named(ParseFiles(cut.out), "BeachPhoto.jpg").size()) << "what was readable is still found";
}

TEST(CliScan, WholeRawImageIsCarvedToItsLastSector) {
    ORVALE_REQUIRE_TOOL("/usr/bin/convert");
    TempDir dir, support;
    ASSERT_EQ(0, RunCommand("cd " + dir.path() + " && /usr/bin/convert -size 64x64 plasma: tail.png && /usr/bin/convert -size 64x64 plasma: head.jpg"));
    std::vector<uint8_t> disk = RandomBytes(8 << 20, 7);
    const std::vector<uint8_t> head = ReadFileBytes(dir.file("head.jpg")), tail = ReadFileBytes(dir.file("tail.png"));
    const size_t tailSector = (disk.size() - tail.size()) / 512 - 1;
    std::copy(head.begin(), head.end(), disk.begin()), std::copy(tail.begin(), tail.end(), disk.begin() + tailSector * 512);
    WriteFileBytes(dir.file("raw.img"), disk);
    CliRun run = RunCli("scan " + dir.file("raw.img") + " --json", support.path());
    ASSERT_EQ(0, run.status) << run.err;
    const std::vector<JsonFile> files = ParseFiles(run.out);
    EXPECT_TRUE(Named(files, "0.jpg").size() == 1 && Named(files, std::to_string(tailSector) + ".png").size() == 1) << run.out;
}
