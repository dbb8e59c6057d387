// A deleted file is damaged only when its first bytes show other content, never for an unknown
// variant: damaged photos are hidden, so a wrong "damaged" loses an intact file.
#include "carving/CFileTypeJudge.h"
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
std::vector<unsigned char> Sector(std::initializer_list<unsigned char> head) {
    std::vector<unsigned char> s(512, 0);
    std::copy(head.begin(), head.end(), s.begin());
    return s;
}

bool Healthy(std::string ext, std::vector<unsigned char> first) {
    return CFileTypeJudge::IsFileTypeMatching(first.data(), static_cast<int>(first.size()), &ext[0], nullptr, 512, 0);
}

// Deleted files of these samples must be listed as healthy.
const char* const kVariants[] = {"jfif.jpg", "exif.jpg", "dqt.jpg", "adobe.jpg", "progressive.jpg", "bmp", "os2.bmp",
                                 "v5.bmp",   "png",      "gif",     "mp3",       "bare.mp3",        "odt", "rar5",
                                 "txt",      "csv"};

std::string FileNameOf(const std::string& sample) { return sample.find('.') == std::string::npos ? "plain." + sample : sample; }
} // namespace

TEST(HealthJudgement, DamagedOnlyWhenTheFirstBytesShowOtherContent) {
    const auto zeros = Sector({});
    const auto png = Sector({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'});
    const auto oddJpeg = Sector({0xFF, 0xD8, 0xFF, 0xE7, 0x00, 0x04, 0x00, 0x00}); // a variant no test knows
    const auto oddBmp = Sector({'B', 'M', 0x10, 0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0, 0, 0x99, 0, 0, 0});
    const auto frame = Sector({0xFF, 0xFB, 0x90, 0x64});
    const auto ole = Sector({0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1});
    const auto zip = Sector({'P', 'K', 3, 4, 20, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 'a'});
    std::vector<unsigned char> utf16(512, 0);
    for (int i = 0; i < 200; ++i) utf16[2 * i] = 'a' + i % 26;
    const struct { const char* ext; const std::vector<unsigned char>& first; bool healthy; } kCases[] = {
        {"jpg", oddJpeg, true}, {"jpg", zeros, false}, {"jpg", png, false}, {"bmp", oddBmp, true}, {"bmp", png, false},
        {"mp3", frame, true}, {"mp3", zeros, false}, {"doc", ole, true}, {"docx", zip, true}, {"docx", ole, false},
        {"txt", utf16, true}, {"txt", zeros, true}, {"txt", png, false}, {"xyz", png, true}, {"PNG", png, true},
    };
    for (const auto& c : kCases) EXPECT_EQ(c.healthy, Healthy(c.ext, c.first)) << c.ext << " case " << (&c - kCases);
}

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
                if (!GetCarvingSample(v).bytes.empty()) {
                    ASSERT_TRUE(remove ? volume.Remove(FileNameOf(v)) : volume.Write(FileNameOf(v), GetCarvingSample(v).bytes)) << v;
                }
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
        ASSERT_TRUE(listed.count(FileNameOf(v))) << v << " not listed";
        EXPECT_EQ(1u, listed[FileNameOf(v)].bIsHealth) << v;
        ++checked;
    }
    EXPECT_GE(checked, 10);
}
