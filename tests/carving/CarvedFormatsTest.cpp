// Every carved format and variant, followed by zeros or old data as on a fresh or a used card,
// comes back byte-identical, named by its format, and judged healthy under that name.
#include "carving/CFileTypeJudge.h"
#include "carving/CFileTypeRecovery.h"
#include "fixtures/CarvingDriver.h"
#include "fixtures/CarvingSamples.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>

#include <map>

namespace {
// Each sample's carved extension follows its last dot (mpg carves as mpeg).
const char* const kSamples[] = {
    "jfif.jpg", "exif.jpg", "dqt.jpg", "adobe.jpg", "progressive.jpg", "png", "gif", "anim.gif", "bmp", "os2.bmp", "v5.bmp",
    "tif", "be.tif", "ico", "pdf", "zip", "comment.zip", "docx", "xlsx", "pptx", "odt", "epub", "jar", "doc", "xls", "ole",
    "mp3", "bare.mp3", "ogg", "wav", "avi", "mp4", "mov", "mkv", "flv", "mpg", "ts", "mid", "7z", "rar", "rar5", "gz",
    "name.gz", "db", "ttf", "cab", "txt", "html", "xml", "json", "csv", "sh",
};
std::string ExtOf(const std::string& sample) {
    const std::string ext = sample == "rar5" ? "rar" : sample.substr(sample.rfind('.') + 1);
    return ext == "mpg" ? "mpeg" : ext;
}

class CarvedFormatSlack : public ::testing::TestWithParam<bool> {
protected:
    StoreTestEnv env;
    TempDir disks{"carving-disk"};
    ScopedEnv diskDir{"ORVALE_DISK_DIR", disks.path()};
};
} // namespace

TEST_P(CarvedFormatSlack, EveryFormatAndVariantComesBackByteIdentical) {
    const bool oldData = GetParam();
    std::vector<uint8_t> image(4 * 512, 0);
    std::map<uint64_t, size_t> rowAt;
    uint32_t seed = 1;
    for (size_t r = 0; r < std::size(kSamples); ++r) {
        const CarvingSample& s = GetCarvingSample(kSamples[r]);
        if (s.bytes.empty()) continue;
        rowAt[image.size() / 512] = r;
        image.insert(image.end(), s.bytes.begin(), s.bytes.end());
        size_t slack = (512 - image.size() % 512) % 512 + 3 * 512;
        std::vector<uint8_t> after = oldData ? RandomBytes(slack, ++seed) : std::vector<uint8_t>(slack, 0);
        image.insert(image.end(), after.begin(), after.end());
    }
    ASSERT_GE(rowAt.size(), 30u) << "too few sample tools available";
    image.resize(image.size() + 8 * 512, 0);
    WriteFileBytes(disks.file("disk0"), image);
    const uint64_t sectors = image.size() / 512;
    CFileTypeRecovery engine;
    ASSERT_EQ(0, engine.Init(0, 0, static_cast<long long>(sectors), L'C'));
    ASSERT_EQ(0, RunCarvingPass(engine, engine.GetDiskReader(), 0, sectors).rc);
    std::vector<_FILE_NODE_> nodes;
    ASSERT_EQ(0, engine.GetChildrenFileNode(nullptr, 0, nodes));
    std::map<uint64_t, _FILE_NODE_> bySector;
    for (const _FILE_NODE_& n : nodes) bySector[n.u64RecordSector] = n;
    TempDir out("carving-out");
    int identical = 0;
    for (const auto& [sector, r] : rowAt) {
        SCOPED_TRACE(kSamples[r]);
        const auto it = bySector.find(sector);
        if (it == bySector.end()) {
            ADD_FAILURE() << "not found at sector " << sector;
            continue;
        }
        EXPECT_EQ(std::to_string(sector) + "." + ExtOf(kSamples[r]), it->second.szFileName);
        std::string ext = ExtOf(kSamples[r]);
        EXPECT_TRUE(CFileTypeJudge::IsFileTypeMatching(&image[sector * 512], 512, &ext[0], &engine.GetDiskReader(), 512, sector));
        const std::string target = out.file(std::to_string(sector));
        std::wstring wide(target.begin(), target.end());
        ASSERT_EQ(0, engine.SaveFileData(&it->second, &wide[0], 0));
        const std::vector<uint8_t> saved = ReadFileBytes(target), &original = GetCarvingSample(kSamples[r]).bytes;
        EXPECT_TRUE(saved == original) << "not byte-identical: " << saved.size() << " of " << original.size() << " bytes";
        identical += saved == original;
    }
    std::printf("[ carving ] %d of %zu byte-identical after %s\n", identical, rowAt.size(), oldData ? "old data" : "zeros");
}

INSTANTIATE_TEST_SUITE_P(Slack, CarvedFormatSlack, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "OldData" : "Zeros"; });
