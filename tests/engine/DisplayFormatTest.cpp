#include "engine/DisplayFormat.h"

#include <gtest/gtest.h>

TEST(DisplayFormat, FileSizeUnits) {
    const std::pair<long long, const char*> cases[] = {
        {0, "0 Bytes"},          {1023, "1023 Bytes"},       {-5, "-5 Bytes"},
        {1024, "1.00 KB"},       {1536, "1.50 KB"},          {1048575, "1024.00 KB"},
        {1048576, "1.00 MB"},    {1073741824, "1.00 GB"},    {3LL << 30, "3.00 GB"},
        {1LL << 40, "1.00 TB"},  {5000000000000LL, "4.55 TB"},
    };
    for (const auto& c : cases) EXPECT_EQ(GetFileSizeString(c.first), c.second) << c.first;
}

TEST(DisplayFormat, Durations) {
    const std::pair<long long, const char*> cases[] = {
        {0, "0 Sec"},        {59, "59 Sec"},           {60, "1 Min 0 Sec"},       {125, "2 Min 5 Sec"},
        {3599, "59 Min 59 Sec"}, {3600, "1 Hour 0 Min"}, {3725, "1 Hour 2 Min"}, {90000, "25 Hour 0 Min"},
    };
    for (const auto& c : cases) EXPECT_EQ(GetTimeString(c.first), c.second) << c.first;
}
