#include "ntfs/CFastNtfsRecovery.h"
#include "platform/CDiskReader.h"

#include "platform/TextCodec.h"

#include "FastNtfsTestSupport.h"
#include "fixtures/NtfsImageRecord.h"
#include "fixtures/NtfsImageSynthetic.h"
#include "fixtures/NtfsImageVolume.h"
#include "fixtures/StoreTestEnv.h"
#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <algorithm>
#include <map>

namespace {
// The first `limit` bytes of a file, read in one go.
std::vector<uint8_t> ReadPrefix(const std::string& path, size_t limit = SIZE_MAX) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const size_t size = std::min<size_t>(static_cast<size_t>(in.tellg()), limit);
    std::vector<uint8_t> data(size);
    in.seekg(0);
    in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(size));
    return data;
}

std::wstring Wide(const std::string& utf8) { return Utf8ToWide(utf8.c_str()); }

std::map<std::string, ListedNode> ScanFiles(CFastNtfsRecovery& engine, const std::string& image, int& rc) {
    std::map<std::string, ListedNode> byPath;
    std::wstring path = Wide(image);
    rc = engine.Init(&path[0], L'C');
    if (rc != 0) return byPath;
    rc = engine.ScanDevice(nullptr);
    std::vector<ListedNode> files, folders;
    WalkResultTree(engine, nullptr, 0, "", files, folders);
    for (auto& f : files) byPath[f.path] = f;
    return byPath;
}

// Saving either fails or yields the original bytes: never a wrong file reported as saved.
void ExpectSavedOrRefused(CFastNtfsRecovery& engine, std::map<std::string, ListedNode>& listed,
                          const NtfsImageScenario& sc, const TempDir& out, int& saved, int& refused) {
    int n = 0;
    for (const auto& f : sc.deleted) {
        if (!listed.count(f.path)) continue;
        std::wstring target = Wide(out.file("d" + std::to_string(n++)));
        if (engine.SaveFileData(&listed[f.path].node, &target[0], 0) == 0) {
            EXPECT_EQ(f.sha256, Sha256File(WideToUtf8(target.c_str()))) << f.path;
            ++saved;
        } else {
            ++refused;
        }
    }
}

size_t FirstAttribute(const std::vector<uint8_t>& img, size_t rec) { return img[rec + 0x14] | (img[rec + 0x15] << 8); }

uint32_t Le32(const std::vector<uint8_t>& b, size_t off) {
    return b[off] | (b[off + 1] << 8) | (b[off + 2] << 16) | (uint32_t(b[off + 3]) << 24);
}
} // namespace

TEST(FastNtfsDamage, TruncatedImageFinishesWithWhatItFound) {
    ORVALE_REQUIRE_NTFS_SCENARIO(sc);
    StoreTestEnv env;
    TempDir dir("orvale-ntfs-trunc");
    std::vector<uint8_t> image = ReadPrefix(sc->imagePath, 2u << 20);
    WriteFileBytes(dir.file("cut.img"), image);

    CFastNtfsRecovery engine;
    int rc = -1;
    auto listed = ScanFiles(engine, dir.file("cut.img"), rc);
    ASSERT_EQ(0, rc) << "unreadable parts of the $MFT do not fail the scan";
    EXPECT_EQ(1u, listed.count("small.txt"));
    EXPECT_EQ(0u, listed.count(sc->fragmentedPath)) << "its record lies past the cut";
    int saved = 0, refused = 0;
    ExpectSavedOrRefused(engine, listed, *sc, dir, saved, refused);
    EXPECT_GE(saved, 1);
    EXPECT_GE(refused, 1) << "files whose data lies past the cut are refused";
    engine.BuildBitMapInfo();
    uint64_t sector = 0, count = 0;
    engine.GetUnUsedSectorCount(sector, count);
    EXPECT_LE(sector + count, engine.GetSectorCount());
}

