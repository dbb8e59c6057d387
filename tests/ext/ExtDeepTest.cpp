#include "ext/CProfessionalExtRecovery.h"

#include "platform/CDiskReader.h"
#include "platform/TextCodec.h"

#include "fixtures/ExtImage.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>

namespace {
// Offers every sector of the image, as the deep pass does, and ends the pass.
void RunPass(CProfessionalExtRecovery& engine, const std::string& image) {
    std::wstring path = Utf8ToWide(image.c_str());
    ASSERT_EQ(0, engine.Init(&path[0], L'C'));
    ASSERT_EQ(0, engine.BeginDeepPass(nullptr));
    std::vector<uint8_t> bytes = ReadFileBytes(image);
    CDiskReader reader;
    reader.Init(path.c_str(), bytes.size() / 512);
    const uint64_t total = bytes.size() / 512;
    for (uint64_t s = 0; s < total;) {
        DeepSector d{bytes.data() + s * 512, size_t(std::min<uint64_t>(total - s, 128) * 512), s, s, total, -1, &reader};
        uint64_t used = 1, found = 0;
        engine.OfferSector(d, used, found);
        s += used ? used : 1;
    }
    ASSERT_EQ(0, engine.EndDeepPass());
}

std::vector<uint8_t> SaveNode(CProfessionalExtRecovery& engine, _FILE_NODE_ node, const std::string& dir) {
    const std::string target = dir + "/out.bin";
    std::wstring wide = Utf8ToWide(target.c_str());
    engine.SaveFileData(&node, &wide[0], 0);
    return ReadFileBytes(target);
}

std::vector<uint8_t> Picture(const std::string& dir, const char* ext, const char* size) {
    const std::string path = dir + "/pic." + ext;
    RunCommand(std::string("/usr/bin/convert -size ") + size + " plasma: -quality 92 '" + path + "'");
    return ReadFileBytes(path);
}
} // namespace

// On ext2 the driver clears a deleted file's pointers and its size, but not
// its indirect blocks: a fragmented picture is rebuilt byte-exact from them,
// its 12 direct blocks found again among the free blocks before them.
TEST(ExtDeep, FragmentedDeletedFilesAreRebuiltThroughTheirIndirectBlocks) {
    std::string why = ExtImage::Unavailable();
    if (!why.empty()) GTEST_SKIP() << "SKIPPED: ext images cannot be made: " << why;
    ORVALE_REQUIRE_TOOL("/usr/bin/convert");
    struct Case { const char* ext; const char* size; unsigned block; };
    for (Case c : {Case{"jpg", "900x700", 1024}, Case{"png", "300x300", 1024}, Case{"jpg", "1600x1200", 4096}}) {
        SCOPED_TRACE(std::string(c.ext) + " " + std::to_string(c.block));
        StoreTestEnv env;
        TempDir dir("ext-deep");
        const auto picture = Picture(dir.path(), c.ext, c.size);
        ASSERT_GT(picture.size(), 14u * c.block) << "the picture must reach its indirect block";
        ExtImage img(dir.path(), "ext2", c.block);
        ASSERT_TRUE(img.Make());
        ASSERT_TRUE(img.Mount());
        img.Checkerboard("fill", c.block == 1024 ? 400 : 200, 3 * c.block);
        img.Write(std::string("p/picture.") + c.ext, picture);
        ASSERT_TRUE(img.Remove("p"));
        ASSERT_TRUE(img.Unmount());

        CProfessionalExtRecovery engine;
        RunPass(engine, img.Path());
        EXPECT_GT(engine.FoundMapBlockCount(), 0u);
        std::vector<_FILE_NODE_> files;
        engine.GetChildrenFileNode(nullptr, 0, files);
        bool rebuilt = false;
        std::string seen;
        for (const _FILE_NODE_& f : files) {
            seen += std::string(" ") + f.szFileName + ":" + std::to_string(f.u64FileSize);
            if (f.u64FileSize == picture.size() && SaveNode(engine, f, dir.path()) == picture) rebuilt = true;
        }
        EXPECT_TRUE(rebuilt) << "the picture (" << picture.size() << " bytes) is not among" << seen;
    }
}

// A pointer block overwritten with rubbish, or one whose numbers run past the
// volume, is not taken; the pass still ends with what it found.
TEST(ExtDeep, RubbishPointerBlocksAreNotTaken) {
    std::string why = ExtImage::Unavailable();
    if (!why.empty()) GTEST_SKIP() << "SKIPPED: ext images cannot be made: " << why;
    StoreTestEnv env;
    TempDir dir("ext-deep-bad");
    ExtImage img(dir.path(), "ext2", 1024);
    ASSERT_TRUE(img.Make());
    ASSERT_TRUE(img.Mount());
    img.Write("a.bin", RandomBytes(40000, 3));
    ASSERT_TRUE(img.Unmount());
    const std::string out = dir.file("bmap");
    RunCommand("debugfs -R 'stat /a.bin' '" + img.Path() + "' 2>/dev/null | grep -o '(IND):[0-9]*' | cut -d: -f2 > '" +
               out + "'");
    const auto text = ReadFileBytes(out);
    const uint64_t ind = std::stoull(std::string(text.begin(), text.end()));
    ASSERT_TRUE(img.Mount());
    ASSERT_TRUE(img.Remove("a.bin"));
    ASSERT_TRUE(img.Unmount());
    // Numbers past the volume's end, in descending order.
    std::vector<uint8_t> bad(1024, 0);
    for (int i = 0; i < 20; ++i) bad[i * 4 + 2] = uint8_t(0xF0 - i);
    RunCommand("dd if=/dev/zero of='" + img.Path() + "' bs=1024 seek=" + std::to_string(ind) +
               " count=1 conv=notrunc status=none");
    WriteFileBytes(dir.file("bad.bin"), bad);
    RunCommand("dd if='" + dir.file("bad.bin") + "' of='" + img.Path() + "' bs=1024 seek=" + std::to_string(ind) +
               " count=1 conv=notrunc status=none");
    CProfessionalExtRecovery engine;
    RunPass(engine, img.Path());
    EXPECT_EQ(0u, engine.FoundMapBlockCount());
}
