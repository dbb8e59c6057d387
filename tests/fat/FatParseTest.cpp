// FAT structures over hand-made bytes: what real volumes cannot be made to hold on demand.
#include "fat/FastFatDirParser.h"
#include "fat/FatStructures.h"
#include "engine/FreeClusterRuns.h"
#include "fat/FastFatGeometry.h"
#include "fat/FatNodeSectors.h"
#include "fat/VirtualDbr.h"
#include "fixtures/FatCraft.h"
#include "fixtures/Le.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

namespace {
using C = FatCraft;

uint16_t DateWord(unsigned y, unsigned m, unsigned d) { return uint16_t(((y - 1980) << 9) | (m << 5) | d); }

FatRawEntry WithDates(FatRawEntry e, uint16_t create, uint16_t access, uint16_t write) {
    return PutLe(&e[16], create, 2), PutLe(&e[18], access, 2), PutLe(&e[24], write, 2), e;
}
FatRawEntry Patched(FatRawEntry e, size_t at, uint8_t v) { return e[at] = v, e; }

std::vector<FASTFAT_DIR_ITEM> Parse(const std::vector<uint8_t>& buf, bool* ended = nullptr) {
    FASTFAT_LONG_NAME ln;
    std::vector<FASTFAT_DIR_ITEM> items;
    bool e = ParseFastFatDirCluster(ByteView(buf.data(), buf.size()), ln, items);
    if (ended) *ended = e;
    return items;
}
} // namespace

TEST(FatEntryRules, EachEntryIsJudgedAlone) {
    const uint16_t ok = DateWord(2020, 6, 15);
    const FatRawEntry lfn = C::LongName("abcde", "ABCDE   TXT")[0], file = C::File("README  TXT", 5, 100);
    const struct { const char* what; FatRawEntry entry; int valid; } cases[] = {
        {"file", file, 1},
        {"lower case", C::File("readme  TXT", 5, 100), 0},
        {"dot in name", C::File("READ.E  TXT", 5, 100), 0},
        {"control byte", C::File("READ\x02   TXT", 5, 100), 0},
        {"label", C::Entry("my disk    ", 0x08, 0, 0), 1},
        {"label with cluster", C::Entry("MYDISK     ", 0x08, 7, 0), 0},
        {"label and archive", C::Entry("MYDISK     ", 0x28, 0, 0), 0},
        {"file without archive bit", C::Entry("README  TXT", 0, 5, 100), 0},
        {"deleted file without archive bit", C::Entry("\xE5" "EADME  TXT", 0x02, 5, 100), 0},
        {"folder", C::Dir("PHOTOS     ", 9), 1},
        {"read-only folder", C::Entry("PHOTOS     ", 0x11, 9, 0), 0},
        {"folder with a size", C::Entry("PHOTOS     ", 0x10, 9, 512), 0},
        {"deleted folder with a size", C::Entry("\xE5" "HOTOS     ", 0x10, 9, 512), 1},
        {"high attribute bits", C::Entry("README  TXT", 0x60, 5, 100), 0},
        {"empty file with a cluster", C::File("EMPTY   TXT", 12, 0), 0},
        {"empty file", C::File("EMPTY   TXT", 0, 0), 1},
        {"live file of 1991-05-02", WithDates(file, ok, ok, DateWord(1991, 5, 2)), 0},
        {"created 2080-01-24", WithDates(file, DateWord(2080, 1, 24), ok, ok), 0},
        {"deleted file without dates", WithDates(C::File("README  TXT", 5, 100, true), 0, 0, 0), 1},
        {"folder without dates", WithDates(C::Dir("PHOTOS     ", 9), 0, 0, 0), 1},
        {"long-name piece", lfn, 1},
        {"piece 19", Patched(lfn, 0, 0x40 | 19), 0},
        {"deleted piece", Patched(lfn, 0, 0xE5), 1},
        {"piece with a cluster", Patched(lfn, 26, 3), 0},
    };
    {
        ScopedEnv tz("TZ", "UTC");
        tzset();
        for (const auto& c : cases) EXPECT_EQ(c.valid, IsFatEntyValid(reinterpret_cast<const FAT32_Entry*>(c.entry.data()))) << c.what;
    }
    tzset();
    for (const char* bad : {"readme  TXT", "READ\x01   TXT", "ABC\\EFGHTXT", "ABC*EFGHTXT"}) EXPECT_EQ(1, IsInvalidShortFileName(bad)) << bad;
    for (const char* good : {"README  TXT", "\xE5" "EADME  TXT", "\xD6\xD0\xCE\xC4    TXT"}) EXPECT_EQ(0, IsInvalidShortFileName(good)) << good;
}

