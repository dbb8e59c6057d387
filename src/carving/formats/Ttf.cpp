// TrueType fonts: the table directory; the file ends with its last table.
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"
#include "carving/formats/FormatBytes.h"
#include "platform/ByteView.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
bool MayStartTtf(const unsigned char* b, int n) {
    return StartsWith(b, n, "\0\1\0\0", 4) || StartsWith(b, n, "true", 4) || StartsWith(b, n, "OTTO", 4);
}

const FormatName kTtfNames[] = {{"ttf", TYPE_TTF}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsTtfType(unsigned char* buf, int len) {
    static const unsigned char version[4] = {0, 1, 0, 0};
    if (!Has(buf, len, 16) || !At(buf, len, 0, version, 4)) return TYPE_UNKNOWN;
    ByteView v(buf, len);
    uint64_t tables = v.be16(4);
    if (!tables || !v.be16(6) || !v.be16(8) || !v.be16(10)) return TYPE_UNKNOWN;
    if (16 * tables + 16 > static_cast<uint64_t>(len)) return TYPE_UNKNOWN;
    return v.be32(12 + 16 * tables) == 0x00010000 ? TYPE_TTF : TYPE_UNKNOWN;
}

uint64_t FormatRules::GetTTFFileBytesSize(unsigned char* buf, int len) {
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

CARVED_FORMAT(Ttf, IsTtfType, &FormatRules::GetTTFFileBytesSize, NO_MAGIC, MayStartTtf, FORMAT_BYTES("\x00"), -1, 0, true)
