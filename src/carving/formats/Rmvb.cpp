// RealMedia: ".RMF"; the index chunk closes the file.
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"
#include "carving/formats/FormatBytes.h"
#include "platform/ByteView.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
const FormatName kRmvbNames[] = {{"rmvb", TYPE_RMVB}, {"rm", TYPE_RMVB}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsRmvbType(unsigned char* buf, int len) {
    return Has(buf, len, 4) && At(buf, len, 0, ".RMF", 4) ? TYPE_RMVB : TYPE_UNKNOWN;
}

uint64_t FormatRules::GetRMVBFileBytesSize(unsigned char*, int) {
    static const unsigned char index[20] = {'I', 'N', 'D', 'X', 0, 0, 0, 0x14, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0};
    return ReadAhead(4 * kGiB, STOP_AT_ANY_START, [&](unsigned char* w, int bytes, uint64_t before, uint64_t& end) {
        unsigned char* p = memmem(w, bytes, index, 20);
        if (!p) return false;
        end = before + static_cast<uint64_t>(p - w) + 20;
        return true;
    });
}

CARVED_FORMAT(Rmvb, IsRmvbType, &FormatRules::GetRMVBFileBytesSize, FORMAT_BYTES(".RMF"), nullptr, FORMAT_BYTES("."), -1, 0, true)