TEST(FatEntryRules, DirectoryTablesAndDotPairs) {
    std::vector<uint8_t> dots = C::Table({C::Dir(".          ", 9), C::Dir("..         ", 0)});
    EXPECT_EQ(1, IsFatFileRecord(dots.data()));
    // Only the "." entry at the very end of a buffer: no pair, nothing past the end read.
    EXPECT_EQ(0, IsFatFileRecord(dots.data(), 32));
    EXPECT_EQ(0, IsFatFDTRecord(dots.data(), 512)) << "a dot pair alone is not a table";
    dots[33] = 'X';
    EXPECT_EQ(0, IsFatFileRecord(dots.data()));
    const char* sn = "LONGFI~1TXT";
    const uint8_t sum = GetShortNameCheckSum(sn);
    auto piece = [&](uint8_t ord, uint8_t s) { return Patched(Patched(C::LongName("abcdefghijklmnopqrstuvwxy", sn)[0], 0, ord), 13, s); };
    std::vector<FatRawEntry> full(15, C::File("README  TXT", 5, 100));
    full.push_back(piece(0x41, 0));
    std::vector<uint8_t> trailing = C::Table({C::File("README  TXT", 5, 100)});
    trailing[300] = 1;
    const struct { const char* what; std::vector<uint8_t> table; int isTable; } cases[] = {
        {"zeros", std::vector<uint8_t>(512, 0), 0},
        {"one file", C::Table({C::File("README  TXT", 5, 100)}), 1},
        {"bytes after the end mark", trailing, 0},
        {"long name with its checksum", C::Table({piece(0x42, sum), piece(0x01, sum), C::File(sn, 5, 100)}), 1},
        {"wrong checksum", C::Table({piece(0x42, uint8_t(sum + 1)), piece(0x01, uint8_t(sum + 1)), C::File(sn, 5, 100)}), 0},
        {"mixed checksums", C::Table({piece(0x42, sum), piece(0x01, uint8_t(sum + 1)), C::File(sn, 5, 100)}), 0},
        {"deleted pair", C::Table({piece(0xE5, sum), C::File(sn, 5, 100, true)}), 1},
        {"blank inside the name", C::Table({C::File("READ ME TXT", 5, 100)}), 0},
        {"half a double-byte pair", C::Table({C::File("AB\xD6" "C    TXT", 5, 100)}), 0},
        {"double-byte pair", C::Table({C::File("AB\xD6\xD0    TXT", 5, 100)}), 1},
        {"full table ending in a cut long name", C::Table(full), 1},
        {"noise", RandomBytes(512, 7), 0},
    };
    for (const auto& c : cases) EXPECT_EQ(c.isTable, IsFatFDTRecord(c.table.data(), 512)) << c.what;
    EXPECT_EQ(0, IsFatFDTRecord(cases[1].table.data(), 16));
}

// A long name that runs on into the next cluster is the quick scan's own test (the volume's "Many" folder).
TEST(FastFatDirParser, ThePieceLimitAndCutShortNames) {
    // Nineteen pieces still make a name; twenty end the directory.
    std::vector<FatRawEntry> run(20, C::LongName("x", "X          ", true)[0]);
    for (FatRawEntry& p : run) std::memset(&p[1], 'A', 10);
    run.push_back(C::File("AFTER   TXT", 5, 10));
    bool ended = false;
    EXPECT_TRUE(Parse(C::Table(run, 2048), &ended).empty());
    EXPECT_TRUE(ended);
    run.erase(run.begin());
    run.insert(run.end() - 1, C::File("NINETEENTXT", 5, 10));
    std::vector<FASTFAT_DIR_ITEM> items = Parse(C::Table(run, 2048));
    ASSERT_EQ(2u, items.size());
    EXPECT_GT(std::strlen(items[0].szName), 13u);
    EXPECT_STREQ("after.txt", items[1].szName);
    char out[32];
    FAT32_Entry e;
    std::memcpy(&e, C::File("\xE5" "B      C  ", 5, 10).data(), sizeof e);
    FormatFastFatShortName(e, false, out, 3);
    EXPECT_STREQ("!b", out) << "cut to the buffer";
}

