#include "fat/FatStructures.h"
#include "fixtures/ScopedEnv.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

// Every FAT date word converts by arithmetic to what mktime gives, in zones east
// and west of UTC, with and without summer time, on whole and half hours.
TEST(FatDate, ArithmeticMatchesMktimeOverTheWholeRange) {
    for (const char* zone : {"UTC", "Europe/Paris", "America/New_York", "Asia/Tokyo", "Asia/Kolkata"}) {
        ScopedEnv tz("TZ", zone);
        tzset();
        int mismatches = 0;
        for (uint32_t word = 0; word <= 0xFFFF; ++word) {
            struct tm tm;
            std::memset(&tm, 0, sizeof tm);
            tm.tm_year = 80 + int(word >> 9);
            tm.tm_mon = int((word >> 5) & 0x0F) - 1;
            tm.tm_mday = int(word & 0x1F);
            if (FatDateToUnixTime(uint16_t(word)) != int64_t(mktime(&tm)) && ++mismatches <= 3)
                ADD_FAILURE() << zone << " date word " << word;
        }
        EXPECT_EQ(0, mismatches) << zone;
    }
    tzset();
}

TEST(FatDate, EntryTimesAreMidnightPast32Bits) {
    FAT32_Entry e{};
    e.DIR_CrtDate = uint16_t((40 << 9) | (6 << 5) | 15);   // 2020-06-15
    e.DIR_CrtTime = 0xFFFF;                                // the time of day is ignored
    e.DIR_WrtDate = uint16_t((127 << 9) | (12 << 5) | 31); // 2107-12-31
    _FILETIME c, w;
    {
        ScopedEnv tz("TZ", "UTC");
        tzset();
        Fat32GetFileCreateTime(&e, &c);
        Fat32GetFileLastChangeTime(&e, &w);
    }
    tzset();
    EXPECT_EQ(1592179200u, FileTimeToU64(c));
    EXPECT_EQ(4354732800u, FileTimeToU64(w));
}
