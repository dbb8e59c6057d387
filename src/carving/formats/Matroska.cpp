// Matroska and WebM: the EBML header, then the segment, whose size ends the file.
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"
#include "carving/formats/FormatBytes.h"
#include "platform/ByteView.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
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

const FormatName kMatroskaNames[] = {{"mkv", TYPE_MKV}, {"webm", TYPE_MKV}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsMkvType(unsigned char* buf, int len) {
    static const unsigned char ebml[4] = {0x1A, 0x45, 0xDF, 0xA3};
    return Has(buf, len, 16) && At(buf, len, 0, ebml, 4) ? TYPE_MKV : TYPE_UNKNOWN;
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

// A segment size (or a page count) that the header states is exact.
uint64_t FormatRules::GetMKVFileBytes(unsigned char* buf, int len) {
    if (uint64_t end = MatroskaEnd(buf, len)) return end;
    return ReadAheadToStructuralEnd(MatroskaEnd(buf, len), 64 * kGiB, STOP_AT_ANY_START, nullptr);
}

CARVED_FORMAT(Matroska, IsMkvType, &FormatRules::GetMKVFileBytes, FORMAT_BYTES("\x1A\x45\xDF\xA3"), nullptr, FORMAT_BYTES("\x1A"), -1, 0, true)
