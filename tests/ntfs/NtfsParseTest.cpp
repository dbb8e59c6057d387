#include "ntfs/CNtfsParse.h"
#include "ntfs/NtfsRecordAccess.h"

#include "fixtures/NtfsImageRecord.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {
// A bare non-resident attribute header (length L, runlist at 0x40) followed by `runs`.
std::vector<uint8_t> NonResidentAttr(const std::vector<uint8_t>& runs, size_t declaredLength = 0) {
    std::vector<uint8_t> a(0x40 + runs.size(), 0);
    PutLe32(a, 0, 0x80);
    PutLe32(a, 4, uint32_t(declaredLength ? declaredLength : a.size()));
    a[8] = 1;
    PutLe16(a, 0x20, 0x40);
    std::copy(runs.begin(), runs.end(), a.begin() + 0x40);
    return a;
}

std::vector<__RUNLIST__> Decode(const std::vector<uint8_t>& runBytes) {
    CNtfsParse parse;
    std::vector<uint8_t> attr = NonResidentAttr(runBytes);
    std::vector<__RUNLIST__> runs;
    parse.GetRunList(attr.data(), attr.size(), runs);
    return runs;
}
} // namespace

TEST(NtfsParseRunList, HeaderBytesEndOrShapeTheRuns) {
    EXPECT_TRUE(Decode({0x00, 0x11, 0x05, 0x10}).empty()) << "header 0x00 ends the runlist";
    EXPECT_TRUE(Decode({0x81, 0x05, 0x10}).empty()) << "a length nibble of 8 ends it";
    auto stopped = Decode({0x11, 0x05, 0x10, 0x18, 0x01, 0x02});
    ASSERT_EQ(1u, stopped.size()) << "an offset nibble of 8 ends it without error";

    auto sparse = Decode({0x04, 0x10, 0x00, 0x00, 0x00, 0x00});
    ASSERT_EQ(1u, sparse.size());
    EXPECT_EQ(16u, sparse[0].u64RunLength);
    EXPECT_EQ(0, sparse[0].n64RunOffset);
    EXPECT_TRUE(IsSparseRun(sparse[0]));
}

TEST(NtfsParseRunList, OffsetsAreSignExtendedAndKeptRelative) {
    auto runs = Decode({0x21, 0x01, 0xFF, 0xFF, 0x21, 0x02, 0x00, 0x80, 0x11, 0x03, 0x7F, 0x31, 0x04, 0x00, 0x00, 0x01});
    ASSERT_EQ(4u, runs.size());
    EXPECT_EQ(-1, runs[0].n64RunOffset);
    EXPECT_EQ(-32768, runs[1].n64RunOffset);
    EXPECT_EQ(127, runs[2].n64RunOffset);
    EXPECT_EQ(65536, runs[3].n64RunOffset);
    EXPECT_EQ(1u, runs[0].u64RunLength);
    EXPECT_EQ(4u, runs[3].u64RunLength);
}

TEST(NtfsParseRunList, OnlyTheLowFourLengthBytesCount) {
    auto runs = Decode({0x16, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x10});
    ASSERT_EQ(1u, runs.size());
    EXPECT_EQ(0x04030201u, runs[0].u64RunLength);
    EXPECT_EQ(0x10, runs[0].n64RunOffset);
}

TEST(NtfsParseRunList, LongRunlistsAreDecodedWhole) {
    // 200 runs of 3 bytes: an attribute well over 512 bytes, as a fragmented file has.
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 200; ++i) {
        bytes.push_back(0x11);
        bytes.push_back(uint8_t(1 + i % 5));
        bytes.push_back(uint8_t(i % 2 ? 0xFE : 0x04));
    }
    bytes.push_back(0);
    std::vector<uint8_t> attr = NonResidentAttr(bytes);
    ASSERT_GE(attr.size(), 512u);
    CNtfsParse parse;
    std::vector<__RUNLIST__> runs;
    parse.GetRunList(attr.data(), attr.size(), runs);
    ASSERT_EQ(200u, runs.size());
    EXPECT_EQ(uint64_t(1 + 199 % 5), runs[199].u64RunLength);
    EXPECT_EQ(-2, runs[199].n64RunOffset);

    // The same through the record-bounded form on a 4096-byte record geometry.
    CNtfsParse big;
    big.Init(4096);
    std::vector<uint8_t> record(4096, 0);
    std::copy(attr.begin(), attr.end(), record.begin());
    runs.clear();
    big.GetRunList(record.data(), runs);
    EXPECT_EQ(200u, runs.size());
}

