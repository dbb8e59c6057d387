// MPEG-1 layer II audio of one common frame header.
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"
#include "carving/formats/FormatBytes.h"
#include "platform/ByteView.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
const FormatName kMp2Names[] = {{"mp2", TYPE_MP2}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsMp2Type(unsigned char* buf, int len) {
    static const unsigned char sync[4] = {0xFF, 0xFD, 0xE4, 0x00};
    return Has(buf, len, 4) && At(buf, len, 0, sync, 4) ? TYPE_MP2 : TYPE_UNKNOWN;
}

CARVED_FORMAT(Mp2, IsMp2Type, &FormatRules::GetDefaultAudioFileBytesSize, FORMAT_BYTES("\xFF"), nullptr, FORMAT_BYTES("\xFF"), -1, 0, true)
