// Length rules that read the file's size from its own header. Header values are
// capped, so a corrupt header gives a bounded length.
#include "carving/CFileTypeJudge.h"
#include "carving/ReadAhead.h"
#include "platform/ByteView.h"

#include <algorithm>
#include <vector>

namespace {
int Bps() { return CFileTypeJudge::m_nBytesPerSector > 0 ? CFileTypeJudge::m_nBytesPerSector : 512; }

// The first 64 KiB of the file when buf is too short for a directory of need bytes.
bool HeaderView(unsigned char* buf, int len, size_t need, std::vector<unsigned char>& store, ByteView& view) {
    if (buf && static_cast<size_t>(len) >= need) {
        view = ByteView(buf, len);
        return true;
    }
    if (need > static_cast<size_t>(CFileTypeJudge::kReadBufBytes)) return false;
    store.resize(CFileTypeJudge::kReadBufBytes);
    int sectors = CFileTypeJudge::kReadBufBytes / Bps();
    unsigned got = 0;
    CFileTypeJudge::ReadContextSectors(store.data(), sectors, CFileTypeJudge::m_u64StartSector, got);
    if (static_cast<size_t>(got) * Bps() < need) return false;
    view = ByteView(store.data(), static_cast<size_t>(got) * Bps());
    return true;
}
} // namespace

uint64_t CFileTypeJudge::GetAVIFileBytesSize(unsigned char* buf, int len) {
    if (!buf || len < 16) return Bps();
    return static_cast<uint64_t>(ByteView(buf, len).le32(4)) + 8;
}

uint64_t CFileTypeJudge::GetWAVFileBytesSize(unsigned char* buf, int len) {
    if (!buf || len < 8) return Bps();
    return static_cast<uint64_t>(ByteView(buf, len).le32(4)) + 8;
}

uint64_t CFileTypeJudge::GetSWFFileBytesSize(unsigned char* buf, int len) {
    if (!buf || len < 8 || buf[0] != 'F') return Bps();
    return std::min<uint64_t>(ByteView(buf, len).le32(4), 0x10000000);
}

uint64_t CFileTypeJudge::GetCABFileBytesSize(unsigned char* buf, int len) {
    if (!buf || len < 36) return Bps();
    return std::min<uint64_t>(ByteView(buf, len).le32(8), 0x40000000);
}

uint64_t CFileTypeJudge::GetASFFileBytesSize(unsigned char* buf, int len) {
    static const unsigned char fileProperties[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                                     0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
    if (!buf || len < 30 + 45) return Bps();
    unsigned char* g = memmem(buf + 30, len - 45 - 30, fileProperties, 16);
    if (!g) return Bps();
    ByteView v(buf, len);
    size_t at = static_cast<size_t>(g - buf);
    if (!v.has(at + 88, 1)) return Bps();
    if (v.u8(at + 88) & 1) return Bps(); // a broadcast stream carries no size
    return std::min<uint64_t>(v.le64(at + 40), 0x10000000);
}

uint64_t CFileTypeJudge::GetICOFileBytesSize(unsigned char* buf, int len) {
    if (!buf || len < 6) return Bps();
    size_t n = ByteView(buf, len).le16(4);
    if (n == 0) return Bps();
    std::vector<unsigned char> store;
    ByteView v;
    if (!HeaderView(buf, len, 6 + 16 * n, store, v)) return Bps();
    size_t last = 6 + 16 * (n - 1);
    return static_cast<uint64_t>(v.le32(last + 12)) + v.le32(last + 8);
}

uint64_t CFileTypeJudge::GetTTFFileBytesSize(unsigned char* buf, int len) {
    if (!buf || len < 6) return Bps();
    size_t tables = ByteView(buf, len).be16(4);
    if (tables == 0) return 0;
    std::vector<unsigned char> store;
    ByteView v;
    if (!HeaderView(buf, len, 12 + 16 * tables, store, v)) return Bps();
    uint64_t end = 0;
    for (size_t i = 0; i < tables; ++i) {
        size_t rec = 12 + 16 * i;
        end = std::max<uint64_t>(end, static_cast<uint64_t>(v.be32(rec + 8)) + v.be32(rec + 12));
    }
    return end;
}

uint64_t CFileTypeJudge::GetOFFICE2003FileBytesSizeByFileHead(unsigned char* buf, int len) {
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

uint64_t CFileTypeJudge::GetOFFICE2003FileBytesSize(unsigned char* buf, int len) {
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
