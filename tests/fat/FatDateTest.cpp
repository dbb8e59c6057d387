#include "fat/FatStructures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {
int64_t MktimeOfFatDate(uint16_t word) {
    struct tm tm;
    std::memset(&tm, 0, sizeof tm);
    tm.tm_year = 80 + (word >> 9);
    tm.tm_mon = ((word >> 5) & 0x0F) - 1;
    tm.tm_mday = word & 0x1F;
    tm.tm_isdst = 0;
    return int64_t(mktime(&tm));
}
} // namespace

// Every FAT date word converts by arithmetic to what mktime gives, in zones east
// and west of UTC, with and without summer time, on whole and half hours.
TEST(FatDate, ArithmeticMatchesMktimeOverTheWholeRange) {
    const char* saved = std::getenv("TZ");
    const std::string restore = saved ? saved : "";
    for (const char* zone : {"UTC", "Europe/Paris", "America/New_York", "Asia/Tokyo", "Asia/Kolkata"}) {
        setenv("TZ", zone, 1);
        tzset();
        int mismatches = 0;
        for (uint32_t word = 0; word <= 0xFFFF; ++word)
            if (FatDateToUnixTime(static_cast<uint16_t>(word)) != MktimeOfFatDate(static_cast<uint16_t>(word)) &&
                ++mismatches <= 3)
                ADD_FAILURE() << zone << " date word " << word;
        EXPECT_EQ(0, mismatches) << zone;
    }
    if (saved) setenv("TZ", restore.c_str(), 1);
    else unsetenv("TZ");
    tzset();
}
