// The deep scan as a whole: quick phase, pass, duplicate filter, resume.
#include "engine/CFileRecoveryFactory.h"
#include "engine/CProfessionalRecovery.h"
#include "engine/FileCategories.h"
#include "platform/DeviceMap.h"

#include "fixtures/E2eDiskImage.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace {
constexpr long long kFatStart = 2048;
constexpr long long kFatSectors = 131072;

struct StopAt {
    int percent;
    int calls = 0;
    int lastProgress = -1;
};

int ScanCb(void* p, int nProgress, int nPercent, int, uint64_t, uint64_t, uint64_t, wchar_t*) {
    auto* stop = static_cast<StopAt*>(p);
    ++stop->calls;
    if (nPercent == 90) stop->lastProgress = nProgress;
    return (stop->percent >= 0 && nPercent == 90 && nProgress - 10 >= stop->percent) ? 1 : 0;
}

std::unique_ptr<IFileRecoveryParse> DeepEngine(int diskNo) {
    return std::unique_ptr<IFileRecoveryParse>(CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
        diskNo, kFatStart, kFatSectors, L'C', RECOVERY_TYPE_PROFESSIONAL));
}

std::set<std::string> Found(IFileRecoveryParse* engine) {
    std::wstring key = BuildSearchKey(CATEGORY_ALL);
    std::vector<__SEARCH_FILE_INFO__> hits;
    engine->SearchFileNode(key.data(), hits);
    std::set<std::string> names;
    for (const auto& h : hits) names.insert(std::string(h.szFileName) + "/" + std::to_string(h.u64FileSize));
    return names;
}
} // namespace

// A whole scan, one stopped at 40 % and its resumption over the same bad
// sectors: bad sectors never end a scan, and the resumed scan finds what the
// uninterrupted one found.
TEST(ProfessionalRecovery, BadSectorsStopAndResume) {
    ORVALE_REQUIRE_TOOL("mkfs.vfat");
    ORVALE_REQUIRE_TOOL("sfdisk");
    ORVALE_REQUIRE_TOOL("/usr/bin/convert");
    TempDir dir;
    TempDir support;
    ScopedEnv env("ORVALE_SUPPORT_DIR", support.path());
    E2eDiskImage image;
    std::string error;
    if (!image.Build(dir.path(), false, error)) GTEST_SKIP() << "SKIPPED: " << error;
    int diskNo = RegisterImageDisk(image.path());
    ASSERT_GE(diskNo, 0);
    std::vector<uint64_t> bad;
    for (uint64_t s = 0; s < 64; ++s) bad.push_back(kFatStart + 60000 + s); // free clusters, mid-volume
    bad.push_back(kFatStart + 100000 + 3);                                    // inside the carved JPEG
    CDiskReader::SetFailingSectorsForTesting(bad);
    struct ClearFailing {
        ~ClearFailing() { CDiskReader::SetFailingSectorsForTesting({}); }
    } clear;

    std::set<std::string> whole;
    {
        auto engine = DeepEngine(diskNo);
        ASSERT_NE(nullptr, engine);
        static_cast<CProfessionalRecovery*>(engine.get())->SetNotLoadLogFile();
        StopAt never{-1};
        engine->InitCallBack(ScanCb, nullptr, &never, 100);
        ASSERT_EQ(0, engine->ScanDevice(nullptr));
        EXPECT_EQ(110, never.lastProgress) << "the pass reports up to 110";
        EXPECT_EQ(65u, static_cast<CProfessionalRecovery*>(engine.get())->GetUnreadableSectorCount());
        whole = Found(engine.get());
        EXPECT_TRUE(whole.count("BeachPhoto.jpg/" + std::to_string(image.fatFiles()[0].size))) << "the deleted photo";
        EXPECT_TRUE(whole.count(std::to_string(kFatStart + 110000) + ".png/" + std::to_string(image.fatFiles()[5].size)))
            << "carving goes on after the bad area";
    }
    {
        auto engine = DeepEngine(diskNo);
        ASSERT_NE(nullptr, engine);
        static_cast<CProfessionalRecovery*>(engine.get())->SetNotLoadLogFile();
        StopAt at40{40};
        engine->InitCallBack(ScanCb, nullptr, &at40, 100);
        EXPECT_EQ(1, engine->ScanDevice(nullptr)) << "a stop request ends the scan with the callback's value";
    }
    auto engine = DeepEngine(diskNo);
    ASSERT_NE(nullptr, engine);
    EXPECT_EQ(1, static_cast<CProfessionalRecovery*>(engine.get())->IsFindLogFile()) << "the interrupted scan is in the log";
    StopAt never{-1};
    engine->InitCallBack(ScanCb, nullptr, &never, 100);
    ASSERT_EQ(0, engine->ScanDevice(nullptr));
    EXPECT_EQ(whole, Found(engine.get()));
}

TEST(ProfessionalRecovery, UnrecognisedAreaIsPassedSectorBySectorFromTen) {
    TempDir dir;
    TempDir support;
    ScopedEnv env("ORVALE_SUPPORT_DIR", support.path());
    WriteFileBytes(dir.file("zero.img"), std::vector<uint8_t>(4 << 20, 0));
    int diskNo = RegisterImageDisk(dir.file("zero.img"));
    std::unique_ptr<IFileRecoveryParse> engine(CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
        diskNo, 0, 8192, L'C', RECOVERY_TYPE_PROFESSIONAL));
    ASSERT_NE(nullptr, engine) << "a deep scan runs on any area";
    StopAt never{-1};
    engine->InitCallBack(ScanCb, nullptr, &never, 100);
    EXPECT_EQ(0, engine->ScanDevice(nullptr));
    EXPECT_EQ(110, never.lastProgress);
    EXPECT_EQ(0, engine->GetLostFileCount());
    unsigned count = 5;
    EXPECT_EQ(0, engine->GetChildrenFileCount(nullptr, 0, count));
    EXPECT_EQ(5u, count) << "the top-level count adds to the caller's";
    EXPECT_EQ(87, engine->GetChildrenFileCount(nullptr, 1, count));
}

