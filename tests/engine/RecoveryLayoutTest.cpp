// Where a recovered file goes below the recovery folder, and how the report quotes text.
#include "engine/RecoveryLayout.h"

#include <gtest/gtest.h>

TEST(RecoveryLayout, FolderKeepsTheTreeWithEveryComponentMadeSafe) {
    struct Case {
        const char* category;
        const char* original;
        bool keepTree;
        const char* expected;
    } const cases[] = {
        {"photo", "Photos/Vacation 2023/", true, "photo/Photos/Vacation 2023"},
        {"photo", "Photos/Vacation 2023/", false, "photo"},
        {"photo", "", true, "photo"},
        {"", "A/B/", true, "A/B"},                  // a name without a category folder
        {"others", "/A//B/", true, "others/A/B"},   // empty components name nothing
        {"others", "../../etc/", true, "others/unnamed/unnamed/etc"},
        {"others", "./x/", true, "others/unnamed/x"},
        {"document", "LostFolder12/Sub/", true, "document/LostFolder12/Sub"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RecoveryRelativeFolder(c.category, c.original, c.keepTree), c.expected) << c.original;
    std::string longName(300, 'n');
    std::string folder = RecoveryRelativeFolder("photo", longName + "/", true);
    EXPECT_LE(folder.size(), std::string("photo/").size() + 255);
}

TEST(RecoveryLayout, CsvFieldsAreQuotedOnlyWhenTheyMustBe) {
    EXPECT_EQ(CsvField("photo/a.jpg"), "photo/a.jpg");
    EXPECT_EQ(CsvField("a,b.jpg"), "\"a,b.jpg\"");
    EXPECT_EQ(CsvField("say \"hi\".txt"), "\"say \"\"hi\"\".txt\"");
    EXPECT_EQ(CsvField("two\nlines"), "\"two\nlines\"");
    EXPECT_EQ(CsvField(""), "");
}