TEST(FastNtfsDamage, CorruptRecordsCostOnlyThemselves) {
    ORVALE_REQUIRE_NTFS_SCENARIO(sc);
    StoreTestEnv env;
    std::map<std::string, uint32_t> numbers;
    {
        CFastNtfsRecovery clean;
        int rc = -1;
        for (auto& kv : ScanFiles(clean, sc->imagePath, rc)) numbers[kv.first] = kv.second.node.nClusterNO;
        ASSERT_EQ(0, rc);
    }
    const std::string longName = "docs/A rather long file name that goes well beyond the old eight-dot-three limit.dat";
    const std::string accented = "docs/nested/Caf\xC3\xA9 r\xC3\xA9sum\xC3\xA9 na\xC3\xAFve.txt";
    for (const char* p : {"small.txt", "docs/odd size.bin", "gone/a.txt"}) ASSERT_TRUE(numbers.count(p)) << p;
    ASSERT_TRUE(numbers.count(longName));
    ASSERT_TRUE(numbers.count(accented));

    TempDir dir("orvale-ntfs-bad");
    std::vector<uint8_t> image = ReadPrefix(sc->imagePath);
    auto recordAt = [&](const std::string& path) {
        int64_t at = FindNtfsRecordOffset(image, numbers[path]);
        EXPECT_GE(at, 0) << path;
        return static_cast<size_t>(at < 0 ? 0 : at);
    };
    // Garbage attributes.
    size_t rec = recordAt("docs/odd size.bin");
    std::vector<uint8_t> noise = RandomBytes(1024, 77);
    std::copy(noise.begin() + FirstAttribute(image, rec), noise.end(), image.begin() + rec + FirstAttribute(image, rec));
    // An attribute length of 0, and one far beyond the record.
    rec = recordAt("small.txt");
    PutLe32(image, rec + FirstAttribute(image, rec) + 4, 0);
    rec = recordAt(accented);
    PutLe32(image, rec + FirstAttribute(image, rec) + 4, 0x10000);
    // A first-attribute offset that is negative as a signed 16-bit value, and bytes in use past the record.
    rec = recordAt("gone/a.txt");
    PutLe16(image, rec + 0x14, 0xFFF0);
    PutLe32(image, rec + 0x18, 0xFFFFFFFF);
    // A runlist that points far past the volume.
    rec = recordAt(longName);
    size_t pos = FirstAttribute(image, rec);
    while (pos < 1024 && Le32(image, rec + pos) != 0x80) pos += Le32(image, rec + pos + 4);
    ASSERT_LT(pos, 1024u);
    size_t run = rec + pos + (image[rec + pos + 0x20] | (image[rec + pos + 0x21] << 8));
    const unsigned lengthBytes = image[run] & 0x0F, offsetBytes = image[run] >> 4;
    ASSERT_GE(offsetBytes, 2u);
    for (unsigned i = 0; i < offsetBytes; ++i) image[run + 1 + lengthBytes + i] = 0xFF;
    image[run + lengthBytes + offsetBytes] = 0x7F;
    WriteFileBytes(dir.file("bad.img"), image);

    CFastNtfsRecovery engine;
    int rc = -1;
    auto listed = ScanFiles(engine, dir.file("bad.img"), rc);
    ASSERT_EQ(0, rc);
    EXPECT_EQ(0u, listed.count("small.txt"));
    EXPECT_EQ(0u, listed.count(accented));
    EXPECT_EQ(0u, listed.count("gone/a.txt"));
    ASSERT_EQ(1u, listed.count(longName)) << "its names are intact";
    for (const auto& f : sc->deleted) {
        const bool damaged = f.path == "small.txt" || f.path == accented || f.path == "gone/a.txt" ||
                             f.path == "docs/odd size.bin" || f.path == longName;
        if (!damaged && f.visible) {
            EXPECT_EQ(1u, listed.count(f.path)) << f.path;
        }
    }

    std::wstring target = Wide(dir.file("far"));
    EXPECT_NE(0, engine.SaveFileData(&listed[longName].node, &target[0], 0)) << "clusters past the volume";
    std::vector<unsigned char> buf(10240);
    int len = int(buf.size());
    wchar_t tmp[512] = {0};
    EXPECT_NE(0, engine.PreView(&listed[longName].node, tmp, buf.data(), len, nullptr, nullptr));
    int saved = 0, refused = 0;
    ExpectSavedOrRefused(engine, listed, *sc, dir, saved, refused);
    EXPECT_GE(saved, 6) << "every undamaged file";
}

TEST(FastNtfsDamage, UnusableDevicesAreRefused) {
    StoreTestEnv env;
    TempDir dir("orvale-ntfs-dev");
    CFastNtfsRecovery engine;
    std::wstring missing = Wide(dir.file("missing.img"));
    EXPECT_EQ(ENOENT, engine.Init(&missing[0], L'C'));
    WriteFileBytes(dir.file("short.img"), std::vector<uint8_t>(1000, 0));
    std::wstring shortImage = Wide(dir.file("short.img"));
    EXPECT_EQ(30, engine.Init(&shortImage[0], L'C'));
    std::vector<uint8_t> zeros(1u << 20, 0);
    WriteFileBytes(dir.file("zeros.img"), zeros);
    std::wstring zeroImage = Wide(dir.file("zeros.img"));
    EXPECT_EQ(87, engine.Init(&zeroImage[0], L'C')) << "no cluster size";
    EXPECT_NE(0, engine.ScanDevice(nullptr));
    uint64_t sector = 3, count = 5;
    EXPECT_EQ(1, engine.GetUnUsedSectorCount(sector, count));
    EXPECT_EQ(0u, count);
    std::vector<_FILE_NODE_> out;
    EXPECT_EQ(0, engine.GetChildrenFileNode(nullptr, 0, out));
    EXPECT_TRUE(out.empty());
}

