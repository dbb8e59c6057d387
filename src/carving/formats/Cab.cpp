// Cabinet archives: "MSCF" and the size in the header.
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"
#include "carving/formats/FormatBytes.h"
#include "platform/ByteView.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
const FormatName kCabNames[] = {{"cab", TYPE_CAB}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsCabType(unsigned char* buf, int len) {
    return Has(buf, len, 36) && At(buf, len, 0, "MSCF", 4) ? TYPE_CAB : TYPE_UNKNOWN;
}

uint64_t FormatRules::GetCABFileBytesSize(unsigned char* buf, int len) {
    if (!buf || len < 36) return Bps();
    return std::min<uint64_t>(ByteView(buf, len).le32(8), 0x40000000);
}

CARVED_FORMAT(Cab, IsCabType, &FormatRules::GetCABFileBytesSize, FORMAT_BYTES("MSCF"), nullptr, FORMAT_BYTES("M"), -1, 0, true)
