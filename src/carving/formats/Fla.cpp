// Flash sources: a compound file the Office rows did not claim.
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"
#include "carving/formats/FormatBytes.h"
#include "platform/ByteView.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
const FormatName kFlaNames[] = {{"fla", TYPE_FLA}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsFlaType(unsigned char* buf, int len) {
    static const unsigned char cfb[4] = {0xD0, 0xCF, 0x11, 0xE0};
    return Has(buf, len, 16) && At(buf, len, 0, cfb, 4) ? TYPE_FLA : TYPE_UNKNOWN;
}

uint64_t FormatRules::GetFLAFileBytesSize(unsigned char* buf, int len) { return GetDefaultAudioFileBytesSize(buf, len); }

CARVED_FORMAT(Fla, IsFlaType, &FormatRules::GetFLAFileBytesSize, FORMAT_BYTES("\xD0\xCF\x11\xE0"), nullptr, FORMAT_BYTES("\xD0"), -1, 0, true)
