// Windows executables: named by their characteristics, never carved.
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"
#include "carving/formats/FormatBytes.h"
#include "platform/ByteView.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
const FormatName kPeNames[] = {{"exe", TYPE_EXE}, {"dll", TYPE_DLL}, {"sys", TYPE_SYS}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsPeType(unsigned char* buf, int len) {
    if (!Has(buf, len, 512) || !At(buf, len, 0, "MZ", 2)) return TYPE_UNKNOWN;
    ByteView v(buf, len);
    uint32_t peOff = v.le32(60);
    static const unsigned char pe[4] = {'P', 'E', 0, 0};
    if (peOff > 488 || !At(buf, len, static_cast<int>(peOff), pe, 4)) return TYPE_UNKNOWN;
    uint16_t characteristics = v.le16(peOff + 22);
    if (!(characteristics & 0x0002)) return TYPE_UNKNOWN;
    if (characteristics & 0x1000) return TYPE_SYS;
    if (characteristics & 0x2000) return TYPE_DLL;
    return TYPE_EXE;
}

CARVED_FORMAT(Pe, IsPeType, nullptr, FORMAT_BYTES("MZ"), nullptr, FORMAT_BYTES("M"), -1, 0, true)
