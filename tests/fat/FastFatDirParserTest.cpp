// Directory clusters as the quick scan reads them: names, kinds, and garbage.
#include "fat/FastFatDirParser.h"

#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

uint16_t Date2020() { return uint16_t((40 << 9) | (6 << 5) | 15); }

void PutShort(std::vector<uint8_t>& buf, size_t slot, const char* name11, uint8_t attr, uint32_t size = 10,
              uint16_t cluster = 5) {
    FAT32_Entry e;
    std::memset(&e, 0, sizeof e);
    std::memcpy(e.DIR_Name, name11, 11);
    e.DIR_Attr = attr;
    e.DIR_FileSize = size;
    e.DIR_FstClusLO = cluster;
    e.DIR_CrtDate = e.DIR_LstAccDate = e.DIR_WrtDate = Date2020();
    std::memcpy(buf.data() + slot * 32, &e, 32);
}

// Writes the long-name pieces of name (ASCII) for the short entry that follows them.
size_t PutLongName(std::vector<uint8_t>& buf, size_t slot, const std::string& name, const char* shortName11,
                   bool deleted = false) {
    const size_t pieces = (name.size() + 12) / 13;
    const uint8_t sum = GetShortNameCheckSum(shortName11);
    for (size_t p = pieces; p-- > 0;) {
        uint8_t* e = buf.data() + slot * 32;
        std::memset(e, 0xFF, 32);
        e[0] = deleted ? 0xE5 : uint8_t((p + 1) | (p + 1 == pieces ? 0x40 : 0));
        e[11] = 0x0F;
        e[12] = 0;
        e[13] = sum;
        e[26] = e[27] = 0;
        static const int offsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        for (size_t i = 0; i < 13; ++i) {
            size_t k = p * 13 + i;
            uint16_t c = k < name.size() ? uint16_t(uint8_t(name[k])) : (k == name.size() ? 0 : 0xFFFF);
            e[offsets[i]] = uint8_t(c);
            e[offsets[i] + 1] = uint8_t(c >> 8);
        }
        ++slot;
    }
    return slot;
}

std::vector<FASTFAT_DIR_ITEM> Parse(const std::vector<uint8_t>& buf, bool* ended = nullptr) {
    FASTFAT_LONG_NAME ln;
    std::vector<FASTFAT_DIR_ITEM> items;
    bool e = ParseFastFatDirCluster(ByteView(buf.data(), buf.size()), ln, items);
    if (ended) *ended = e;
    return items;
}

} // namespace

TEST(FastFatDirParser, NamesKindsAndSkippedEntries) {
    std::vector<uint8_t> buf(512, 0);
    PutShort(buf, 0, ".          ", 0x10, 0, 9);
    PutShort(buf, 1, "..         ", 0x10, 0, 0);
    size_t s = PutLongName(buf, 2, "Holiday pictures.txt", "HOLIDA~1TXT");
    PutShort(buf, s++, "HOLIDA~1TXT", 0x20);
    PutShort(buf, s++, "\xE5" "EADME  TXT", 0x20);
    PutShort(buf, s++, "SUBDIR     ", 0x10, 0, 12);
    PutShort(buf, s++, "NOARCH  TXT", 0x01);       // a file without the archive bit
    PutShort(buf, s++, "lower   TXT", 0x20);       // lower case in the 11 bytes
    PutShort(buf, s++, "MY DISK    ", 0x08, 0, 0); // volume label
    PutShort(buf, s++, "NOEXT      ", 0x20);
    bool ended = false;
    std::vector<FASTFAT_DIR_ITEM> items = Parse(buf, &ended);
    EXPECT_TRUE(ended);
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[0].nKind, FASTFAT_ITEM_DOT);
    EXPECT_EQ(items[0].entry.DIR_FstClusLO, 9);
    EXPECT_EQ(items[1].nKind, FASTFAT_ITEM_FILE);
    EXPECT_STREQ(items[1].szName, "Holiday pictures.txt");
    EXPECT_EQ(items[1].nOffset, 4u * 32);
    EXPECT_FALSE(items[1].bDeleted);
    EXPECT_STREQ(items[2].szName, "!eadme.txt");
    EXPECT_TRUE(items[2].bDeleted);
    EXPECT_EQ(items[3].nKind, FASTFAT_ITEM_DIR);
    EXPECT_STREQ(items[3].szName, "subdir");
    EXPECT_STREQ(items[4].szName, "noext");
}

