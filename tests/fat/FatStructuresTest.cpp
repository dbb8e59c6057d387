#include "fat/FatStructures.h"

#include "fixtures/FatImageBuilder.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <vector>

namespace {

uint16_t DateWord(unsigned year, unsigned month, unsigned day) {
    return uint16_t(((year - 1980) << 9) | (month << 5) | day);
}

FAT32_Entry Entry(const char* name11, uint8_t attr, uint32_t size = 100, uint32_t cluster = 5) {
    FAT32_Entry e;
    std::memset(&e, 0, sizeof e);
    std::memcpy(e.DIR_Name, name11, 11);
    e.DIR_Attr = attr;
    e.DIR_FileSize = size;
    e.DIR_FstClusHI = uint16_t(cluster >> 16);
    e.DIR_FstClusLO = uint16_t(cluster);
    e.DIR_CrtDate = e.DIR_LstAccDate = e.DIR_WrtDate = DateWord(2020, 6, 15);
    return e;
}

FAT32_Entry LongEntry(uint8_t ord, uint8_t checksum) {
    FAT32_Entry e;
    std::memset(&e, 0xFF, sizeof e);
    unsigned char* raw = reinterpret_cast<unsigned char*>(&e);
    raw[0] = ord;
    for (int i = 1; i < 11; i += 2) { raw[i] = 'a'; raw[i + 1] = 0; }
    raw[11] = FAT_ATTR_LONG_NAME;
    raw[12] = 0;
    raw[13] = checksum;
    raw[26] = raw[27] = 0;
    return e;
}

std::vector<unsigned char> Table(const std::vector<FAT32_Entry>& entries, size_t bytes = 512) {
    std::vector<unsigned char> buf(bytes, 0);
    for (size_t i = 0; i < entries.size(); ++i) std::memcpy(buf.data() + i * 32, &entries[i], 32);
    return buf;
}


} // namespace

TEST(FatStructures, ShortNameCharacterRules) {
    EXPECT_EQ(IsInvalidShortFileName("README  TXT"), 0);
    EXPECT_EQ(IsInvalidShortFileName("\xE5" "EADME  TXT"), 0) << "deleted mark is an ordinary high byte";
    EXPECT_EQ(IsInvalidShortFileName("\xD6\xD0\xCE\xC4    TXT"), 0) << "double-byte names are allowed";
    EXPECT_EQ(IsInvalidShortFileName("readme  TXT"), 1);
    EXPECT_EQ(IsInvalidShortFileName("READ.E  TXT"), 1);
    EXPECT_EQ(IsInvalidShortFileName("READ\x01   TXT"), 1);
    for (char bad : std::string("\\:*?\"<>|")) {
        char name[12] = "ABCDEFGHTXT";
        name[3] = bad;
        EXPECT_EQ(IsInvalidShortFileName(name), 1) << bad;
    }
}

TEST(FatStructures, EntryNameAndAttributeRules) {
    FAT32_Entry file = Entry("README  TXT", FAT_ATTR_ARCHIVE);
    EXPECT_EQ(IsFatEntyValid(&file), 1);

    FAT32_Entry lower = Entry("readme  TXT", FAT_ATTR_ARCHIVE);
    FAT32_Entry dot = Entry("READ.E  TXT", FAT_ATTR_ARCHIVE);
    FAT32_Entry ctrl = Entry("READ\x02   TXT", FAT_ATTR_ARCHIVE);
    EXPECT_EQ(IsFatEntyValid(&lower), 0);
    EXPECT_EQ(IsFatEntyValid(&dot), 0);
    EXPECT_EQ(IsFatEntyValid(&ctrl), 0);

    // A volume label may carry any name, but no size and no cluster.
    FAT32_Entry label = Entry("my disk    ", FAT_ATTR_VOLUME_ID, 0, 0);
    EXPECT_EQ(IsFatEntyValid(&label), 1);
    FAT32_Entry labelWithCluster = Entry("MYDISK     ", FAT_ATTR_VOLUME_ID, 0, 7);
    EXPECT_EQ(IsFatEntyValid(&labelWithCluster), 0);
    FAT32_Entry labelAndArchive = Entry("MYDISK     ", FAT_ATTR_VOLUME_ID | FAT_ATTR_ARCHIVE, 0, 0);
    EXPECT_EQ(IsFatEntyValid(&labelAndArchive), 0);

    // Files need the archive bit, deleted or not; folders do not.
    FAT32_Entry noArchive = Entry("README  TXT", 0);
    FAT32_Entry noArchiveDeleted = Entry("\xE5" "EADME  TXT", FAT_ATTR_HIDDEN);
    FAT32_Entry dir = Entry("PHOTOS     ", FAT_ATTR_DIRECTORY, 0, 9);
    EXPECT_EQ(IsFatEntyValid(&noArchive), 0);
    EXPECT_EQ(IsFatEntyValid(&noArchiveDeleted), 0);
    EXPECT_EQ(IsFatEntyValid(&dir), 1);

    FAT32_Entry readOnlyDir = Entry("PHOTOS     ", FAT_ATTR_DIRECTORY | FAT_ATTR_READ_ONLY, 0, 9);
    FAT32_Entry sizedDir = Entry("PHOTOS     ", FAT_ATTR_DIRECTORY, 512, 9);
    FAT32_Entry sizedDeletedDir = Entry("\xE5" "HOTOS     ", FAT_ATTR_DIRECTORY, 512, 9);
    FAT32_Entry highAttr = Entry("README  TXT", 0x60);
    FAT32_Entry emptyWithCluster = Entry("EMPTY   TXT", FAT_ATTR_ARCHIVE, 0, 12);
    FAT32_Entry emptyFile = Entry("EMPTY   TXT", FAT_ATTR_ARCHIVE, 0, 0);
    EXPECT_EQ(IsFatEntyValid(&readOnlyDir), 0);
    EXPECT_EQ(IsFatEntyValid(&sizedDir), 0);
    EXPECT_EQ(IsFatEntyValid(&sizedDeletedDir), 1);
    EXPECT_EQ(IsFatEntyValid(&highAttr), 0);
    EXPECT_EQ(IsFatEntyValid(&emptyWithCluster), 0);
    EXPECT_EQ(IsFatEntyValid(&emptyFile), 1);
    EXPECT_EQ(IsFatEntyValid(nullptr), 0);
}