TEST(NtfsParseRunList, StaysInsideItsAttributeAndItsRecord) {
    // The second run's bytes pass the attribute's declared length.
    std::vector<uint8_t> bytes = {0x11, 0x05, 0x10, 0x22, 0x01, 0x00, 0x00, 0x10, 0x00};
    std::vector<uint8_t> attr = NonResidentAttr(bytes, 0x40 + 5);
    CNtfsParse parse;
    std::vector<__RUNLIST__> runs;
    parse.GetRunList(attr.data(), attr.size(), runs);
    EXPECT_EQ(1u, runs.size());

    // A declared length far beyond the bytes available is cut to them.
    attr = NonResidentAttr({0x11, 0x05, 0x10, 0x11, 0x06, 0x20, 0x11}, 0xFFFF0);
    runs.clear();
    parse.GetRunList(attr.data(), attr.size(), runs);
    EXPECT_EQ(2u, runs.size());

    // A runlist offset beyond the attribute yields nothing.
    attr = NonResidentAttr({0x11, 0x05, 0x10, 0x00});
    PutLe16(attr, 0x20, 0x200);
    runs.clear();
    parse.GetRunList(attr.data(), attr.size(), runs);
    EXPECT_TRUE(runs.empty());
    parse.GetRunList(nullptr, 100, runs);
    parse.GetRunList(attr.data(), 8, runs);
    EXPECT_TRUE(runs.empty());
}

TEST(NtfsParseFixUp, RestoresTheProtectedWordsOfEachStride) {
    NtfsImageRecord builder(40, 1);
    std::vector<uint8_t> payload(600);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(i * 7 + 3);
    builder.AddResidentData(payload);
    std::vector<uint8_t> rec = builder.Finish(0x0BAD);
    const size_t valueAt = 0x38 + 0x18;
    EXPECT_EQ(0xAD, rec[510]);
    CNtfsParse parse;
    ASSERT_EQ(0, parse.FileRecordFixUp(rec.data()));
    EXPECT_EQ(payload[510 - valueAt], rec[510]);
    EXPECT_EQ(payload[511 - valueAt], rec[511]);
    EXPECT_EQ(0u, rec[1022]) << "the unused tail was zero before protection";

    std::vector<uint8_t> untouched = rec;
    untouched[0] = 0;
    std::vector<uint8_t> copy = untouched;
    EXPECT_EQ(-1, parse.FileRecordFixUp(copy.data()));
    EXPECT_EQ(untouched, copy);
    EXPECT_EQ(-1, parse.FileRecordFixUp(nullptr));
}

TEST(NtfsParseFixUp, FourKiBSectorsMakeOneRecordPerSector) {
    CNtfsParse parse;
    parse.Init(4096);
    EXPECT_EQ(1, parse.GetSectorsPerRecord());
    EXPECT_EQ(4096, parse.GetRecordSize());

    // A record whose header declares the usual 512-byte strides: all eight are restored.
    NtfsImageRecord builder(41, 1, 4096);
    std::vector<uint8_t> payload(3000, 0x5A);
    builder.AddResidentData(payload);
    std::vector<uint8_t> rec = builder.Finish(0x0777);
    ASSERT_EQ(0, parse.FileRecordFixUp(rec.data()));
    for (int s = 1; s <= 8; ++s) {
        uint16_t word = uint16_t(rec[s * 512 - 2] | (rec[s * 512 - 1] << 8));
        EXPECT_NE(0x0777, word) << "stride " << s;
    }

    // A header that does not describe the record: one word, at the sector's end.
    std::vector<uint8_t> odd(4096, 0x11);
    std::copy_n("FILE", 4, odd.begin());
    PutLe16(odd, 0x04, 0x30);
    PutLe16(odd, 0x06, 2);
    PutLe16(odd, 0x32, 0xBEEF);
    ASSERT_EQ(0, parse.FileRecordFixUp(odd.data()));
    EXPECT_EQ(0xEF, odd[4094]);
    EXPECT_EQ(0xBE, odd[4095]);
    EXPECT_EQ(0x11, odd[510]);

    parse.Init(0);
    EXPECT_EQ(512, parse.GetBytesPerSector());
    EXPECT_EQ(1024, parse.GetRecordSize());
    parse.Init(12345);
    EXPECT_EQ(512, parse.GetBytesPerSector()) << "a nonsense sector size is not trusted";
    parse.Init(2048);
    EXPECT_EQ(2048, parse.GetRecordSize());
}

