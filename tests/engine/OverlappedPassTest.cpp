// Reading ahead on a thread changes the speed of the deep pass, never its result.
#include "engine/CFileRecoveryFactory.h"
#include "engine/CLogFileManager.h"
#include "engine/CProfessionalRecovery.h"
#include "engine/FileCategories.h"
#include "platform/DeviceMap.h"

#include "fixtures/E2eDiskImage.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {
constexpr long long kStart = 2048;
constexpr long long kSectors = 131072;

struct Pass {
    std::vector<std::string> hits;  // in the order the engine lists them
    uint64_t extentStart = 0, extentOffset = 0, scanned = 0;
};

int StopAtBlock(void* p, int, int nPercent, int, uint64_t, uint64_t, uint64_t, wchar_t*) {
    int* left = static_cast<int*>(p);
    return (nPercent == 90 && *left >= 0 && --*left < 0) ? 1 : 0;
}

Pass DeepPass(int diskNo, bool overlapped, int stopAfterBlocks) {
    Pass pass;
    std::unique_ptr<IFileRecoveryParse> engine(CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
        diskNo, kStart, kSectors, L'C', RECOVERY_TYPE_PROFESSIONAL));
    auto* deep = static_cast<CProfessionalRecovery*>(engine.get());
    deep->SetNotLoadLogFile();
    deep->SetOverlappedReads(overlapped);
    int left = stopAfterBlocks;
    engine->InitCallBack(StopAtBlock, nullptr, &left, 100);
    engine->ScanDevice(nullptr);
    std::wstring key = BuildSearchKey(CATEGORY_ALL);
    std::vector<__SEARCH_FILE_INFO__> hits;
    engine->SearchFileNode(key.data(), hits);
    for (const auto& h : hits)
        pass.hits.push_back(std::string(h.szFileName) + "/" + std::to_string(h.u64FileSize) + "@" +
                            std::to_string(h.u64RecordSector));
    engine.reset();
    _LOG_FILE_INFO_ info;
    std::memset(&info, 0, sizeof info);
    std::string device = "/dev/disk" + std::to_string(diskNo);
    if (CLogFileManager::GetInstance()->LoadRecoveryLogInfo(device.c_str(), diskNo, kStart, kSectors, &info)) {
        pass.extentStart = info.u64ExtentStart;
        pass.extentOffset = info.u64ExtentOffset;
        pass.scanned = info.u64ScannedSectors;
    }
    return pass;
}
} // namespace

TEST(OverlappedPass, FindsAndStopsExactlyAsTheSerialPass) {
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
    for (int stopAfter : {-1, 3, 20}) {
        Pass serial = DeepPass(diskNo, false, stopAfter);
        Pass overlapped = DeepPass(diskNo, true, stopAfter);
        EXPECT_FALSE(serial.hits.empty());
        EXPECT_EQ(serial.hits, overlapped.hits) << "stop after " << stopAfter << " blocks";
        EXPECT_EQ(serial.extentStart, overlapped.extentStart) << stopAfter;
        EXPECT_EQ(serial.extentOffset, overlapped.extentOffset) << stopAfter;
        EXPECT_EQ(serial.scanned, overlapped.scanned) << stopAfter;
    }
}