TEST(FastFatGeometry, BootSectorsAndTheirRefusals) {
    auto boot = [](bool fat32, uint16_t bps, uint8_t spc, uint32_t total32, uint16_t total16 = 0) {
        std::vector<uint8_t> b(512, 0);
        PutLe16(b, 0x0B, bps), b[0x0D] = spc, PutLe16(b, 0x0E, fat32 ? 32 : 4), b[0x10] = 2;
        PutLe16(b, 0x13, total16), PutLe32(b, 0x20, total32);
        if (fat32) PutLe32(b, 0x24, 700), PutLe32(b, 0x2C, 2), std::memcpy(&b[0x52], "FAT32   ", 8);
        else PutLe16(b, 0x16, 32);
        return b;
    };
    auto parse = [](const std::vector<uint8_t>& b, FAST_FAT_GEOMETRY& g) { return ParseFastFatGeometry(ByteView(b.data(), b.size()), g); };
    FAST_FAT_GEOMETRY g;
    ASSERT_EQ(0, parse(boot(false, 512, 1, 4000000), g));
    EXPECT_EQ(32u * 512 / 2 - 2, g.nClusterCount) << "the FAT bounds the cluster count";
    std::vector<uint8_t> farRoot = boot(true, 512, 1, 80000);
    PutLe32(farRoot, 0x2C, 0xFFFFFF);
    for (const auto& bad : {boot(true, 512, 0, 80000), boot(true, 512, 3, 80000), boot(true, 100, 1, 80000),
                            boot(true, 512, 1, 1000), boot(false, 512, 4, 0, 0), farRoot, std::vector<uint8_t>(0x20, 0)})
        EXPECT_EQ(87, parse(bad, g));
}

TEST(FreeClusterRuns, RunsSkipUsedClustersAndStopAtTheEnd) {
    // Clusters 2..25: used 0-3, free 4-9, used 10, free 11-23; 4 sectors each from sector 100.
    std::vector<uint8_t> bits = {0x0F, 0x04, 0x00};
    CLUSTER_BITMAP_VIEW v{bits.data(), 3, 24, 4, 100, 100 + 24 * 4};
    // {from, sector, count}: the first run, the next past cluster 10, nothing after,
    // inside a free cluster (the offset is kept), past the volume (clamped).
    const uint64_t cases[][3] = {{0, 116, 24}, {140, 144, 52}, {196, 196, 0}, {122, 122, 18}, {100000, 196, 0}};
    for (const auto& c : cases) {
        uint64_t sector = c[0], count = 7;
        NextFreeClusterRun(v, sector, count);
        EXPECT_EQ(c[1], sector) << c[0];
        EXPECT_EQ(c[2], count) << c[0];
    }
    v.u64SectorCount = 100 + 20 * 4; // the volume ends inside the last run
    uint64_t sector = 144, count = 0;
    NextFreeClusterRun(v, sector, count);
    EXPECT_EQ(36u, count);
    std::vector<uint8_t> full = {0xFF, 0xFF, 0x0F};
    v.pBits = full.data();
    v.nClusterCount = 20; // bits 20-23 are padding, not clusters
    sector = 0;
    NextFreeClusterRun(v, sector, count);
    EXPECT_EQ(0u, count);
}

