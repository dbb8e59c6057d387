#include "carving/StructureLengths.h"

#include "carving/CFileTypeJudge.h"
#include "platform/ByteView.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
constexpr int kMaxSteps = 1 << 20; // a structure of more parts than this is not followed

// Bytes of the file at any offset: the first sector from buf, the rest from the
// disk through one cached 64 KiB block.
class FileBytes {
public:
    FileBytes(unsigned char* buf, int len) : m_buf(buf), m_len(buf ? len : 0) {}

    bool Read(uint64_t off, unsigned char* out, int n) {
        if (off + n <= static_cast<uint64_t>(m_len)) {
            std::memcpy(out, m_buf + off, n);
            return true;
        }
        const uint64_t block = CFileTypeJudge::kReadBufBytes;
        for (int i = 0; i < n; ++i) {
            uint64_t at = off + i;
            if (!m_cached || at < m_blockStart || at >= m_blockStart + m_blockBytes) {
                if (!Load(at / block * block)) return false;
            }
            out[i] = m_block[at - m_blockStart];
        }
        return true;
    }

private:
    bool Load(uint64_t start) {
        const int bps = CFileTypeJudge::m_nBytesPerSector > 0 ? CFileTypeJudge::m_nBytesPerSector : 512;
        m_block.resize(CFileTypeJudge::kReadBufBytes);
        unsigned got = 0;
        CFileTypeJudge::ReadContextSectors(m_block.data(), CFileTypeJudge::kReadBufBytes / bps,
                                           CFileTypeJudge::m_u64CurrentSector + start / bps, got);
        m_cached = got > 0;
        m_blockStart = start;
        m_blockBytes = static_cast<uint64_t>(got) * bps;
        return m_cached;
    }

    unsigned char* m_buf;
    int m_len;
    std::vector<unsigned char> m_block;
    bool m_cached = false;
    uint64_t m_blockStart = 0, m_blockBytes = 0;
};

uint64_t Be(const unsigned char* p, int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
    return v;
}

bool IsKnownBox(const unsigned char* t) {
    static const char* const kTypes[] = {"ftyp", "moov", "mdat", "free", "skip", "wide", "uuid", "meta", "pdin",
                                         "moof", "mfra", "styp", "sidx", "ssix", "prft", "emsg", "pnot", "junk"};
    for (const char* k : kTypes)
        if (std::memcmp(t, k, 4) == 0) return true;
    return false;
}

// An EBML variable-length integer at p (at most 8 bytes available): its value and width.
bool ReadVint(const unsigned char* p, int avail, uint64_t& value, int& width, bool& unknown) {
    if (avail < 1 || p[0] == 0) return false;
    width = 1;
    while (!(p[0] & (0x80 >> (width - 1)))) ++width;
    if (width > avail) return false;
    value = p[0] & (0xFF >> width);
    bool allOnes = value == (0xFFu >> width);
    for (int i = 1; i < width; ++i) {
        value = (value << 8) | p[i];
        allOnes = allOnes && p[i] == 0xFF;
    }
    unknown = allOnes;
    return true;
}
} // namespace

uint64_t IsoBoxesEnd(unsigned char* buf, int len, uint64_t cap) {
    FileBytes f(buf, len);
    uint64_t off = 0;
    for (int step = 0; step < kMaxSteps && off < cap; ++step) {
        unsigned char h[16];
        if (!f.Read(off, h, 8)) return 0;
        uint64_t size = Be(h, 4);
        if (!IsKnownBox(h + 4)) return step >= 2 ? off : 0;
        if (size == 1) {
            if (!f.Read(off + 8, h + 8, 8)) return 0;
            size = Be(h + 8, 8);
        }
        if (size < 8) return 0; // a box running to the end of the file tells nothing
        off += size;
    }
    return 0;
}

uint64_t MatroskaEnd(unsigned char* buf, int len) {
    ByteView v(buf, len);
    static const unsigned char ebml[4] = {0x1A, 0x45, 0xDF, 0xA3}, segment[4] = {0x18, 0x53, 0x80, 0x67};
    if (!v.equals(0, ebml, 4) || len < 16) return 0;
    uint64_t size = 0;
    int width = 0;
    bool unknown = false;
    if (!ReadVint(buf + 4, len - 4, size, width, unknown) || unknown) return 0;
    uint64_t seg = 4 + width + size;
    if (seg + 12 > static_cast<uint64_t>(len) || !v.equals(seg, segment, 4)) return 0;
    if (!ReadVint(buf + seg + 4, static_cast<int>(len - seg - 4), size, width, unknown) || unknown) return 0;
    return seg + 4 + width + size;
}

uint64_t FlvTagsEnd(unsigned char* buf, int len, uint64_t cap) {
    ByteView v(buf, len);
    if (len < 13) return 0;
    FileBytes f(buf, len);
    uint64_t off = v.be32(5) + 4; // the header, then PreviousTagSize0
    for (int step = 0; step < kMaxSteps && off < cap; ++step) {
        unsigned char h[11];
        if (!f.Read(off, h, 11)) return step ? off : 0;
        uint64_t dataSize = Be(h + 1, 3);
        bool tag = (h[0] & 0x1F) == 8 || (h[0] & 0x1F) == 9 || (h[0] & 0x1F) == 18;
        if (!tag || Be(h + 8, 3) != 0) return step ? off : 0;
        unsigned char prev[4];
        if (!f.Read(off + 11 + dataSize, prev, 4) || Be(prev, 4) != 11 + dataSize) return step ? off : 0;
        off += 11 + dataSize + 4;
    }
    return 0;
}

