// Deleted files of every variant are judged healthy by the quick NTFS scan: damaged photos are
// hidden, so a wrong "damaged" loses an intact file.
#include "ntfs/CFastNtfsRecovery.h"
#include "fixtures/CarvingSamples.h"
#include "fixtures/EngineTree.h"
#include "fixtures/NtfsImageVolume.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>

namespace {
// Deleted files of these samples must be listed as healthy.
const char* const kVariants[] = {"jfif.jpg", "exif.jpg", "dqt.jpg", "adobe.jpg", "progressive.jpg", "bmp", "os2.bmp",
                                 "v5.bmp",   "png",      "gif",     "mp3",       "bare.mp3",        "odt", "rar5",
                                 "txt",      "csv"};

std::string FileNameOf(const std::string& sample) { return sample.find('.') == std::string::npos ? "plain." + sample : sample; }
} // namespace

// Small files stay resident in their MFT records: their judgement sees less than a sector.
TEST(HealthJudgement, QuickNtfsScanListsDeletedVariantsAsHealthy) {
    for (const char* tool : {"mkntfs", "ntfs-3g"}) ORVALE_REQUIRE_TOOL(tool);
    StoreTestEnv env;
    TempDir dir("health-ntfs");
    std::string image = dir.file("ntfs.img"), error;
    ASSERT_TRUE(NtfsImageVolume::Format(image, 24ull << 20, error)) << error;
    {
        NtfsImageVolume volume(image, dir.file("mnt"));
        if (!volume.Mounted()) GTEST_SKIP() << "SKIPPED: ntfs-3g cannot mount here (no FUSE)";
        // Deleted only once all are written, so no file takes another's clusters.
        for (bool remove : {false, true})
            for (const char* v : kVariants)
                ASSERT_TRUE(GetCarvingSample(v).bytes.empty() || (remove ? volume.Remove(FileNameOf(v)) : volume.Write(FileNameOf(v), GetCarvingSample(v).bytes))) << v;
        ASSERT_TRUE(volume.Unmount());
    }
    CFastNtfsRecovery engine;
    std::wstring path(image.begin(), image.end());
    ASSERT_TRUE(engine.Init(&path[0], L'C') == 0 && engine.ScanDevice(nullptr) == 0);
    std::map<std::string, _FILE_NODE_> listed;
    for (auto& [p, node] : WalkEngineTree(engine)) listed[p.substr(p.rfind('/') + 1)] = node;
    int checked = 0;
    for (const char* v : kVariants) {
        if (GetCarvingSample(v).bytes.empty()) continue;
        EXPECT_TRUE(listed.count(FileNameOf(v)) && listed[FileNameOf(v)].bIsHealth == 1) << v << " not listed as healthy";
        ++checked;
    }
    EXPECT_GE(checked, 10);
}
