#include "cli/CliOptions.h"
#include "engine/FileCategories.h"

#include <gtest/gtest.h>

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
    ASSERT_TRUE(Parse({"scan", "disk.img", "--types", "photo,document"}, o, error)) << error;
    EXPECT_EQ(unsigned(CATEGORY_PHOTO | CATEGORY_DOCUMENT), o.categories);
    ASSERT_TRUE(Parse({"scan", "3"}, d, error)) << error;
    EXPECT_EQ(unsigned(CATEGORY_ALL), d.categories) << "all six categories by default";
    EXPECT_FALSE(d.quick || d.json || d.hasRange || !d.recoverDir.empty());
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
