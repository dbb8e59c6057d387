// Compound files (Word, Excel, PowerPoint 97-2003): the application from the
// first stream or the directory; the length from the last used FAT sector.
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"
#include "carving/formats/FormatBytes.h"
#include "platform/ByteView.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
// Case-insensitive comparison of a UTF-16LE name with an ASCII prefix.
bool Utf16StartsWith(const unsigned char* name, size_t bytes, const char* prefix) {
    size_t n = std::strlen(prefix);
    if (bytes < 2 * n) return false;
    for (size_t i = 0; i < n; ++i) {
        unsigned c = name[2 * i] | (name[2 * i + 1] << 8);
        unsigned p = static_cast<unsigned char>(prefix[i]);
        if (c >= 'A' && c <= 'Z') c += 32;
        if (p >= 'A' && p <= 'Z') p += 32;
        if (c != p) return false;
    }
    return true;
}

bool ClassIdIs(const ByteView& dir, uint32_t first, const unsigned char* rest12) {
    return dir.le32(80) == first && dir.equals(84, rest12, 12);
}

const FormatName kOffice97Names[] = {
    {"doc", TYPE_DOC}, {"dot", TYPE_DOC}, {"wps", TYPE_DOC}, {"wpt", TYPE_DOC}, {"xls", TYPE_XLS},
    {"xlt", TYPE_XLS}, {"xla", TYPE_XLS}, {"et", TYPE_XLS},  {"ett", TYPE_XLS}, {"ppt", TYPE_PPT},
    {"pot", TYPE_PPT}, {"pps", TYPE_PPT}, {"dps", TYPE_PPT}, {"dpt", TYPE_PPT}, {"ole", TYPE_OLE}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsOffice2003Type(unsigned char* buf, int len) {
    static const unsigned char sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    if (!buf || len < 8 || std::memcmp(buf, sig, 8) != 0) return TYPE_UNKNOWN;
    if (len < 52) return TYPE_OLE; // the directory's location is not in the buffer
    return GetOffice2003Type(buf);
}

EXTEND_NAME_TYPE FormatRules::GetOffice2003Type(unsigned char* header) {
    if (!header) return TYPE_UNKNOWN;
    int bps = m_nBytesPerSector > 0 ? m_nBytesPerSector : 512;
    std::vector<unsigned char> sector(bps);

    static const unsigned char biff8[6] = {0x09, 0x08, 0x10, 0x00, 0x00, 0x06};
    if (!ReadFileBytesAt(static_cast<uint64_t>(bps), sector.data(), bps)) return TYPE_OLE;
    if (std::memcmp(sector.data(), biff8, 6) == 0) return TYPE_XLS;
    if (sector[0] == 0xEC && sector[1] == 0xA5) return TYPE_DOC;

    ByteView head(header, 512);
    // Version 4 files use 4096-byte sectors; the directory's place follows the header's own size.
    unsigned shift = head.le16(30) == 12 ? 12 : 9;
    uint64_t dirOffset = (static_cast<uint64_t>(head.le32(48)) + 1) << shift;
    if (!ReadFileBytesAt(dirOffset, sector.data(), bps)) return TYPE_OLE;

    ByteView dir(sector.data(), sector.size());
    static const unsigned char officeRest[12] = {0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    static const unsigned char pptRest[12] = {0x9B, 0x4F, 0xCF, 0x11, 0x86, 0xEA, 0x00, 0xAA, 0x00, 0xB9, 0x29, 0xE8};
    if (ClassIdIs(dir, 0x00020906, officeRest)) return TYPE_DOC;
    if (ClassIdIs(dir, 0x00020810, officeRest) || ClassIdIs(dir, 0x00020820, officeRest)) return TYPE_XLS;
    if (ClassIdIs(dir, 0x64818D10, pptRest)) return TYPE_PPT;

    for (size_t e = 0; e + 128 <= sector.size(); e += 128) {
        const unsigned char* name = sector.data() + e;
        if (Utf16StartsWith(name, 64, "WordDocument")) return TYPE_DOC;
        // Excel names its stream "Workbook"; the misspelt name is accepted as well.
        if (Utf16StartsWith(name, 64, "Workbook") || Utf16StartsWith(name, 64, "Wordbook")) return TYPE_XLS;
        if (Utf16StartsWith(name, 64, "PowerPoint Document")) return TYPE_PPT;
    }
    return TYPE_OLE;
}

uint64_t FormatRules::GetOFFICE2003FileBytesSizeByFileHead(unsigned char* buf, int len) {
    if (!buf || len < 512) return 0;
    ByteView h(buf, len);
    unsigned shift = h.le16(30);
    if (shift != 9 && shift != 12) return 0;
    // Version 3 files have 512-byte sectors and 128 FAT entries per FAT sector; the
    // same arithmetic in the header's own units covers version 4 (4096 bytes, 1024).
    const uint64_t sectorBytes = 1ull << shift;
    const uint64_t perSector = 1ull << (shift - 2);
    const uint64_t limit = (0xFFFFFFFAull >> (shift - 2)) + 1;
    uint64_t fatSectors = h.le32(44), miniFatSectors = h.le32(64), difatSectors = h.le32(72);
    if (fatSectors == 0 || fatSectors > limit || miniFatSectors > limit) return 0;
    if (difatSectors > limit / (perSector - 1) + 1) return 0;
    if (difatSectors && fatSectors < 109) return 0;

    // What the FAT sectors could describe, used when a sector cannot be read.
    const uint64_t fallback = std::min<uint64_t>((fatSectors * perSector + 1) * sectorBytes, 0x7FFFFFF);

    // The sector number of the last FAT sector: in the header's list of 109, or
    // down the DIFAT chain (perSector - 1 entries per DIFAT sector plus the link).
    uint64_t lastFat = 0;
    uint64_t index = fatSectors - 1;
    if (index < 109) {
        lastFat = h.le32(76 + 4 * index);
    } else {
        if (!difatSectors) return 0;
        index -= 109;
        const uint64_t perDifat = perSector - 1;
        const uint64_t hops = index / perDifat;
        if (hops >= difatSectors) return 0;
        uint64_t difat = h.le32(68);
        std::vector<unsigned char> sector(sectorBytes);
        for (uint64_t i = 0; i <= hops; ++i) {
            if (difat >= 0xFFFFFFFA || !ReadFileBytesAt((difat + 1) * sectorBytes, sector.data(), int(sectorBytes)))
                return fallback;
            ByteView d(sector.data(), sector.size());
            if (i == hops) lastFat = d.le32(4 * (index % perDifat));
            else difat = d.le32(4 * perDifat);
        }
    }

    std::vector<unsigned char> fat(sectorBytes);
    if (lastFat >= 0xFFFFFFFA || !ReadFileBytesAt((lastFat + 1) * sectorBytes, fat.data(), int(sectorBytes)))
        return fallback;
    uint64_t free = 0;
    ByteView f(fat.data(), fat.size());
    for (uint64_t i = perSector; i > 0 && f.le32(4 * (i - 1)) == 0xFFFFFFFF; --i) ++free;
    uint64_t length = (fatSectors * perSector + 1 - free) * sectorBytes;
    return std::min<uint64_t>(length, 0x7FFFFFF);
}

uint64_t FormatRules::GetOFFICE2003FileBytesSize(unsigned char* buf, int len) {
    uint64_t length = GetOFFICE2003FileBytesSizeByFileHead(buf, len);
    if (length) return length;
    // No usable header: look for the document summary a word processor writes.
    static const unsigned char propertySet[6] = {0x01, 0x00, 0xFE, 0xFF, 0x03, 0x0A};
    static const unsigned char writer[26] = {'M', 'i', 'c', 'r', 'o', 's', 'o', 'f', 't', ' ', 'O', 'f', 'f',
                                             'i', 'c', 'e', ' ', 'W', 'o', 'r', 'd', ' ', 0xCE, 0xC4, 0xB5, 0xB5};
    const int bps = Bps();
    return ReadAhead(0x7FFFFFF, STOP_AT_ANY_START, [&](unsigned char* w, int bytes, uint64_t before, uint64_t& end) {
        if (!memmem(w, bytes, propertySet, 6)) return false;
        unsigned char* t = memmem(w, bytes, writer, 26);
        if (!t) return false;
        uint64_t e = before + static_cast<uint64_t>(t - w) + 26;
        end = (e + bps - 1) / bps * bps;
        return true;
    });
}

CARVED_FORMAT(Office97, IsOffice2003Type, &FormatRules::GetOFFICE2003FileBytesSize, FORMAT_BYTES("\xD0\xCF\x11\xE0"), nullptr, FORMAT_BYTES("\xD0"), -1, 0, true)