TEST(FatStructures, LiveFilesNeedPlausibleDates) {
    ScopedEnv tz("TZ", "UTC");
    tzset();
    FAT32_Entry old = Entry("README  TXT", FAT_ATTR_ARCHIVE);
    old.DIR_WrtDate = DateWord(1991, 5, 2);
    EXPECT_EQ(IsFatEntyValid(&old), 0);
    old.DIR_WrtDate = DateWord(1991, 5, 4);
    EXPECT_EQ(IsFatEntyValid(&old), 1);

    FAT32_Entry late = Entry("README  TXT", FAT_ATTR_ARCHIVE);
    late.DIR_CrtDate = DateWord(2080, 1, 24);
    EXPECT_EQ(IsFatEntyValid(&late), 0);
    late.DIR_CrtDate = DateWord(2080, 1, 22);
    EXPECT_EQ(IsFatEntyValid(&late), 1);

    // No date condition on deleted entries and folders.
    FAT32_Entry deleted = Entry("\xE5" "EADME  TXT", FAT_ATTR_ARCHIVE);
    deleted.DIR_CrtDate = deleted.DIR_LstAccDate = deleted.DIR_WrtDate = 0;
    EXPECT_EQ(IsFatEntyValid(&deleted), 1);
    FAT32_Entry dir = Entry("PHOTOS     ", FAT_ATTR_DIRECTORY, 0, 9);
    dir.DIR_CrtDate = dir.DIR_LstAccDate = dir.DIR_WrtDate = 0;
    EXPECT_EQ(IsFatEntyValid(&dir), 1);
}

TEST(FatStructures, LongNameEntryRules) {
    FAT32_Entry piece = LongEntry(0x41, 0x55);
    EXPECT_EQ(IsFatEntyValid(&piece), 1);
    FAT32_Entry ord18 = LongEntry(0x40 | 18, 0x55);
    FAT32_Entry ord19 = LongEntry(0x40 | 19, 0x55);
    FAT32_Entry deleted19 = LongEntry(FAT_DELETED_MARK, 0x55);
    EXPECT_EQ(IsFatEntyValid(&ord18), 1);
    EXPECT_EQ(IsFatEntyValid(&ord19), 0);
    EXPECT_EQ(IsFatEntyValid(&deleted19), 1);
    FAT32_Entry withCluster = LongEntry(0x41, 0x55);
    withCluster.DIR_FstClusLO = 3;
    EXPECT_EQ(IsFatEntyValid(&withCluster), 0);
}