uint64_t SqliteEnd(unsigned char* buf, int len) {
    ByteView v(buf, len);
    if (len < 100) return 0;
    uint64_t pageSize = v.be16(16) == 1 ? 65536 : v.be16(16);
    if (pageSize < 512 || (pageSize & (pageSize - 1))) return 0;
    uint64_t pages = v.be32(28);
    // The page count is valid only when written by the same change as the counter.
    if (!pages || v.be32(92) != v.be32(24)) return 0;
    return pageSize * pages;
}

uint64_t MpegPacksEnd(unsigned char* buf, int len, uint64_t cap) {
    FileBytes f(buf, len);
    uint64_t off = 0;
    for (int step = 0; step < kMaxSteps && off < cap; ++step) {
        unsigned char h[14];
        if (!f.Read(off, h, 4) || h[0] || h[1] || h[2] != 1) return step ? off : 0;
        unsigned char code = h[3];
        if (code == 0xB9) return off + 4; // program end
        if (code == 0xBA) {
            if (!f.Read(off, h, 14)) return step ? off : 0;
            if ((h[4] & 0xF0) == 0x20) off += 12;                 // MPEG-1 pack header
            else if ((h[4] & 0xC0) == 0x40) off += 14 + (h[13] & 7); // MPEG-2, with its stuffing
            else return step ? off : 0;
        } else if (code >= 0xBB) {
            if (!f.Read(off, h, 6)) return step ? off : 0;
            off += 6 + Be(h + 4, 2);
        } else {
            return step ? off : 0;
        }
    }
    return 0;
}

namespace {
// Reads TIFF integers in the file's own byte order.
struct TiffReader {
    FileBytes& f;
    bool le;
    bool ok = true;

    uint64_t Get(uint64_t off, int n) {
        unsigned char b[4] = {0, 0, 0, 0};
        if (!f.Read(off, b, n)) {
            ok = false;
            return 0;
        }
        if (!le) return Be(b, n);
        uint64_t v = 0;
        for (int i = n - 1; i >= 0; --i) v = (v << 8) | b[i];
        return v;
    }
    // Value i of an entry's array: inline when it fits in the 4 value bytes.
    uint64_t Item(uint64_t entry, uint64_t type, uint64_t count, uint64_t i) {
        int width = type == 3 ? 2 : 4;
        uint64_t base = count * width <= 4 ? entry + 8 : Get(entry + 8, 4);
        return Get(base + i * width, width);
    }
};

int TiffTypeBytes(uint64_t type) {
    static const int kBytes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 0, 0, 0, 8};
    return type < sizeof kBytes / sizeof kBytes[0] ? kBytes[type] : 0;
}
} // namespace

uint64_t TiffEnd(unsigned char* buf, int len, uint64_t cap) {
    if (!buf || len < 8) return 0;
    FileBytes f(buf, len);
    TiffReader r{f, buf[0] == 'I'};
    uint64_t end = 8;
    uint64_t ifd = r.Get(4, 4);
    for (int ifds = 0; ifd && ifds < 64 && ifd < cap; ++ifds) {
        uint64_t n = r.Get(ifd, 2);
        if (!r.ok || n == 0 || n > 4096) return 0;
        end = std::max(end, ifd + 2 + 12 * n + 4);
        uint64_t offsets[2] = {0, 0}, counts[2] = {0, 0}, types[2] = {0, 0}, arrays[2] = {0, 0};
        for (uint64_t i = 0; i < n; ++i) {
            uint64_t e = ifd + 2 + 12 * i;
            uint64_t tag = r.Get(e, 2), type = r.Get(e + 2, 2), count = r.Get(e + 4, 4);
            uint64_t bytes = count * TiffTypeBytes(type);
            if (bytes > 4) end = std::max(end, r.Get(e + 8, 4) + bytes);
            int k = tag == 273 || tag == 324 ? 0 : tag == 279 || tag == 325 ? 1 : -1;
            if (k >= 0) offsets[k] = e, counts[k] = count, types[k] = type, arrays[k] = 1;
        }
        // Image data: strip (or tile) offsets with their byte counts.
        if (arrays[0] && arrays[1] && counts[0] == counts[1] && counts[0] <= 65536) {
            for (uint64_t i = 0; i < counts[0]; ++i)
                end = std::max(end, r.Item(offsets[0], types[0], counts[0], i) + r.Item(offsets[1], types[1], counts[1], i));
        } else if (arrays[0] || arrays[1]) {
            return 0;
        }
        if (!r.ok) return 0;
        ifd = r.Get(ifd + 2 + 12 * n, 4);
    }
    return r.ok && end <= cap ? end : 0;
}

uint64_t ReadAheadToStructuralEnd(uint64_t structural, uint64_t cap, READ_AHEAD_STOP stop, const WindowVisitor& marker) {
    const uint64_t bps = CFileTypeJudge::m_nBytesPerSector > 0 ? CFileTypeJudge::m_nBytesPerSector : 512;
    if (structural > cap) structural = 0;
    if (structural && structural <= bps) return structural;
    return ReadAhead(cap, stop, [&](unsigned char* w, int bytes, uint64_t before, uint64_t& end) {
        if (marker && marker(w, bytes, before, end)) return true;
        if (!structural || before + bytes < structural) return false;
        end = structural;
        return true;
    });
}
