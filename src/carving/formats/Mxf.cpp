// MXF: the partition pack key.
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"
#include "carving/formats/FormatBytes.h"
#include "platform/ByteView.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
const FormatName kMxfNames[] = {{"mxf", TYPE_MXF}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsMxfType(unsigned char* buf, int len) {
    static const unsigned char key[16] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01,
                                          0x0D, 0x01, 0x02, 0x01, 0x01, 0x02, 0x04, 0x00};
    return Has(buf, len, 16) && At(buf, len, 0, key, 16) ? TYPE_MXF : TYPE_UNKNOWN;
}

CARVED_FORMAT(Mxf, IsMxfType, &FormatRules::GetDefaultVedioFileBytesSize, FORMAT_BYTES("\x06\x0E\x2B\x34"), nullptr, FORMAT_BYTES("\x06"), -1, 0, true)
