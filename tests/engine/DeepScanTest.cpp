#include "engine/CFileRecoveryFactory.h"
#include "engine/CLogFileManager.h"
#include "engine/CProfessionalRecovery.h"
#include "engine/FileCategories.h"
#include "fixtures/E2eDiskImage.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "platform/DeviceMap.h"

#include <gtest/gtest.h>

#include <memory>
#include <tuple>

namespace {
constexpr long long kStart = 2048, kSectors = 131072;

// Stops the pass after `blocks` block reports (never when negative); the pass's progress runs 10 to 110.
struct Stop { int blocks; int lastProgress = -1; };
int ScanCb(void* p, int nProgress, int nPercent, int, uint64_t, uint64_t, uint64_t, wchar_t*) {
    auto* stop = static_cast<Stop*>(p);
    if (nPercent != 90) return 0;
    stop->lastProgress = nProgress;
    return stop->blocks >= 0 && --stop->blocks < 0;
}

std::vector<std::string> Found(IFileRecoveryParse* engine) {
    std::wstring key = BuildSearchKey(CATEGORY_ALL);
    std::vector<__SEARCH_FILE_INFO__> hits;
    engine->SearchFileNode(key.data(), hits);
    std::vector<std::string> names;
    for (const auto& h : hits)
        names.push_back(std::string(h.szFileName) + "/" + std::to_string(h.u64FileSize) + "@" + std::to_string(h.u64RecordSector));
    return names;
}
} // namespace

// Bad sectors never end a scan: they are counted and carving goes on after them.
// Reading ahead changes the pass's speed, never what it finds, counts or where it stops.
TEST(DeepScan, BadSectorsArePassedAndTheOverlappedPassEndsAsTheSerialPass) {
    for (const char* tool : {"mkfs.vfat", "sfdisk", "/usr/bin/convert", "zip"}) ORVALE_REQUIRE_TOOL(tool);
    TempDir dir("deepscan"), support;
    E2eDiskImage image;
    std::string error;
    ASSERT_TRUE(image.Build(dir.path(), false, error)) << error;
    const int diskNo = RegisterImageDisk(image.path());
    ScopedEnv supportEnv("ORVALE_SUPPORT_DIR", support.path());
    std::vector<uint64_t> bad;
    for (uint64_t s = 0; s < 64; ++s) bad.push_back(kStart + 60000 + s); // free clusters, mid-volume
    bad.push_back(kStart + 100000 + 3);                                    // inside the carved JPEG
    CDiskReader::SetFailingSectorsForTesting(bad);
    struct ClearFailing {
        ~ClearFailing() { CDiskReader::SetFailingSectorsForTesting({}); }
    } clear;
    // What the pass lists, in the engine's order, what it counted and the checkpoint it leaves.
    auto run = [&](bool overlapped, int stopAfter) {
        std::unique_ptr<IFileRecoveryParse> engine(CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
            diskNo, kStart, kSectors, L'C', RECOVERY_TYPE_PROFESSIONAL));
        auto* deep = static_cast<CProfessionalRecovery*>(engine.get());
        deep->SetNotLoadLogFile();
        deep->SetOverlappedReads(overlapped);
        Stop stop{stopAfter};
        engine->InitCallBack(ScanCb, nullptr, &stop, 100);
        EXPECT_EQ(stopAfter >= 0, engine->ScanDevice(nullptr) != 0) << "a stopped scan says so";
        const std::vector<std::string> hits = Found(engine.get());
        const uint64_t unreadable = deep->GetUnreadableSectorCount();
        unsigned count = 5; // the top-level count adds to the caller's; there is no group 1
        EXPECT_TRUE(engine->GetChildrenFileCount(nullptr, 0, count) == 0 && count > 5 && engine->GetChildrenFileCount(nullptr, 1, count) == 87);
        engine.reset();
        _LOG_FILE_INFO_ info{};
        const std::string device = "/dev/disk" + std::to_string(diskNo);
        if (!CLogFileManager::GetInstance()->LoadRecoveryLogInfo(device.c_str(), diskNo, kStart, kSectors, &info)) info = {};
        return std::make_tuple(hits, unreadable, stop.lastProgress, info.u64ExtentStart, info.u64ExtentOffset, info.u64ScannedSectors);
    };
    for (int stopAfter : {-1, 3, 20}) {
        const auto serial = run(false, stopAfter);
        EXPECT_FALSE(std::get<0>(serial).empty());
        EXPECT_TRUE(serial == run(true, stopAfter)) << "stop after " << stopAfter << " blocks";
        if (stopAfter >= 0) continue;
        EXPECT_EQ(110, std::get<2>(serial)) << "the pass reports up to 110";
        EXPECT_EQ(65u, std::get<1>(serial));
        const auto& files = image.fatFiles();
        bool photo = false, afterBad = false;
        for (const std::string& n : std::get<0>(serial)) {
            photo |= n.rfind("BeachPhoto.jpg/" + std::to_string(files[0].size) + "@", 0) == 0;
            afterBad |= n.rfind(std::to_string(kStart + 110000) + ".png/" + std::to_string(files[5].size) + "@", 0) == 0;
        }
        EXPECT_TRUE(photo) << "the deleted photo";
        EXPECT_TRUE(afterBad) << "carving goes on after the bad area";
    }
}
