// Flash: "FWS" (size in the header) or "CWS" (compressed).
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"
#include "carving/formats/FormatBytes.h"
#include "platform/ByteView.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
bool MayStartSwf(const unsigned char* b, int n) { return n >= 3 && (b[0] == 'F' || b[0] == 'C') && b[1] == 'W' && b[2] == 'S'; }

const FormatName kSwfNames[] = {{"swf", TYPE_SWF}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsSwfType(unsigned char* buf, int len) {
    if (!Has(buf, len, 8)) return TYPE_UNKNOWN;
    if (At(buf, len, 0, "FWS", 3) && buf[3] < 6) return TYPE_SWF;
    if (At(buf, len, 0, "CWS", 3) && buf[3] >= 6 && buf[3] <= 15) return TYPE_SWF;
    return TYPE_UNKNOWN;
}

uint64_t FormatRules::GetSWFFileBytesSize(unsigned char* buf, int len) {
    if (!buf || len < 8 || buf[0] != 'F') return Bps();
    return std::min<uint64_t>(ByteView(buf, len).le32(4), 0x10000000);
}

CARVED_FORMAT(Swf, IsSwfType, &FormatRules::GetSWFFileBytesSize, NO_MAGIC, MayStartSwf, FORMAT_BYTES("FC"), -1, 0, true)
