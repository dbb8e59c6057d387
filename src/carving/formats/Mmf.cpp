// SMAF ring tones: "MMMD".
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"
#include "carving/formats/FormatBytes.h"
#include "platform/ByteView.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
const FormatName kMmfNames[] = {{"mmf", TYPE_MMF}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsMmfType(unsigned char* buf, int len) {
    return Has(buf, len, 4) && At(buf, len, 0, "MMMD", 4) ? TYPE_MMF : TYPE_UNKNOWN;
}

CARVED_FORMAT(Mmf, IsMmfType, &FormatRules::GetDefaultAudioFileBytesSize, FORMAT_BYTES("MMMD"), nullptr, FORMAT_BYTES("M"), -1, 0, true)
