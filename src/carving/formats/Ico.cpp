// Windows icons: the directory of images, each at the offset the one before ends.
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"
#include "carving/formats/FormatBytes.h"
#include "platform/ByteView.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
const FormatName kIcoNames[] = {{"ico", TYPE_ICO}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsIcoType(unsigned char* buf, int len) {
    static const unsigned char sig[4] = {0, 0, 1, 0};
    if (!Has(buf, len, 16) || !At(buf, len, 0, sig, 4)) return TYPE_UNKNOWN;
    ByteView v(buf, len);
    uint64_t n = v.le16(4);
    if (n < 1 || 6 + 16 * n > static_cast<uint64_t>(len)) return TYPE_UNKNOWN;
    uint64_t expected = 6 + 16 * n;
    for (uint64_t i = 0; i < n; ++i) {
        size_t e = 6 + 16 * i;
        if (v.u8(e + 3) != 0 || v.le32(e + 12) != expected) return TYPE_UNKNOWN;
        expected += v.le32(e + 8);
    }
    return TYPE_ICO;
}

uint64_t FormatRules::GetICOFileBytesSize(unsigned char* buf, int len) {
    if (!buf || len < 6) return Bps();
    size_t n = ByteView(buf, len).le16(4);
    if (n == 0) return Bps();
    std::vector<unsigned char> store;
    ByteView v;
    if (!HeaderView(buf, len, 6 + 16 * n, store, v)) return Bps();
    size_t last = 6 + 16 * (n - 1);
    return static_cast<uint64_t>(v.le32(last + 12)) + v.le32(last + 8);
}

CARVED_FORMAT(Ico, IsIcoType, &FormatRules::GetICOFileBytesSize, FORMAT_BYTES("\0\0\1\0"), nullptr, FORMAT_BYTES("\x00"), -1, 0, true)
