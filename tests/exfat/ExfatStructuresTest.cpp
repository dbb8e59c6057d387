// exFAT parsers and the cluster mapping over hand-built bytes.
#include "exfat/ExfatClusterMap.h"
#include "exfat/ExfatStructures.h"

#include <gtest/gtest.h>

#include <map>

namespace {
// One entry set for name (ASCII), with its checksum; deleted clears the in-use bits.
std::vector<uint8_t> MakeSet(const std::string& name, uint32_t first, uint64_t length, uint8_t flags, bool deleted) {
    const unsigned nameEntries = unsigned((name.size() + 14) / 15);
    std::vector<uint8_t> b((2 + nameEntries) * 32, 0);
    b[0] = 0x85;
    b[1] = uint8_t(1 + nameEntries);
    b[4] = 0x20;
    b[32] = 0xC0;
    b[33] = flags;
    b[35] = uint8_t(name.size());
    for (int i = 0; i < 4; ++i) b[32 + 20 + i] = uint8_t(first >> (8 * i));
    for (int i = 0; i < 8; ++i) b[32 + 24 + i] = b[32 + 8 + i] = uint8_t(length >> (8 * i));
    for (size_t u = 0; u < name.size(); ++u) {
        b[64 + (u / 15) * 32] = 0xC1;
        b[64 + (u / 15) * 32 + 2 + 2 * (u % 15)] = uint8_t(name[u]);
    }
    const uint16_t sum = ExfatSetChecksum(ByteView(b.data(), b.size()), 0, unsigned(b.size() / 32));
    b[2] = uint8_t(sum);
    b[3] = uint8_t(sum >> 8);
    if (deleted)
        for (size_t e = 0; e < b.size(); e += 32) b[e] &= 0x7F;
    return b;
}
} // namespace

TEST(ExfatStructures, EntrySetsAreTakenOnlyWhenWholeAndConsistent) {
    const std::vector<uint8_t> good = MakeSet("a name longer than 15 units.txt", 9, 70000, 0x03, false);
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        int expected;
    };
    std::vector<Case> cases = {
        {"live", good, 0},
        {"deleted: in-use bits clear, checksum unchanged", MakeSet("x.jpg", 5, 10, 0x01, true), 0},
        {"cut short", std::vector<uint8_t>(good.begin(), good.end() - 1), 87},
        {"checksum broken", good, 87},
        {"one secondary in use, the rest deleted", MakeSet("x.jpg", 5, 10, 0x01, true), 87},
        {"more name units than entries", good, 87},
        {"no name", MakeSet("x", 5, 10, 0x01, false), 87},
    };
    cases[3].bytes[70] ^= 1;
    cases[4].bytes[64] |= 0x80;
    cases[5].bytes[35] = 200;
    cases[6].bytes[35] = 0;
    for (const Case& c : cases) {
        EXFAT_ENTRY_SET set;
        EXPECT_EQ(ParseExfatEntrySet(ByteView(c.bytes.data(), c.bytes.size()), 0, set), c.expected) << c.what;
    }
}

TEST(ExfatStructures, TimestampsKeepTheirHundredthsAndUtcOffset) {
    // 2024-03-05 14:30:20 local.
    const uint32_t stamp = (44u << 25) | (3u << 21) | (5u << 16) | (14u << 11) | (30u << 5) | 10u;
    const uint64_t utc = 116444736000000000ULL + 1709649020ULL * 10000000ULL;
    struct Case {
        uint32_t stamp;
        uint8_t tenMs, offset;
        uint64_t expected;
    } cases[] = {
        {stamp, 0, 0, utc},                                  // no offset recorded: taken as it is
        {stamp, 150, 0, utc + 15000000},                     // 1.5 s more
        {stamp, 0, 0x80 | 8, utc - 2 * 3600 * 10000000ULL},  // UTC+2
        {stamp, 0, 0x80 | 0x7C, utc + 3600 * 10000000ULL},   // UTC-1
        {0, 0, 0, 0},                                        // no date
        {stamp | (13u << 21), 0, 0, 0},                      // month 13
        {stamp, 200, 0, 0},                                  // hundredths past 2 s
    };
    for (const Case& c : cases) EXPECT_EQ(ExfatTimeToFileTime(c.stamp, c.tenMs, c.offset), c.expected) << c.stamp;
}

