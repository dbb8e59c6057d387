#include "cli/CliOptions.h"

#include "engine/FileCategories.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
bool Parse(std::vector<const char*> args, CliOptions& o, std::string& error) {
    args.insert(args.begin(), "orvale-cli");
    return ParseCliOptions(static_cast<int>(args.size()), const_cast<char**>(args.data()), o, error);
}
} // namespace

TEST(CliOptions, ScanWithEveryOption) {
    CliOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"scan", "disk.img", "--partition", "2", "--types", "photo,document", "--json", "--recover", "/tmp/out"}, o, error)) << error;
    EXPECT_EQ(CliOptions::COMMAND_SCAN, o.command);
    EXPECT_EQ("disk.img", o.target);
    EXPECT_EQ(2, o.partition);
    EXPECT_EQ(unsigned(CATEGORY_PHOTO | CATEGORY_DOCUMENT), o.categories);
    EXPECT_TRUE(o.json);
    EXPECT_EQ("/tmp/out", o.recoverDir);
    EXPECT_FALSE(o.quick);

    CliOptions d;
    ASSERT_TRUE(Parse({"scan", "3", "--start", "2048", "--count", "4096", "--quick"}, d, error)) << error;
    EXPECT_TRUE(d.hasRange);
    EXPECT_EQ(2048, d.start);
    EXPECT_EQ(4096, d.count);
    EXPECT_EQ(unsigned(CATEGORY_ALL), d.categories) << "all six categories by default";
}

TEST(CliOptions, UsageMistakesAreRefusedWithAReason) {
    const std::vector<std::vector<const char*>> bad = {
        {},
        {"frobnicate"},
        {"scan"},
        {"scan", "a.img", "--partition"},
        {"scan", "a.img", "--partition", "0"},
        {"scan", "a.img", "--start", "5"},
        {"scan", "a.img", "--partition", "1", "--start", "1", "--count", "2"},
        {"scan", "a.img", "--types", "pictures"},
        {"scan", "a.img", "--quick", "--resume"},
        {"scan", "a.img", "b.img"},
        {"scan", "a.img", "--count", "-4", "--start", "0"},
        {"disks", "extra"},
    };
    for (const auto& args : bad) {
        CliOptions o;
        std::string error;
        EXPECT_FALSE(Parse(args, o, error)) << (args.empty() ? "(none)" : args[0]);
        EXPECT_FALSE(error.empty());
    }
}