TEST(FastFatDirParser, LongNamesOfExactPieceLengthAndAcrossClusters) {
    // 26 characters: two full pieces with no terminator.
    std::vector<uint8_t> buf(512, 0);
    const std::string exact = "Exactly twenty-six chars.x";
    size_t s = PutLongName(buf, 0, exact, "EXACTL~1X  ");
    PutShort(buf, s, "EXACTL~1X  ", 0x20);
    std::vector<FASTFAT_DIR_ITEM> items = Parse(buf);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(std::string(items[0].szName), exact);

    // A run that starts at the end of one cluster and ends in the next.
    std::vector<uint8_t> all(1024, 0);
    for (size_t i = 0; i < 15; ++i) PutShort(all, i, "LIVE    TXT", 0x20);
    const std::string name = "A name that spans two clusters.bin";
    size_t end = PutLongName(all, 15, name, "ANAMET~1BIN");
    PutShort(all, end, "ANAMET~1BIN", 0x20);
    std::vector<uint8_t> first(all.begin(), all.begin() + 512), second(all.begin() + 512, all.end());
    FASTFAT_LONG_NAME ln;
    std::vector<FASTFAT_DIR_ITEM> got;
    EXPECT_FALSE(ParseFastFatDirCluster(ByteView(first.data(), first.size()), ln, got));
    EXPECT_EQ(got.size(), 15u);
    got.clear();
    EXPECT_TRUE(ParseFastFatDirCluster(ByteView(second.data(), second.size()), ln, got));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(std::string(got[0].szName), name);

    // Deleted pieces keep their characters.
    std::vector<uint8_t> del(512, 0);
    s = PutLongName(del, 0, "Gone but named.doc", "GONEBU~1DOC", true);
    PutShort(del, s, "\xE5ONEBU~1DOC", 0x20);
    items = Parse(del);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_STREQ(items[0].szName, "Gone but named.doc");
}

TEST(FastFatDirParser, MoreThanNineteenPiecesEndTheDirectory) {
    std::vector<uint8_t> buf(2048, 0);
    for (size_t i = 0; i < 20; ++i) {
        uint8_t* e = buf.data() + i * 32;
        std::memset(e, 'A', 32);
        e[0] = 0xE5; // deleted pieces carry no ordinal limit
        e[11] = 0x0F;
        e[26] = e[27] = 0;
    }
    PutShort(buf, 20, "AFTER   TXT", 0x20);
    bool ended = false;
    std::vector<FASTFAT_DIR_ITEM> items = Parse(buf, &ended);
    EXPECT_TRUE(ended);
    EXPECT_TRUE(items.empty());

    // Nineteen pieces are still a name, and the entries after it are read.
    PutShort(buf, 19, "NINETEENTXT", 0x20);
    items = Parse(buf, &ended);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_STRNE(items[0].szName, "nineteen.txt");
    EXPECT_GT(std::strlen(items[0].szName), 13u);
    EXPECT_STREQ(items[1].szName, "after.txt");
}

// Garbage costs the garbage: no crash, no read past the buffer (checked under the
// sanitizer build), and a valid entry behind garbage is still found.
TEST(FastFatDirParser, RandomClustersAreSurvived) {
    size_t found = 0;
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        std::vector<uint8_t> buf = RandomBytes(512 + (seed % 3) * 7, seed); // odd sizes too
        found += Parse(buf).size();
    }
    EXPECT_LT(found, 5u);

    std::vector<uint8_t> mixed = RandomBytes(512, 99);
    for (size_t i = 0; i < 512; i += 32) mixed[i] = mixed[i] ? mixed[i] : 1; // no early end mark
    PutShort(mixed, 10, "VALID   TXT", 0x20);
    std::vector<FASTFAT_DIR_ITEM> items = Parse(mixed);
    bool sawValid = false;
    for (const FASTFAT_DIR_ITEM& it : items) sawValid |= std::string(it.szName) == "valid.txt";
    EXPECT_TRUE(sawValid);

    std::vector<uint8_t> tiny(20, 0x41);
    EXPECT_TRUE(Parse(tiny).empty());
}

TEST(FastFatDirParser, ShortNameFormatting) {
    FAT32_Entry e;
    std::memset(&e, 0, sizeof e);
    std::memcpy(e.DIR_Name, "FOLDER  EXT", 11);
    char out[32];
    FormatFastFatShortName(e, true, out, sizeof out);
    EXPECT_STREQ(out, "folder");
    FormatFastFatShortName(e, false, out, sizeof out);
    EXPECT_STREQ(out, "folder.ext");
    std::memcpy(e.DIR_Name, "\xE5" "B      C  ", 11);
    FormatFastFatShortName(e, false, out, sizeof out);
    EXPECT_STREQ(out, "!b.c");
    FormatFastFatShortName(e, false, out, 3);
    EXPECT_STREQ(out, "!b");
}