TEST(FatStructures, DotPairIsRecognisedOnlyWhenBothEntriesAreReadable) {
    std::vector<unsigned char> buf = Table({Entry(".          ", FAT_ATTR_DIRECTORY, 0, 9),
                                            Entry("..         ", FAT_ATTR_DIRECTORY, 0, 0)});
    EXPECT_EQ(IsFatFileRecord(buf.data()), 1);
    EXPECT_EQ(IsFatEntyValid(reinterpret_cast<const FAT32_Entry*>(buf.data()), buf.size()), 1);
    // Only the "." entry at the very end of a buffer: not a pair, and nothing past the end is read.
    std::vector<unsigned char> tail(buf.begin(), buf.begin() + 32);
    EXPECT_EQ(IsFatEntyValid(reinterpret_cast<const FAT32_Entry*>(tail.data()), tail.size()), 0);
    EXPECT_EQ(IsFatFileRecord(tail.data(), tail.size()), 0);
    // A "." entry followed by something else is no pair.
    buf[33] = 'X';
    EXPECT_EQ(IsFatFileRecord(buf.data()), 0);
    EXPECT_EQ(IsFatFileRecord(nullptr), 0);
    // A directory cluster starting with the dot pair is not a directory table by itself.
    buf[33] = '.';
    EXPECT_EQ(IsFatFDTRecord(buf.data(), int(buf.size())), 0);
}

TEST(FatStructures, DirectoryTableTest) {
    std::vector<unsigned char> zeros(512, 0);
    EXPECT_EQ(IsFatFDTRecord(zeros.data(), 512), 0);

    std::vector<unsigned char> one = Table({Entry("README  TXT", FAT_ATTR_ARCHIVE)});
    EXPECT_EQ(IsFatFDTRecord(one.data(), 512), 1);
    one[300] = 1;
    EXPECT_EQ(IsFatFDTRecord(one.data(), 512), 0) << "bytes after the end mark must be zero";

    // A long name whose checksum belongs to its short entry.
    FAT32_Entry shortEntry = Entry("LONGFI~1TXT", FAT_ATTR_ARCHIVE);
    uint8_t sum = GetShortNameCheckSum(reinterpret_cast<const char*>(shortEntry.DIR_Name));
    std::vector<unsigned char> named = Table({LongEntry(0x42, sum), LongEntry(0x01, sum), shortEntry});
    EXPECT_EQ(IsFatFDTRecord(named.data(), 512), 1);
    std::vector<unsigned char> wrongSum = Table({LongEntry(0x42, uint8_t(sum + 1)), LongEntry(0x01, uint8_t(sum + 1)), shortEntry});
    EXPECT_EQ(IsFatFDTRecord(wrongSum.data(), 512), 0);
    std::vector<unsigned char> mixedSum = Table({LongEntry(0x42, sum), LongEntry(0x01, uint8_t(sum + 1)), shortEntry});
    EXPECT_EQ(IsFatFDTRecord(mixedSum.data(), 512), 0);
    // A deleted short entry no longer matches its checksum and is exempt.
    FAT32_Entry deletedShort = shortEntry;
    deletedShort.DIR_Name[0] = FAT_DELETED_MARK;
    std::vector<unsigned char> deleted = Table({LongEntry(FAT_DELETED_MARK, sum), deletedShort});
    EXPECT_EQ(IsFatFDTRecord(deleted.data(), 512), 1);

    // Short-name layout: blanks only at the end, double-byte pairs complete.
    std::vector<unsigned char> innerBlank = Table({Entry("READ ME TXT", FAT_ATTR_ARCHIVE)});
    EXPECT_EQ(IsFatFDTRecord(innerBlank.data(), 512), 0);
    std::vector<unsigned char> halfPair = Table({Entry("AB\xD6" "C    TXT", FAT_ATTR_ARCHIVE)});
    EXPECT_EQ(IsFatFDTRecord(halfPair.data(), 512), 0);
    std::vector<unsigned char> pair = Table({Entry("AB\xD6\xD0    TXT", FAT_ATTR_ARCHIVE)});
    EXPECT_EQ(IsFatFDTRecord(pair.data(), 512), 1);

    // A table filled to its last byte, with a long name cut by the buffer end.
    std::vector<FAT32_Entry> full(15, Entry("README  TXT", FAT_ATTR_ARCHIVE));
    full.push_back(LongEntry(0x41, 0x00));
    std::vector<unsigned char> fullBuf = Table(full);
    EXPECT_EQ(IsFatFDTRecord(fullBuf.data(), 512), 1);

    std::vector<uint8_t> noise = RandomBytes(512, 7);
    EXPECT_EQ(IsFatFDTRecord(noise.data(), 512), 0);
    EXPECT_EQ(IsFatFDTRecord(nullptr, 512), 0);
    EXPECT_EQ(IsFatFDTRecord(one.data(), 16), 0);
}