TEST(VirtualDbr, AnchorsLookupsAndImpossiblePairings) {
    __VIRTUAL_DBR_INFO__ d{};
    ASSERT_TRUE(CalcVirtualDbrFromAnchors(20, 1080, 10, 1000, 500, &d));
    EXPECT_EQ(8u, d.nSectorsPerCluster);
    EXPECT_EQ(436u, d.nDataStartSector) << "kept relative to the area";
    EXPECT_EQ(1080u, VirtualDbrClusterSector(d, 20));
    // 7.5 and 256 sectors per cluster, 6 (no power of two), data before sector 0 or
    // before the area, one cluster twice, cluster 1, the higher cluster lower down.
    const uint64_t bad[][5] = {{10, 1000, 20, 1075, 0}, {10, 1000, 11, 1256, 0}, {10, 1000, 13, 1018, 0},
                               {200, 100, 201, 108, 0}, {10, 1000, 20, 1080, 960}, {10, 1000, 10, 1080, 0},
                               {1, 1000, 11, 1080, 0},  {10, 1080, 20, 1000, 0}};
    for (const auto& b : bad)
        EXPECT_FALSE(CalcVirtualDbrFromAnchors(uint32_t(b[0]), b[1], uint32_t(b[2]), b[3], b[4], &d)) << b[0] << " " << b[3];
    __VIRTUAL_DBR_INFO__ v{4, 100, 1000}; // data area at 1100
    uint32_t c = 99;
    EXPECT_TRUE(VirtualDbrClusterAt(v, 1108, &c));
    EXPECT_EQ(4u, c);
    EXPECT_FALSE(VirtualDbrClusterAt(v, 1109, &c));
    EXPECT_TRUE(VirtualDbrClusterAt(v, 1068, &c)); // the FAT16 root area
    EXPECT_EQ(0u, c);
    EXPECT_TRUE(VirtualDbrClusterContaining(v, 1111, &c));
    EXPECT_EQ(4u, c);
    EXPECT_FALSE(VirtualDbrClusterContaining(v, 1067, &c));
    std::vector<__VIRTUAL_DBR_INFO__> all = {{8, 936, 0}, {4, 5000, 0}, {1, 20000, 0}};
    EXPECT_EQ(1, FindExactVirtualDbr(all, 5032, 10));
    EXPECT_EQ(-1, FindExactVirtualDbr(all, 1001, 10));
    EXPECT_EQ(0, FindNearestVirtualDbr(all, 1007, 10));
    EXPECT_EQ(-1, FindNearestVirtualDbr(all, 5008, 10));
    EXPECT_EQ(-1, FindBestVirtualDbr({}, 10, false));
    EXPECT_EQ(1, FindBestVirtualDbr(all, 7000, false));
    EXPECT_EQ(0, FindBestVirtualDbr(all, 10, false)) << "none below: the first";
    std::vector<__VIRTUAL_DBR_INFO__> real = {{8, 5500, 0}, {4, 5000, 0}};
    EXPECT_EQ(1, FindBestVirtualDbr(real, 6000, true)) << "a real boot sector in front is passed over";
    // {data start, cluster, first sector}: cluster 0 is the FAT12/16 root folder, cluster 1 nothing.
    const uint64_t placed[][3] = {{1000, 5, 1024}, {1000, 0, 968}, {1000, 1, UINT64_MAX}, {20, 0, UINT64_MAX},
                                  {1000, 0xFFFFFFF, 1000 + uint64_t(0xFFFFFFF - 2) * 8}};
    for (const auto& p : placed) {
        _FILE_NODE_ node{};
        node.u64DataStartSector = p[0], node.nClusterNO = uint32_t(p[1]), node.nClusterBytes = 4096;
        EXPECT_EQ(p[2], FatNodeFirstSector(node)) << p[0] << " " << p[1];
    }
}

// Every FAT date word converts by arithmetic to what mktime gives, in zones east and west of UTC, with and without
// summer time, on whole and half hours; entry times keep that past 32 bits.
TEST(FatDate, ArithmeticMatchesMktimeOverTheWholeRange) {
    for (const char* zone : {"UTC", "Europe/Paris", "America/New_York", "Asia/Tokyo", "Asia/Kolkata"}) {
        ScopedEnv tz("TZ", zone);
        tzset();
        std::vector<int64_t> want(0x10000);
        for (uint32_t word = 0; word <= 0xFFFF; ++word) {
            struct tm tm{};
            tm.tm_year = 80 + int(word >> 9), tm.tm_mon = int((word >> 5) & 0x0F) - 1, tm.tm_mday = int(word & 0x1F);
            want[word] = mktime(&tm);
        }
        int mismatches = 0;
        for (uint32_t word = 0; word <= 0xFFFF; ++word) {
            FAT32_Entry e{};
            e.DIR_CrtDate = uint16_t(word), e.DIR_WrtDate = uint16_t(0xFFFF - word);
            _FILETIME c, w;
            Fat32GetFileCreateTime(&e, &c), Fat32GetFileLastChangeTime(&e, &w);
            if ((FatDateToUnixTime(uint16_t(word)) != want[word] || FileTimeToU64(c) != uint64_t(want[word]) ||
                 FileTimeToU64(w) != uint64_t(want[0xFFFF - word])) && ++mismatches <= 3)
                ADD_FAILURE() << zone << " date word " << word;
        }
        EXPECT_EQ(0, mismatches) << zone;
    }
    tzset();
}
