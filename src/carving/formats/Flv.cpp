// Flash video: the header, then tags each followed by its own size.
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"
#include "carving/formats/FormatBytes.h"
#include "platform/ByteView.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
const FormatName kFlvNames[] = {{"flv", TYPE_FLV}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsFlvType(unsigned char* buf, int len) {
    static const unsigned char headerSize[4] = {0, 0, 0, 9};
    return Has(buf, len, 16) && At(buf, len, 0, "FLV", 3) && buf[3] == 1 && At(buf, len, 5, headerSize, 4)
               ? TYPE_FLV
               : TYPE_UNKNOWN;
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

uint64_t FlvLength(unsigned char* buf, int len) {
    return ReadAheadToStructuralEnd(FlvTagsEnd(buf, len, 4 * kGiB), 4 * kGiB, STOP_AT_ANY_START, nullptr);
}

CARVED_FORMAT(Flv, IsFlvType, &FlvLength, FORMAT_BYTES("FLV"), nullptr, FORMAT_BYTES("F"), -1, 0, true)
