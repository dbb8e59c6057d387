// What the tool says about itself and about disks it cannot open.
#include "cli/CliRun.h"
#include "fixtures/FatImageBuilder.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

TEST(CliConventions, NoDiskListedSaysWhy) {
    TempDir dir("cli-nodisk");
    ASSERT_EQ(::mkdir(dir.file("gone").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("/nonexistent/device", dir.file("gone/disk0").c_str()), 0);
    ASSERT_EQ(::mkdir(dir.file("empty").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(dir.file("empty/disk0").c_str(), 0755), 0);
    struct Case {
        const char* folder;
        const char* reason;
    } const cases[] = {
        {"gone", "does not exist (a missing or removed device)"},
        {"empty", "opens but holds no whole sector"},
    };
    for (const Case& c : cases) {
        CliRun run = RunCli("disks", dir.path(), "ORVALE_DISK_DIR='" + dir.file(c.folder) + "'");
        EXPECT_EQ(run.status, 0) << c.folder;
        EXPECT_NE(run.out.find(c.reason), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("needs administrator rights"), std::string::npos) << run.out;
    }
}

// Only the summary counts files: the progress line's engine count is not mistaken for it.
TEST(CliConventions, OneFilesFoundCountAndItIsTheSummarys) {
    ORVALE_REQUIRE_TOOL("mkfs.vfat");
    TempDir dir("cli-count");
    FatImageBuilder img(dir.file("fat.img"), 16, 16384, 4);
    ASSERT_TRUE(img.ok());
    ASSERT_TRUE(img.MakeDir("/Keep"));
    for (const char* name : {"/Keep/one notes.txt", "/Keep/two notes.txt", "/live notes.txt"})
        ASSERT_TRUE(img.PutFile(name, std::vector<uint8_t>(2000, 'n')));
    ASSERT_TRUE(img.DeleteTree("/Keep"));
    CliRun run = RunCli("scan " + img.path() + " --progress", dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("2 files found"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("Scanning: 100%"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("files found"), std::string::npos) << run.err;
    // Without --progress and without a terminal, nothing but errors reaches standard error.
    CliRun quiet = RunCli("scan " + img.path(), dir.path());
    EXPECT_EQ(quiet.err, "");
}
