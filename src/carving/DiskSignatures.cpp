// Signature tests that look past the first sector: transport streams (is the
// packet grid really there, and did the stream start earlier?) and the Office
// containers (which application wrote the compound file or the zip?).
#include "carving/CFileTypeJudge.h"
#include "platform/ByteView.h"

#include <algorithm>
#include <cstring>
#include <strings.h>
#include <vector>

namespace {
constexpr int kTsPacket = 188;

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

// Office part name at pos (bounded by end): the kind it reveals, or 49.
EXTEND_NAME_TYPE OfficeKindOfName(const unsigned char* buf, size_t pos, size_t end) {
    if (pos >= end) return TYPE_UNKNOWN;
    size_t left = end - pos;
    if (left >= 5 && strncasecmp(reinterpret_cast<const char*>(buf + pos), "word", 4) == 0) return TYPE_DOCX;
    if (left >= 4 && strncasecmp(reinterpret_cast<const char*>(buf + pos), "ppt", 3) == 0) return TYPE_PPTX;
    if (left >= 3 && strncasecmp(reinterpret_cast<const char*>(buf + pos), "xl", 2) == 0) return TYPE_XLSX;
    return TYPE_UNKNOWN;
}

// One walker over the zip headers of a window: finds the next signature from pos.
struct ZipWalker {
    const unsigned char* sig;
    size_t nameOffset;  // of the entry name from the signature
    size_t minAfter;    // bytes a header needs after its signature
    size_t pos = 0;
    bool done = false;

    EXTEND_NAME_TYPE Step(unsigned char* buf, size_t len, size_t limit) {
        unsigned char* hit = CFileTypeJudge::memmem(buf + pos, static_cast<int>(len - pos), sig, 4);
        if (!hit) { done = true; return TYPE_UNKNOWN; }
        size_t at = static_cast<size_t>(hit - buf);
        if (at > limit || len - at < minAfter + 4) { done = true; return TYPE_UNKNOWN; }
        pos = at + 4;
        return OfficeKindOfName(buf, at + nameOffset, len);
    }
};
} // namespace

EXTEND_NAME_TYPE CFileTypeJudge::IsTsType(unsigned char* buf, int len) {
    if (!buf || len < kTsPacket) return TYPE_UNKNOWN;
    if (buf[0] != 'G' || (buf[1] == 0 && buf[2] == 0 && buf[3] == 0)) return TYPE_UNKNOWN;
    for (int k = 0; k * kTsPacket < len; ++k)
        if (buf[k * kTsPacket] != 'G') return TYPE_UNKNOWN;

    int bps = m_nBytesPerSector > 0 ? m_nBytesPerSector : 512;
    int sectors = std::max(1, 4096 / bps);
    std::vector<unsigned char> ahead(static_cast<size_t>(sectors) * bps);
    unsigned got = 0;
    if (ReadContextSectors(ahead.data(), sectors, m_u64CurrentSector, got) != 0) return TYPE_UNKNOWN;
    for (int k = 0; k < 22; ++k) {
        size_t off = static_cast<size_t>(k) * kTsPacket;
        if (off >= ahead.size() || ahead[off] != 'G') return TYPE_UNKNOWN;
    }

    if (m_bIsNeedCheckTsFileRange) {
        if (m_u64CurrentSector > 0) {
            std::vector<unsigned char> before(bps);
            // A stream that started earlier has its packet grid through the sector before.
            if (ReadContextSectors(before.data(), 1, m_u64CurrentSector - 1, got) == 0) {
                int grid = 0;
                for (int k = 1; k <= bps / kTsPacket; ++k) grid += before[bps - kTsPacket * k] == 'G';
                if (grid == bps / kTsPacket) return TYPE_UNKNOWN;
            }
        }
        for (const _TS_FILE_RANGE_& r : m_tsFileRangeVec)
            if (m_u64StartSector >= r.u64StartSector && m_u64StartSector <= r.u64EndSector) return TYPE_UNKNOWN;
    }
    return TYPE_TS;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsOffice2003Type(unsigned char* buf, int len) {
    static const unsigned char sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    if (!buf || len < 8 || std::memcmp(buf, sig, 8) != 0) return TYPE_UNKNOWN;
    if (len < 52) return TYPE_OLE; // the directory's location is not in the buffer
    return GetOffice2003Type(buf);
}

EXTEND_NAME_TYPE CFileTypeJudge::GetOffice2003Type(unsigned char* header) {
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

EXTEND_NAME_TYPE CFileTypeJudge::IsOffice2007Type(unsigned char* buf, int len) {
    static const unsigned char local[4] = {0x50, 0x4B, 0x03, 0x04};
    if (!buf || len < 31) return TYPE_UNKNOWN;
    bool zip = std::memcmp(buf, local, 4) == 0;
    bool contentTypes = len >= 31 + 19 && std::memcmp(buf + 31, "[Content_Types].xml", 19) == 0;
    if (!zip && !contentTypes) return TYPE_UNKNOWN;
    return GetOffice2007Type(buf, len);
}

EXTEND_NAME_TYPE CFileTypeJudge::GetOffice2007Type(unsigned char*, int) {
    static const unsigned char localSig[4] = {0x50, 0x4B, 0x03, 0x04};
    static const unsigned char centralSig[4] = {0x50, 0x4B, 0x01, 0x02};
    static const unsigned char endSig[4] = {0x50, 0x4B, 0x05, 0x06};
    const int bps = m_nBytesPerSector > 0 ? m_nBytesPerSector : 512;
    const int perWindow = 4, totalSectors = 20;
    std::vector<unsigned char> window(4 + static_cast<size_t>(perWindow) * bps, 0);

    for (int first = 0; first < totalSectors; first += perWindow) {
        unsigned got = 0;
        ReadContextSectors(window.data() + 4, perWindow, m_u64CurrentSector + first, got);
        if (got == 0) return TYPE_UNKNOWN;
        size_t len = 4 + static_cast<size_t>(got) * bps;

        unsigned char* end = memmem(window.data(), static_cast<int>(len), endSig, 4);
        size_t limit = end ? static_cast<size_t>(end - window.data()) : len;
        ZipWalker walkers[2] = {{localSig, 30, 9}, {centralSig, 46, 48}};
        while (!walkers[0].done || !walkers[1].done) {
            for (ZipWalker& w : walkers) {
                if (w.done) continue;
                EXTEND_NAME_TYPE kind = w.Step(window.data(), len, limit);
                if (kind != TYPE_UNKNOWN) return kind;
            }
        }
        if (got < static_cast<unsigned>(perWindow)) return TYPE_UNKNOWN;
        std::memcpy(window.data(), window.data() + len - 4, 4);
    }
    return TYPE_UNKNOWN;
}
