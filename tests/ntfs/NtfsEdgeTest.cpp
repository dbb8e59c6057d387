// NTFS runlists and records made by hand, for the cases a formatter cannot be made to produce on demand.
#include "fixtures/NtfsImageRecord.h"
#include "ntfs/CNtfsParse.h"
#include "ntfs/NtfsRecordAccess.h"
#include "ntfs/ProfessionalNtfsGeometry.h"
#include "ntfs/ProfessionalNtfsRecord.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

namespace {
// A bare non-resident attribute header (runlist at 0x40, declared length L) followed by `runs`.
std::vector<uint8_t> NonResidentAttr(const std::vector<uint8_t>& runs, size_t declaredLength = 0) {
    std::vector<uint8_t> a(0x40 + runs.size(), 0);
    PutLe32(a, 0, 0x80), PutLe32(a, 4, uint32_t(declaredLength ? declaredLength : a.size())), a[8] = 1, PutLe16(a, 0x20, 0x40);
    std::copy(runs.begin(), runs.end(), a.begin() + 0x40); // after the header: GCC 12 misjudges it when runs is empty
    return a;
}
} // namespace

TEST(NtfsRunList, Decoding) {
    std::vector<uint8_t> many;
    for (int i = 0; i < 200; ++i) many.insert(many.end(), {0x11, uint8_t(1 + i % 5), uint8_t(i % 2 ? 0xFE : 0x04)});
    many.push_back(0);
    const struct { // runs: (length, offset) of the first runs
        const char* what; std::vector<uint8_t> bytes; size_t declared; std::vector<std::pair<uint64_t, int64_t>> runs; size_t count;
    } cases[] = {
        {"header 0x00 ends it", {0x00, 0x11, 0x05, 0x10}, 0, {}, 0},
        {"length nibble 8 ends it", {0x81, 0x05, 0x10}, 0, {}, 0},
        {"offset nibble 8 ends it", {0x11, 0x05, 0x10, 0x18, 0x01, 0x02}, 0, {{5, 0x10}}, 1},
        {"sparse run", {0x04, 0x10, 0x00, 0x00, 0x00, 0x00}, 0, {{16, 0}}, 1},
        {"offsets are sign-extended", {0x21, 0x01, 0xFF, 0xFF, 0x21, 0x02, 0x00, 0x80, 0x11, 0x03, 0x7F, 0x31, 0x04, 0x00, 0x00, 0x01}, 0,
         {{1, -1}, {2, -32768}, {3, 127}, {4, 65536}}, 4},
        {"only four length bytes count", {0x16, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x10}, 0, {{0x04030201, 0x10}}, 1},
        {"a run past the declared length", {0x11, 0x05, 0x10, 0x22, 0x01, 0x00, 0x00, 0x10, 0x00}, 0x45, {{5, 0x10}}, 1},
        {"a declared length past the bytes", {0x11, 0x05, 0x10, 0x11, 0x06, 0x20, 0x11}, 0xFFFF0, {{5, 0x10}, {6, 0x20}}, 2},
        {"two hundred runs", many, 0, {{1, 4}, {2, -2}}, 200},
    };
    for (const auto& c : cases) {
        CNtfsParse parse;
        std::vector<uint8_t> attr = NonResidentAttr(c.bytes, c.declared);
        std::vector<__RUNLIST__> runs;
        parse.GetRunList(attr.data(), attr.size(), runs);
        ASSERT_EQ(c.count, runs.size()) << c.what;
        for (size_t i = 0; i < c.runs.size(); ++i) {
            EXPECT_EQ(c.runs[i].first, runs[i].u64RunLength) << c.what << " run " << i;
            EXPECT_EQ(c.runs[i].second, runs[i].n64RunOffset) << c.what << " run " << i;
        }
    }
    // The record-bounded form on a 4096-byte record geometry decodes the long list too.
    CNtfsParse big;
    big.Init(4096);
    std::vector<uint8_t> record = NonResidentAttr(many), attr;
    record.resize(4096, 0);
    std::vector<__RUNLIST__> runs;
    big.GetRunList(record.data(), runs);
    EXPECT_EQ(200u, runs.size());
    // A runlist offset beyond the attribute, a cut header: nothing.
    attr = NonResidentAttr({0x11, 0x05, 0x10, 0x00});
    PutLe16(attr, 0x20, 0x200);
    runs.clear();
    big.GetRunList(attr.data(), attr.size(), runs);
    big.GetRunList(attr.data(), 8, runs);
    EXPECT_TRUE(runs.empty());
    std::vector<__RUNLIST__> joined = {{2, 100}, {3, 50}};
    AppendRunExtent(joined, {{4, 0}, {1, 400}, {2, -10}}); // a hole, then clusters 400 and 390
    int64_t lcn = 0;
    std::vector<int64_t> starts;
    for (const __RUNLIST__& r : joined) starts.push_back(IsSparseRun(r) ? -1 : (lcn += r.n64RunOffset));
    EXPECT_EQ((std::vector<int64_t>{100, 150, -1, 400, 390}), starts) << "extents are rebased when joined";
    EXPECT_EQ(12u, CountRunClusters(joined));
}