TEST(ExfatClusterMap, RunsFollowTheLayout) {
    EXFAT_GEOMETRY g;
    g.nSectorsPerCluster = 8;
    g.nClusterCount = 20; // clusters 2..21
    std::map<uint32_t, uint32_t> fat = {{3, 4}, {4, 9}, {9, 10}, {10, 0xFFFFFFFF}, {12, 13}, {13, 12}, {15, 0}};
    ExfatFatLookup lookup = [&](uint32_t c, uint32_t& next) {
        auto it = fat.find(c);
        next = it == fat.end() ? 0 : it->second;
        return true;
    };
    std::vector<uint8_t> bits(3, 0);
    for (uint32_t used : {6u, 7u, 17u}) bits[(used - 2) / 8] |= uint8_t(1u << ((used - 2) % 8));
    const EXFAT_BITMAP bitmap{bits.data(), bits.size()};
    struct Case {
        const char* what;
        uint32_t first;
        uint64_t length;
        EXFAT_LAYOUT layout;
        int rc;
        std::vector<std::pair<uint32_t, uint32_t>> runs;
    } cases[] = {
        {"contiguous", 3, 3 * 4096, EXFAT_LAYOUT_CONTIGUOUS, 0, {{3, 3}}},
        {"chain in two runs", 3, 4 * 4096, EXFAT_LAYOUT_CHAIN, 0, {{3, 2}, {9, 2}}},
        {"chain ends early", 3, 5 * 4096, EXFAT_LAYOUT_CHAIN, EXFAT_MAP_SHORT, {{3, 2}, {9, 2}}},
        {"chain loops", 12, 5 * 4096, EXFAT_LAYOUT_CHAIN, EXFAT_MAP_SHORT, {{12, 2}}},
        {"free entry ends a chain", 15, 2 * 4096, EXFAT_LAYOUT_CHAIN, EXFAT_MAP_SHORT, {{15, 1}}},
        {"free clusters step over used ones", 5, 3 * 4096, EXFAT_LAYOUT_FREE_CLUSTERS, 0, {{5, 1}, {8, 2}}},
        {"first cluster used: contiguous", 6, 2 * 4096, EXFAT_LAYOUT_FREE_CLUSTERS, 0, {{6, 2}}},
        {"past the volume", 20, 4 * 4096, EXFAT_LAYOUT_CONTIGUOUS, EXFAT_MAP_SHORT, {{20, 2}}},
        {"not a data cluster", 1, 4096, EXFAT_LAYOUT_CONTIGUOUS, EXFAT_MAP_SHORT, {}},
        {"empty file", 0, 0, EXFAT_LAYOUT_CHAIN, 0, {}},
    };
    g.nBytesPerSector = 512;
    for (const Case& c : cases) {
        std::vector<EXFAT_RUN> runs;
        EXPECT_EQ(ExfatMapRuns(g, c.first, c.length, c.layout, lookup, bitmap, runs), c.rc) << c.what;
        std::vector<std::pair<uint32_t, uint32_t>> got;
        for (const EXFAT_RUN& r : runs) got.push_back({r.nCluster, r.nCount});
        EXPECT_EQ(got, c.runs) << c.what;
    }
    // A deleted file: its chain when intact and free, the free clusters when the chain is gone.
    EXPECT_EQ(ExfatDeletedLayout(g, 3, 4 * 4096, false, lookup, bitmap), EXFAT_LAYOUT_CHAIN);
    EXPECT_EQ(ExfatDeletedLayout(g, 15, 2 * 4096, false, lookup, bitmap), EXFAT_LAYOUT_FREE_CLUSTERS);
    EXPECT_EQ(ExfatDeletedLayout(g, 3, 4 * 4096, true, lookup, bitmap), EXFAT_LAYOUT_CONTIGUOUS);
    EXPECT_EQ(ExfatDeletedLayout(g, 15, 2 * 4096, false, lookup, EXFAT_BITMAP{}), EXFAT_LAYOUT_CONTIGUOUS);
}
