// TIFF: its image file directories and the strips or tiles they point at.
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"
#include "carving/formats/FormatBytes.h"
#include "platform/ByteView.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
bool MayStartTiff(const unsigned char* b, int n) { return StartsWith(b, n, "II*\0", 4) || StartsWith(b, n, "MM\0*", 4); }

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

const FormatName kTiffNames[] = {{"tif", TYPE_TIF}, {"tiff", TYPE_TIF}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsTifType(unsigned char* buf, int len) {
    static const unsigned char le[4] = {0x49, 0x49, 0x2A, 0x00}, be[4] = {0x4D, 0x4D, 0x00, 0x2A};
    return Has(buf, len, 4) && (At(buf, len, 0, le, 4) || At(buf, len, 0, be, 4)) ? TYPE_TIF : TYPE_UNKNOWN;
}

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

// The directories and the data they point at end the file; the read-ahead still
// bounds a file whose directories claim more than lies before the next file.
uint64_t TiffLength(unsigned char* buf, int len) {
    uint64_t structural = FormatRules::IsTifType(buf, len) != TYPE_UNKNOWN ? TiffEnd(buf, len, 0x8000000) : 0;
    return ReadAheadToStructuralEnd(structural, 0x8000000, STOP_AT_ANY_START, nullptr);
}

CARVED_FORMAT(Tiff, IsTifType, &TiffLength, NO_MAGIC, MayStartTiff, FORMAT_BYTES("IM"), -1, 0, true)
