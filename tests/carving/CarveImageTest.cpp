// Real files of every carvable kind, laid back to back in a raw image without a
// file system, carved as the deep scan would, then saved and compared.
#include "carving/CFileTypeRecovery.h"

#include "fixtures/CarvingDriver.h"
#include "fixtures/CarvingSamples.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

namespace {
struct Placed {
    std::string sample;
    std::string ext;     // extension the carver must give
    bool exact;          // the length rule finds the true end
    uint64_t start = 0;  // sector
    uint64_t size = 0;
};

// Sample, expected extension, and whether its rule finds the file's true end
// (by an end marker, a header size or the container's own structure).
const struct {
    const char* sample;
    const char* ext;
    bool exact;
} kLayout[] = {
    {"jfif.jpg", "jpg", true}, {"png", "png", true},   {"exif.jpg", "jpg", true}, {"gif", "gif", true},
    {"bmp", "bmp", true},      {"tif", "tif", true}, {"be.tif", "tif", true},  {"pdf", "pdf", true},      {"zip", "zip", true},
    {"docx", "docx", true},    {"xlsx", "xlsx", true}, {"pptx", "pptx", true},    {"doc", "doc", true},
    {"xls", "xls", true},      {"ole", "ole", true},   {"mp3", "mp3", true},      {"wav", "wav", true},
    {"avi", "avi", true},      {"mp4", "mp4", true},  {"mkv", "mkv", true},     {"flv", "flv", true},
    {"mpg", "mpeg", true},     {"ts", "ts", true},     {"7z", "7z", true},        {"rar", "rar", true},
    {"gz", "gz", false},       {"db", "db", true},    {"mid", "mid", true},      {"ico", "ico", true},
    {"ttf", "ttf", true},      {"cab", "cab", true},   {"exe", "", false},        {"comment.zip", "zip", false},
};

class CarveImage : public ::testing::Test {
protected:
    StoreTestEnv env;
    TempDir disks{"carving-disk"};
    ScopedEnv diskDir{"ORVALE_DISK_DIR", disks.path()};
    std::vector<Placed> placed;
    std::vector<uint8_t> image;

    // Files at sector boundaries, the rest of each last sector zero (as a file
    // system leaves it); after each file by turns nothing, random sectors or zeros.
    void BuildImage() {
        image.assign(3 * 512, 0);
        int turn = 0;
        for (const auto& l : kLayout) {
            const CarvingSample& s = GetCarvingSample(l.sample);
            if (s.bytes.empty()) continue;
            Placed p{l.sample, l.ext, l.exact, image.size() / 512, s.bytes.size()};
            placed.push_back(p);
            if (::getenv("CARVING_DEBUG")) std::printf("placed %s at %llu\n", l.sample, (unsigned long long)p.start);
            image.insert(image.end(), s.bytes.begin(), s.bytes.end());
            image.resize((image.size() + 511) / 512 * 512, 0);
            if (turn % 3 == 1) {
                auto junk = RandomBytes(3 * 512, 100 + turn);
                image.insert(image.end(), junk.begin(), junk.end());
            } else if (turn % 3 == 2) {
                image.resize(image.size() + 2 * 512, 0);
            }
            ++turn;
        }
        image.resize(image.size() + 4 * 512, 0);
        WriteFileBytes(disks.file("disk0"), image);
    }
};
} // namespace

TEST_F(CarveImage, EveryKindIsFoundNamedMeasuredAndSaved) {
    BuildImage();
    ASSERT_GE(placed.size(), 20u) << "too few sample tools available";
    const uint64_t sectors = image.size() / 512;

    CFileTypeRecovery engine;
    ASSERT_EQ(0, engine.Init(0, 0, static_cast<long long>(sectors), L'C'));
    CarvingPassResult pass = RunCarvingPass(engine, engine.GetDiskReader(), 0, sectors);
    ASSERT_EQ(0, pass.rc);
    EXPECT_LT(pass.steps, sectors) << "measured files must be skipped, not walked again";

    std::vector<_FILE_NODE_> nodes;
    ASSERT_EQ(0, engine.GetChildrenFileNode(nullptr, 0, nodes));
    if (::getenv("CARVING_DEBUG")) for (auto& n : nodes) std::printf("%s %llu\n", n.szFileName, (unsigned long long)n.u64FileSize);
    std::map<uint64_t, _FILE_NODE_> bySector;
    for (const _FILE_NODE_& n : nodes) bySector[n.u64RecordSector] = n;
    EXPECT_EQ(static_cast<int>(nodes.size()), engine.GetLostFileCount());

    TempDir out("carving-out");
    int exactOk = 0, exactTotal = 0;
    for (size_t i = 0; i < placed.size(); ++i) {
        const Placed& p = placed[i];
        const std::vector<uint8_t>& original = GetCarvingSample(p.sample).bytes;
        SCOPED_TRACE(p.sample);
        auto it = bySector.find(p.start);
        if (p.ext.empty()) {
            EXPECT_EQ(it, bySector.end()) << "recognised but never carved";
            continue;
        }
        ASSERT_NE(it, bySector.end()) << "not found at sector " << p.start;
        const _FILE_NODE_& n = it->second;
        EXPECT_EQ(std::to_string(p.start) + "." + p.ext, n.szFileName);
        EXPECT_EQ(4u, n.nFileSystemType);
        EXPECT_EQ(0xFFFFFFFFu, n.nClusterBytes);
        EXPECT_EQ(1u, n.bIsHealth);

        std::string target = out.file(std::to_string(i) + "." + p.ext);
        std::wstring wide(target.begin(), target.end());
        ASSERT_EQ(0, engine.SaveFileData(const_cast<_FILE_NODE_*>(&n), &wide[0], 0));
        std::vector<uint8_t> saved = ReadFileBytes(target);
        EXPECT_EQ(n.u64FileSize, saved.size());

        if (p.exact) {
            ++exactTotal;
            EXPECT_EQ(original.size(), n.u64FileSize);
            EXPECT_EQ(Sha256Hex(original), Sha256Hex(saved)) << "not byte-identical";
            if (Sha256Hex(original) == Sha256Hex(saved)) ++exactOk;
        } else if (p.sample == "comment.zip") {
            // The record's fixed 22 bytes end the archive; the comment is not counted.
            static const uint8_t eocd[4] = {0x50, 0x4B, 0x05, 0x06};
            auto at = std::find_end(original.begin(), original.end(), eocd, eocd + 4);
            ASSERT_NE(at, original.end());
            EXPECT_EQ(static_cast<uint64_t>(at - original.begin()) + 22, n.u64FileSize);
            EXPECT_LT(n.u64FileSize, original.size());
            EXPECT_TRUE(std::equal(saved.begin(), saved.end(), original.begin()));
        } else {
            // Without an end marker the file runs to the next file's first sector.
            uint64_t next = i + 1 < placed.size() ? placed[i + 1].start : sectors;
            EXPECT_EQ((next - p.start) * 512, n.u64FileSize);
            ASSERT_GE(saved.size(), original.size());
            EXPECT_TRUE(std::equal(original.begin(), original.end(), saved.begin())) << "the file is not a prefix";
        }
    }
    std::printf("[ carving ] %d of %d end-marked files byte-identical, %zu nodes, %llu steps for %llu sectors\n",
                exactOk, exactTotal, nodes.size(), static_cast<unsigned long long>(pass.steps),
                static_cast<unsigned long long>(sectors));
}