TEST(FatStructures, DatesBecomeLocalMidnight) {
    ScopedEnv tz("TZ", "UTC");
    tzset();
    FAT32_Entry e = Entry("README  TXT", FAT_ATTR_ARCHIVE);
    e.DIR_CrtDate = DateWord(2020, 6, 15);
    e.DIR_CrtTime = 0xFFFF; // time of day is ignored
    e.DIR_LstAccDate = DateWord(1999, 12, 31);
    e.DIR_WrtDate = DateWord(2107, 12, 31);
    _FILETIME c, a, w;
    Fat32GetFileCreateTime(&e, &c);
    Fat32GetFileLastAccessTime(&e, &a);
    Fat32GetFileLastChangeTime(&e, &w);
    EXPECT_EQ(FileTimeToU64(c), 1592179200u);  // 2020-06-15T00:00:00Z
    EXPECT_EQ(FileTimeToU64(a), 946598400u);   // 1999-12-31T00:00:00Z
    EXPECT_EQ(FileTimeToU64(w), 4354732800u);  // 2107-12-31T00:00:00Z, past 32 bits
    EXPECT_EQ(w.dwHighDateTime, 1u);
}

// Directory sectors written by the reference tools pass every test, and their
// long-name checksums agree with ours.
TEST(FatStructures, RealDirectorySectors) {
    ORVALE_REQUIRE_TOOL("mkfs.vfat");
    ORVALE_REQUIRE_TOOL("mcopy");
    TempDir dir("fatstruct");
    FatImageBuilder img(dir.file("v.img"), 16, 16384, 4);
    ASSERT_TRUE(img.ok());
    ASSERT_TRUE(img.MakeDir("/Photos"));
    ASSERT_TRUE(img.PutFile("/Photos/A rather long file name.jpeg", RandomBytes(3000, 1)));
    ASSERT_TRUE(img.PutFile("/Photos/SHORT.TXT", RandomBytes(10, 2)));
    // Its short alias is written in a Western code page, which the double-byte rule rejects: keep it out.
    ASSERT_TRUE(img.PutFile("/Café 照片.txt", RandomBytes(10, 3)));
    ASSERT_TRUE(img.PutFile("/Photos/gone.bin", RandomBytes(10, 4)));
    ASSERT_TRUE(img.DeleteFile("/Photos/gone.bin"));

    // The folder is the first cluster of the data area.
    const unsigned clusterBytes = img.BytesPerSector() * img.SectorsPerCluster();
    std::vector<uint8_t> cluster = img.ReadBytes(img.ClusterSector(2) * 512, clusterBytes);
    ASSERT_EQ(cluster.size(), clusterBytes);
    EXPECT_EQ(IsFatFileRecord(cluster.data(), cluster.size()), 1);
    // The entries after the dot pair form a directory table.
    EXPECT_EQ(IsFatFDTRecord(cluster.data() + 64, 512 - 64), 1);

    int longNames = 0, shortEntries = 0, deleted = 0;
    for (size_t off = 64; off + 32 <= cluster.size() && cluster[off] != 0; off += 32) {
        const FAT32_Entry* e = reinterpret_cast<const FAT32_Entry*>(cluster.data() + off);
        EXPECT_EQ(IsFatEntyValid(e, cluster.size() - off), 1) << "entry at " << off;
        if (e->DIR_Attr == FAT_ATTR_LONG_NAME) {
            ++longNames;
            if (e->DIR_Name[0] == FAT_DELETED_MARK) continue;
            // Find the short entry that closes this run and check the checksum.
            size_t s = off;
            while (cluster[s + 11] == FAT_ATTR_LONG_NAME) s += 32;
            EXPECT_EQ(cluster[off + 13], GetShortNameCheckSum(reinterpret_cast<const char*>(cluster.data() + s)));
        } else {
            ++shortEntries;
            if (e->DIR_Name[0] == FAT_DELETED_MARK) ++deleted;
        }
    }
    EXPECT_EQ(shortEntries, 3);
    EXPECT_EQ(deleted, 1);
    EXPECT_GE(longNames, 3);

    // The first long-name piece of the first file spells the start of its name.
    const FAT_LONG_NAME_ENTRY* first = reinterpret_cast<const FAT_LONG_NAME_ENTRY*>(cluster.data() + 64);
    ASSERT_EQ(first->LDIR_Attr, FAT_ATTR_LONG_NAME);
    // Pieces are stored last part first: walk to the piece with ordinal 1.
    size_t off = 64;
    while ((cluster[off] & 0x3F) != 1) off += 32;
    uint16_t chars[FAT_LONG_NAME_CHARS];
    GetLongNameChars(reinterpret_cast<const FAT_LONG_NAME_ENTRY*>(cluster.data() + off), chars);
    std::string start;
    for (uint16_t c : chars) start += char(c);
    EXPECT_EQ(start, "A rather long");
}
