// Record placement and cluster-size inference of the deep NTFS engine, on
// hand-made runlists and records.
#include "fixtures/NtfsImageRecord.h"
#include "ntfs/CNtfsParse.h"
#include "ntfs/ProfessionalNtfsGeometry.h"
#include "ntfs/ProfessionalNtfsRecord.h"

#include <gtest/gtest.h>

using namespace pro_ntfs;

namespace {

std::vector<uint8_t> RecordWithData(const std::vector<NtfsImageRun>& runs, uint64_t allocated, bool listFirst = false) {
    NtfsImageRecord rec(40, 1);
    rec.AddFileName(5, u"a.bin", 1, 1);
    if (listFirst) rec.AddResidentAttrList({{0x80, 41, 0, 0}});
    rec.AddNonResident(0x80, EncodeNtfsRunList(runs), allocated, 0, allocated);
    std::vector<uint8_t> r = rec.Finish();
    CNtfsParse parse;
    parse.FileRecordFixUp(r.data());
    return r;
}

TEST(ProfessionalNtfsGeometry, LocatesRecordsThroughRunsAndContiguousGuesses) {
    // Runs place records as for the quick engine (see NtfsRecordAccess), relative to the volume.
    uint64_t rel = 0;
    ASSERT_TRUE(LocateRecordInMft({{4, 100}, {4, 50}}, 8, 16, rel));
    EXPECT_EQ(150u * 8, rel);

    // A run of length 0 is a contiguous $MFT: every record is found.
    ASSERT_TRUE(LocateRecordInMft({{0, 10}}, 8, 1000, rel));
    EXPECT_EQ(80u + 2000, rel);

    // A record at sector 1000 + 67 + 2 x 41 on a volume at 1000: the $MFT is
    // taken to start at the whole cluster below 67.
    __RUNLIST__ run{};
    ASSERT_TRUE(ContiguousMftRun(1000 + 67 + 82, 1000, 41, 8, run));
    EXPECT_EQ(0u, run.u64RunLength);
    EXPECT_EQ(8, run.n64RunOffset);
    // Too close to the volume start to belong to any $MFT there.
    EXPECT_FALSE(ContiguousMftRun(1010, 1000, 41, 8, run));
    EXPECT_FALSE(ContiguousMftRun(10, 1000, 0, 8, run));
}

TEST(ProfessionalNtfsGeometry, MatchesRecordsToARegisteredMftAndInfersTheVolumeStart) {
    // $MFT record 0 found at sector 5032 on a volume whose $MFT starts at cluster 4.
    const std::vector<__RUNLIST__> runs = {{16, 4}, {16, 100}};
    EXPECT_TRUE(MftHoldsRecordAt(5032, runs, 8, 0, 5032));
    EXPECT_TRUE(MftHoldsRecordAt(5032, runs, 8, 63, 5032 + 126));
    EXPECT_TRUE(MftHoldsRecordAt(5032, runs, 8, 64, 5032 + 100 * 8));
    EXPECT_FALSE(MftHoldsRecordAt(5032, runs, 8, 64, 5032 + 128));
    EXPECT_FALSE(MftHoldsRecordAt(5032, runs, 8, 1000, 5032 + 2000));
    EXPECT_FALSE(MftHoldsRecordAt(5032, {}, 8, 0, 5032));

    EXPECT_EQ(5000u, VolumeStartFromMft(5032, runs, 8, 77));
    // First cluster 0, or a cluster before the disk's start: the fallback.
    EXPECT_EQ(77u, VolumeStartFromMft(5032, {{16, 0}}, 8, 77));
    EXPECT_EQ(77u, VolumeStartFromMft(16, runs, 8, 77));
    // Garbage offsets wrap instead of overflowing.
    const std::vector<__RUNLIST__> garbage = {{0xFFFFFFFF, INT64_MAX}, {0xFFFFFFFF, INT64_MIN}};
    uint64_t rel = 0;
    LocateRecordInMft(garbage, 4096, 1u << 31, rel);
    MftHoldsRecordAt(7, garbage, 4096, 1u << 31, 9);
    VolumeStartFromMft(7, garbage, 4096, 0);
}

TEST(ProfessionalNtfsGeometry, InfersClusterSizeOnlyFromUsableDataAttributes) {
    CNtfsParse parse;
    // 65536 allocated bytes in runs of 16 clusters: 8 sectors per cluster.
    std::vector<uint8_t> r = RecordWithData({{10, 100}, {6, 40}}, 65536);
    EXPECT_EQ(8u, InferSectorsPerCluster(parse, r.data(), r.size()));
    r = RecordWithData({{128, 1000}}, 65536);
    EXPECT_EQ(1u, InferSectorsPerCluster(parse, r.data(), r.size()));
    // A ratio that is no cluster size, an attribute list first, no runs: no answer.
    r = RecordWithData({{3, 100}}, 65536);
    EXPECT_EQ(0u, InferSectorsPerCluster(parse, r.data(), r.size()));
    r = RecordWithData({{16, 100}}, 65536, true);
    EXPECT_EQ(0u, InferSectorsPerCluster(parse, r.data(), r.size()));
    r = RecordWithData({}, 65536);
    EXPECT_EQ(0u, InferSectorsPerCluster(parse, r.data(), r.size()));

    NtfsImageRecord resident(41, 1);
    resident.AddFileName(5, u"b.txt", 1, 3);
    resident.AddResidentData({'a', 'b', 'c'});
    r = resident.Finish();
    parse.FileRecordFixUp(r.data());
    EXPECT_EQ(0u, InferSectorsPerCluster(parse, r.data(), r.size()));
}

}  // namespace