TEST(NtfsRecordAccess, RecordNumbersMapThroughTheMftRuns) {
    // Two runs of 4 clusters of 8 sectors: 16 records each.
    std::vector<__RUNLIST__> runs = {{4, 100}, {4, 50}};
    uint64_t sector = 0;
    ASSERT_TRUE(MapMftRecordSector(runs, 0, 2, 8, 2048, sector));
    EXPECT_EQ(2048u + 800, sector);
    ASSERT_TRUE(MapMftRecordSector(runs, 15, 2, 8, 2048, sector));
    EXPECT_EQ(2048u + 800 + 30, sector);
    ASSERT_TRUE(MapMftRecordSector(runs, 16, 2, 8, 2048, sector)) << "first sector of the second run";
    EXPECT_EQ(2048u + 150 * 8, sector);
    EXPECT_FALSE(MapMftRecordSector(runs, 32, 2, 8, 2048, sector));
    EXPECT_EQ(2048u, sector) << "outside every run: the volume start";
    EXPECT_FALSE(MapMftRecordSector({}, 0, 2, 8, 7, sector));
    EXPECT_FALSE(MapMftRecordSector({{4, -10}}, 0, 2, 8, 7, sector)) << "a run before the volume";
    EXPECT_FALSE(MapMftRecordSector({{1, INT64_MAX}, {1, INT64_MAX}}, 1, 2, 1, 7, sector)) << "offsets past the range";
}

TEST(NtfsRecordAccess, FirstDataSectorOnlyWhereTheDataBegins) {
    // Clusters of 4096 bytes on a volume at 2048; {runs, sector size, found, sector}.
    const std::tuple<std::vector<__RUNLIST__>, uint32_t, bool, uint64_t> cases[] = {
        {{{4, 100}, {4, 50}}, 512, true, 2048 + 800}, {{{4, 100}}, 4096, true, 2048 + 100}, {{}, 512, false, 0},
        {{{4, 0}, {4, 100}}, 512, false, 0}, /* starts with a hole */ {{{4, -10}}, 512, false, 0}};
    for (const auto& [runs, bytesPerSector, found, expected] : cases) {
        uint64_t sector = 0;
        EXPECT_EQ(found, NtfsFirstDataSector(runs, 4096, 2048, sector, bytesPerSector));
        EXPECT_EQ(expected, found ? sector : 0);
    }
}