TEST(FastNtfsDamage, ABadSectorInTheMftCostsOnlyItsRecord) {
    ORVALE_REQUIRE_NTFS_SCENARIO(sc);
    StoreTestEnv env;
    std::map<std::string, ListedNode> clean;
    {
        CFastNtfsRecovery engine;
        int rc = -1;
        clean = ScanFiles(engine, sc->imagePath, rc);
        ASSERT_EQ(0, rc);
    }
    ASSERT_TRUE(clean.count("gone/a.txt"));
    ASSERT_TRUE(clean.count("gone/sub/b.bin"));
    const uint64_t bad = clean["gone/a.txt"].node.u64RecordSector;
    ASSERT_GT(clean["gone/sub/b.bin"].node.u64RecordSector, bad) << "a later record of the same chunk";
    CDiskReader::SetFailingSectorsForTesting({bad});
    CFastNtfsRecovery engine;
    int rc = -1;
    auto listed = ScanFiles(engine, sc->imagePath, rc);
    CDiskReader::SetFailingSectorsForTesting({});
    EXPECT_EQ(0, rc);
    EXPECT_EQ(0u, listed.count("gone/a.txt"));
    for (const auto& f : sc->deleted) {
        if (f.visible && f.path != "gone/a.txt") {
            EXPECT_EQ(1u, listed.count(f.path)) << f.path;
        }
    }
}

TEST(FastNtfsDamage, RecordsOfNoiseAreSurvived) {
    StoreTestEnv env;
    TempDir dir("orvale-ntfs-noise");
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        NtfsImageSynthetic vol(512, 8, 1024, 256);
        vol.AddRoot();
        for (uint32_t n = 16; n < 256; ++n) {
            // Valid-looking headers over noise, with a $FILE_NAME-shaped start now and then.
            std::vector<uint8_t> rec = RandomBytes(1024, seed * 1000 + n);
            std::copy_n("FILE", 4, rec.begin());
            PutLe16(rec, 0x04, 0x30);
            PutLe16(rec, 0x06, 3);
            PutLe16(rec, 0x14, 0x38);
            PutLe16(rec, 0x16, 0);
            PutLe32(rec, 0x18, n % 3 ? 1024 : 0xFFFFFFFF);
            PutLe32(rec, 0x2C, n);
            if (n % 2) {
                PutLe32(rec, 0x38, 0x30);
                PutLe32(rec, 0x3C, 0x68 + (n % 7) * 8);
                PutLe32(rec, 0x38 + 0x18, 16 + (n * 7) % 240); // parent: another noisy record
                rec[0x38 + 0x58] = uint8_t(n % 40);
                PutLe32(rec, 0x38 + 0x68 + (n % 7) * 8, n % 5 ? 0x80 : 0x20); // then $DATA or a list
            }
            vol.SetRecord(n, rec);
        }
        const std::string image = dir.file("noise.img");
        vol.Save(image);
        CFastNtfsRecovery engine;
        int rc = -1;
        auto listed = ScanFiles(engine, image, rc);
        ASSERT_EQ(0, rc) << "seed " << seed;
        EXPECT_GT(engine.GetLostFileCount(), 20) << "noisy records with names still become nodes";
        std::vector<unsigned char> buf(10240);
        wchar_t tmp[512] = {0};
        int n = 0;
        for (auto& kv : listed) {
            int len = int(buf.size());
            engine.PreView(&kv.second.node, tmp, buf.data(), len, nullptr, nullptr);
            EXPECT_LE(len, int(buf.size()));
            std::wstring target = Wide(dir.file("n" + std::to_string(n++)));
            engine.SaveFileData(&kv.second.node, &target[0], 0);
        }
        ASSERT_EQ(0, engine.BuildBitMapInfo());
    }
}

TEST(FastNtfsDamage, AnMftRunlistReachingPastTheVolumeIsCut) {
    StoreTestEnv env;
    TempDir dir("orvale-ntfs-mftrun");
    NtfsImageSynthetic vol(512, 8, 1024, 64);
    vol.AddRoot();
    // $MFT: its 16 real clusters, then four billion clusters far outside the volume.
    NtfsImageRecord mft(0, 1, 1024);
    mft.AddFileName(5, u"$MFT", 3);
    mft.AddNonResident(0x80, EncodeNtfsRunList({{16, 4}, {0xFFFFFFFFull, 1000000}}), 64 * 1024, 0, 16 * 4096);
    vol.SetRecord(0, mft.Finish());
    NtfsImageRecord file(20, 0, 1024);
    file.AddFileName(5, u"kept.txt", 1);
    file.AddResidentData({'o', 'k'});
    vol.SetRecord(20, file.Finish());
    const std::string image = dir.file("runs.img");
    vol.Save(image);

    struct Seen {
        int calls = 0;
        int last = -1;
    } seen;
    CFastNtfsRecovery engine;
    std::wstring path = Wide(image);
    ASSERT_EQ(0, engine.Init(&path[0], L'C'));
    engine.InitCallBack(
        [](void* p, int progress, int, int, uint64_t, uint64_t, uint64_t, wchar_t*) {
            static_cast<Seen*>(p)->calls++;
            static_cast<Seen*>(p)->last = progress;
            return 0;
        },
        nullptr, &seen, 100);
    ASSERT_EQ(0, engine.ScanDevice(nullptr));
    EXPECT_EQ(100, seen.last);
    EXPECT_LT(seen.calls, 10) << "no walk over clusters that do not exist";
    std::vector<ListedNode> files, folders;
    WalkResultTree(engine, nullptr, 0, "", files, folders);
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ("kept.txt", files[0].path);
}
