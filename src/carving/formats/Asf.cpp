// ASF (wmv, wma): the header GUID; the file properties object holds the size.
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"
#include "carving/formats/FormatBytes.h"
#include "platform/ByteView.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
const FormatName kAsfNames[] = {{"wmv", TYPE_ASF}, {"asf", TYPE_ASF}, {"wma", TYPE_ASF}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsAsfType(unsigned char* buf, int len) {
    static const unsigned char guid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                           0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    return Has(buf, len, 24) && At(buf, len, 0, guid, 16) ? TYPE_ASF : TYPE_UNKNOWN;
}

uint64_t FormatRules::GetASFFileBytesSize(unsigned char* buf, int len) {
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

CARVED_FORMAT(Asf, IsAsfType, &FormatRules::GetASFFileBytesSize, FORMAT_BYTES("\x30\x26\xB2\x75"), nullptr, FORMAT_BYTES("\x30"), -1, 0, true)