TEST(NtfsRecordAccess, AttributeWalksStopAtDamage) {
    CNtfsParse parse;
    NtfsImageRecord builder(50, 0);
    builder.AddFileName(5, u"a.bin", 1);
    builder.AddNonResident(0x80, EncodeNtfsRunList({{3, 1000}}), 9000);
    std::vector<uint8_t> good = builder.Finish();
    parse.FileRecordFixUp(good.data());

    std::vector<__RUNLIST__> runs;
    NTFS_RUNLIST_LOOKUP info;
    ASSERT_EQ(0, FindRecordRunList(parse, good.data(), good.size(), 0x80, NTFS_ANY_VCN, runs, info));
    ASSERT_EQ(1u, runs.size());
    EXPECT_EQ(1000, runs[0].n64RunOffset);
    uint64_t size = 0;
    ASSERT_EQ(0, FindDataRealSize(good.data(), good.size(), size));
    EXPECT_EQ(9000u, size);

    // Length 0 on the first attribute: nothing is found, the walk ends.
    std::vector<uint8_t> bad = good;
    PutLe32(bad, 0x38 + 4, 0);
    runs.clear();
    EXPECT_EQ(-100, FindRecordRunList(parse, bad.data(), bad.size(), 0x80, NTFS_ANY_VCN, runs, info));
    EXPECT_EQ(87, FindDataRealSize(bad.data(), bad.size(), size));
    // A length beyond the record.
    bad = good;
    PutLe32(bad, 0x38 + 4, 5000);
    EXPECT_EQ(-100, FindRecordRunList(parse, bad.data(), bad.size(), 0x80, NTFS_ANY_VCN, runs, info));
    size_t valueOffset = 0;
    uint32_t length = 0;
    EXPECT_EQ(-101, FindResidentData(bad.data(), bad.size(), valueOffset, length));
    // A first-attribute offset outside the record, or negative.
    bad = good;
    PutLe16(bad, 0x14, 0x9000);
    EXPECT_EQ(-100, FindRecordRunList(parse, bad.data(), bad.size(), 0x80, NTFS_ANY_VCN, runs, info));
    PutLe16(bad, 0x14, 1020);
    EXPECT_EQ(-100, FindRecordRunList(parse, bad.data(), bad.size(), 0x80, NTFS_ANY_VCN, runs, info));
    EXPECT_TRUE(runs.empty());

    // Garbage attributes everywhere: every walk ends inside the record.
    std::vector<uint8_t> noise(1024);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = uint8_t((i * 2654435761u) >> 13);
    PutLe16(noise, 0x14, 0x38);
    NTFS_ATTR_POS pos;
    int steps = 0;
    while (NextNtfsAttribute(noise.data(), noise.size(), pos)) {
        EXPECT_LE(pos.nPos + pos.nLength, noise.size());
        ++steps;
    }
    EXPECT_LT(steps, 200);
}

TEST(NtfsRecordAccess, WantedAttributeWinsOverTheAttributeList) {
    CNtfsParse parse;
    NtfsImageRecord both(60, 0);
    both.AddResidentAttrList({{0x30, 60, 0, 0}, {0x80, 61, 0, 0}});
    both.AddFileName(5, u"f", 1);
    both.AddNonResident(0x80, EncodeNtfsRunList({{2, 300}}), 8000, 0, 8192);
    std::vector<uint8_t> rec = both.Finish();
    parse.FileRecordFixUp(rec.data());
    std::vector<__RUNLIST__> runs;
    NTFS_RUNLIST_LOOKUP info;
    ASSERT_EQ(0, FindRecordRunList(parse, rec.data(), rec.size(), 0x80, NTFS_ANY_VCN, runs, info));
    ASSERT_EQ(1u, runs.size());
    EXPECT_EQ(300, runs[0].n64RunOffset);
    EXPECT_NE(0u, info.nAttrListPos);
    EXPECT_EQ(8192u, info.u64AllocatedSize);

    NtfsImageRecord listOnly(62, 0);
    listOnly.AddResidentAttrList({{0x30, 62, 0, 0}, {0x80, 70, 0, 3}, {0x80, 71, 0, 0}, {0x80, 72, 9, 0}});
    listOnly.AddFileName(5, u"g", 1);
    rec = listOnly.Finish();
    parse.FileRecordFixUp(rec.data());
    runs.clear();
    EXPECT_EQ(-100, FindRecordRunList(parse, rec.data(), rec.size(), 0x80, NTFS_ANY_VCN, runs, info));
    ASSERT_NE(0u, info.nAttrListPos);
    std::vector<NTFS_ATTR_LIST_ENTRY> entries;
    CollectResidentAttrListEntries(rec.data() + info.nAttrListPos, rec.size() - info.nAttrListPos, 0x80, entries);
    ASSERT_EQ(2u, entries.size()) << "a named stream is not the file's data";
    EXPECT_EQ(71u, entries[0].u64Record);
    EXPECT_EQ(72u, entries[1].u64Record);
    EXPECT_EQ(9u, entries[1].u64LowestVcn);
}