// Hostile record bytes that only need to end without harm are the fuzz targets' work;
// these pin what the walks answer.
TEST(NtfsRecord, FixUpsAndAttributeWalks) {
    CNtfsParse parse;
    auto fixed = [&](const NtfsImageRecord& r) { std::vector<uint8_t> b = r.Finish(); parse.FileRecordFixUp(b.data()); return b; };
    std::vector<uint8_t> unsigned_ = NtfsImageRecord(40, 1).Finish(0x0BAD);
    unsigned_[0] = 0;
    std::vector<uint8_t> copy = unsigned_;
    EXPECT_EQ(-1, parse.FileRecordFixUp(copy.data()));
    EXPECT_EQ(unsigned_, copy) << "a record without its signature is left alone";
    // 4 KiB sectors, a header that does not describe the record: one word, at the sector's end.
    parse.Init(4096);
    std::vector<uint8_t> odd(4096, 0x11);
    std::copy_n("FILE", 4, odd.begin());
    PutLe16(odd, 0x04, 0x30), PutLe16(odd, 0x06, 2), PutLe16(odd, 0x32, 0xBEEF);
    ASSERT_EQ(0, parse.FileRecordFixUp(odd.data()));
    EXPECT_EQ(0xBEEFu, GetLe(odd, 4094, 2));
    EXPECT_EQ(0x11, odd[510]);
    parse.Init(12345);
    EXPECT_EQ(512, parse.GetBytesPerSector()) << "a nonsense sector size is not trusted";
    NtfsImageRecord builder(50, 0);
    builder.AddFileName(5, u"a.bin", 1);
    builder.AddData({{3, 1000}}, 9000);
    const std::vector<uint8_t> good = fixed(builder);
    std::vector<__RUNLIST__> runs;
    NTFS_RUNLIST_LOOKUP info;
    ASSERT_EQ(0, FindRecordRunList(parse, good.data(), good.size(), 0x80, NTFS_ANY_VCN, runs, info));
    ASSERT_EQ(1u, runs.size());
    EXPECT_EQ(1000, runs[0].n64RunOffset);
    uint64_t size = 0;
    ASSERT_EQ(0, FindDataRealSize(good.data(), good.size(), size));
    EXPECT_EQ(9000u, size);
    // {offset, bytes, value}: attribute lengths of 0 and past the record, first-attribute offsets past it.
    const uint32_t damage[][3] = {{0x38 + 4, 4, 0}, {0x38 + 4, 4, 5000}, {0x14, 2, 0x9000}, {0x14, 2, 1020}};
    for (const auto& d : damage) {
        std::vector<uint8_t> bad = good;
        PutLe(&bad[d[0]], d[2], int(d[1]));
        runs.clear();
        EXPECT_EQ(-100, FindRecordRunList(parse, bad.data(), bad.size(), 0x80, NTFS_ANY_VCN, runs, info)) << d[0] << "=" << d[2];
        EXPECT_TRUE(runs.empty());
    }
    // The wanted attribute wins over the attribute list; a list alone names its entries.
    NtfsImageRecord both(60, 0);
    both.AddResidentAttrList({{0x30, 60, 0, 0}, {0x80, 61, 0, 0}});
    both.AddFileName(5, u"f", 1);
    both.AddData({{2, 300}}, 8000, 0, 8192);
    std::vector<uint8_t> rec = fixed(both);
    runs.clear();
    ASSERT_EQ(0, FindRecordRunList(parse, rec.data(), rec.size(), 0x80, NTFS_ANY_VCN, runs, info));
    EXPECT_EQ(300, runs.at(0).n64RunOffset);
    NtfsImageRecord listOnly(62, 0);
    listOnly.AddResidentAttrList({{0x30, 62, 0, 0}, {0x80, 70, 0, 3}, {0x80, 71, 0, 0}, {0x80, 72, 9, 0}});
    rec = fixed(listOnly);
    EXPECT_EQ(-100, FindRecordRunList(parse, rec.data(), rec.size(), 0x80, NTFS_ANY_VCN, runs, info));
    ASSERT_NE(0u, info.nAttrListPos);
    std::vector<NTFS_ATTR_LIST_ENTRY> entries;
    CollectResidentAttrListEntries(rec.data() + info.nAttrListPos, rec.size() - info.nAttrListPos, 0x80, entries);
    ASSERT_EQ(2u, entries.size()) << "a named stream is not the file's data";
    EXPECT_EQ(9u, entries[1].u64LowestVcn);
    std::vector<uint8_t> list = NtfsImageRecord::EncodeAttrList({{0x80, 80, 0, 0}, {0x80, 81, 4, 0}});
    entries.clear();
    CollectAttrListEntries(list.data(), list.size() - 4, 0x80, entries);
    EXPECT_EQ(1u, entries.size()) << "an entry cut by the end of the list is dropped";
    NtfsImageRecord res(70, 0);
    res.AddResidentData({}, u"ads");
    res.AddResidentData({'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'});
    rec = res.Finish();
    size_t valueOffset = 0;
    uint32_t length = 0;
    ASSERT_EQ(0, FindResidentData(rec.data(), rec.size(), valueOffset, length));
    EXPECT_EQ('9', rec[valueOffset + 9]) << "the unnamed stream, not a named one";
    std::vector<__RUNLIST__> mft = {{4, 100}, {4, 50}}; // 16 records in each run
    uint64_t sector = 0;
    ASSERT_TRUE(MapMftRecordSector(mft, 16, 2, 8, 2048, sector));
    EXPECT_EQ(2048u + 150 * 8, sector) << "first sector of the second run";
    EXPECT_FALSE(MapMftRecordSector(mft, 32, 2, 8, 2048, sector));
    EXPECT_FALSE(MapMftRecordSector({{4, -10}}, 0, 2, 8, 7, sector)) << "a run before the volume";
    EXPECT_FALSE(NtfsFirstDataSector({{4, 0}, {4, 100}}, 4096, 2048, sector, 512)) << "data that starts with a hole";
    // Deep engine: only a usable $DATA whose allocation is a cluster-size multiple of its clusters tells the cluster size.
    using namespace pro_ntfs;
    uint64_t rel = 0;
    ASSERT_TRUE(LocateRecordInMft({{0, 10}}, 8, 1000, rel)) << "a run of length 0 is a contiguous $MFT";
    EXPECT_EQ(80u + 2000, rel);
    const std::tuple<std::vector<NtfsImageRun>, bool, uint32_t> cases[] = {
        {{{10, 100}, {6, 40}}, false, 8}, {{{128, 1000}}, false, 1}, {{{3, 100}}, false, 0}, {{{16, 100}}, true, 0}, {{}, false, 0}};
    for (const auto& [r, listFirst, spc] : cases) {
        NtfsImageRecord one(40, 1);
        one.AddFileName(5, u"a.bin", 1, 1);
        if (listFirst) one.AddResidentAttrList({{0x80, 41, 0, 0}});
        one.AddData(r, 65536, 0, 65536);
        const std::vector<uint8_t> bytes = fixed(one);
        EXPECT_EQ(spc, InferSectorsPerCluster(parse, bytes.data(), bytes.size())) << r.size() << " runs";
    }
}
