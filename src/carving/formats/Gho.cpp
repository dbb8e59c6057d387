// Disk images of the imaging tool: recognised, never carved.
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"
#include "carving/formats/FormatBytes.h"
#include "platform/ByteView.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
const FormatName kGhoNames[] = {{"gho", TYPE_GHO}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsGhoType(unsigned char* buf, int len) {
    static const unsigned char sig[4] = {0xFE, 0xEF, 0x00, 0x00};
    return Has(buf, len, 4) && At(buf, len, 0, sig, 4) ? TYPE_GHO : TYPE_UNKNOWN;
}

CARVED_FORMAT(Gho, IsGhoType, nullptr, FORMAT_BYTES("\xFE\xEF"), nullptr, FORMAT_BYTES("\xFE"), -1, 0, true)