TEST(NtfsRecordAccess, AttributeListEntriesStopAtDamage) {
    std::vector<uint8_t> list = NtfsImageRecord::EncodeAttrList({{0x80, 80, 0, 0}, {0x80, 81, 4, 0}});
    std::vector<NTFS_ATTR_LIST_ENTRY> entries;
    CollectAttrListEntries(list.data(), list.size(), 0x80, entries);
    EXPECT_EQ(2u, entries.size());

    std::vector<uint8_t> zeroLength = list;
    PutLe16(zeroLength, 4, 0);
    entries.clear();
    CollectAttrListEntries(zeroLength.data(), zeroLength.size(), 0x80, entries);
    EXPECT_TRUE(entries.empty()) << "a zero entry length must not loop forever";

    entries.clear();
    CollectAttrListEntries(list.data(), list.size() - 4, 0x80, entries);
    EXPECT_EQ(1u, entries.size()) << "an entry cut by the end of the list is dropped";
}

TEST(NtfsRecordAccess, ExtentsAreRebasedWhenJoined) {
    std::vector<__RUNLIST__> runs = {{2, 100}, {3, 50}};    // clusters 100, 150
    AppendRunExtent(runs, {{4, 0}, {1, 400}, {2, -10}});   // hole, then clusters 400, 390
    ASSERT_EQ(5u, runs.size());
    int64_t lcn = 0;
    std::vector<int64_t> starts;
    for (const __RUNLIST__& r : runs) {
        lcn += r.n64RunOffset;
        starts.push_back(IsSparseRun(r) ? -1 : lcn);
    }
    EXPECT_EQ((std::vector<int64_t>{100, 150, -1, 400, 390}), starts);
    EXPECT_EQ(12u, CountRunClusters(runs));
}

TEST(NtfsRecordAccess, ResidentDataCopiesValueWithItsPadding) {
    NtfsImageRecord builder(70, 0);
    builder.AddFileName(5, u"ten.txt", 1, 10);
    builder.AddResidentData({}, u"ads");
    builder.AddResidentData({'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'});
    std::vector<uint8_t> rec = builder.Finish();
    size_t valueOffset = 0;
    uint32_t length = 0;
    ASSERT_EQ(0, FindResidentData(rec.data(), rec.size(), valueOffset, length));
    EXPECT_EQ(16u, length) << "the value and its alignment bytes";
    EXPECT_EQ('0', rec[valueOffset]);
    EXPECT_EQ('9', rec[valueOffset + 9]);
    uint64_t size = 0;
    ASSERT_EQ(0, FindDataRealSize(rec.data(), rec.size(), size));

    NtfsImageRecord nonResident(71, 0);
    nonResident.AddNonResident(0x80, EncodeNtfsRunList({{1, 20}}), 100);
    rec = nonResident.Finish();
    EXPECT_EQ(-101, FindResidentData(rec.data(), rec.size(), valueOffset, length));
    NtfsImageRecord none(72, 0);
    none.AddFileName(5, u"x", 1);
    rec = none.Finish();
    EXPECT_EQ(-101, FindResidentData(rec.data(), rec.size(), valueOffset, length));

    NtfsImageRecord broken(73, 0);
    size_t at = broken.AddResidentData({1, 2, 3});
    rec = broken.Finish();
    PutLe16(rec, at + 0x14, 0x400);
    EXPECT_EQ(87, FindResidentData(rec.data(), rec.size(), valueOffset, length));
}

TEST(NtfsRecordAccess, FileNameValuesAreBounded) {
    NtfsImageRecord builder(80, 0);
    size_t at = builder.AddFileName(33, u"\u6587\u4ef6.txt", 1, 1234, 111, 222, 333);
    std::vector<uint8_t> rec = builder.Finish();
    NTFS_FILE_NAME_INFO info;
    ASSERT_TRUE(ReadFileNameAttribute(rec.data() + at, 0x5A + 12, info));
    EXPECT_EQ(33u, info.nParent);
    EXPECT_EQ(111u, info.u64CreateTime);
    EXPECT_EQ(222u, info.u64ModifyTime);
    EXPECT_EQ(333u, info.u64AccessTime);
    EXPECT_EQ(1234u, info.u64RealSize);
    EXPECT_EQ(6, info.nNameLength);
    EXPECT_EQ(0x87, info.pName[0]);
    EXPECT_FALSE(ReadFileNameAttribute(rec.data() + at, 0x5A + 11, info)) << "name cut by the attribute's end";
    EXPECT_FALSE(ReadFileNameAttribute(rec.data() + at, 0x40, info));
}
