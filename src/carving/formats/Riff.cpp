// RIFF containers (AVI, WAV): the RIFF size gives the length.
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"
#include "carving/formats/FormatBytes.h"
#include "platform/ByteView.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
const FormatName kAviNames[] = {{"avi", TYPE_AVI}};

const FormatName kWavNames[] = {{"wav", TYPE_WAV}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsAviType(unsigned char* buf, int len) {
    return Has(buf, len, 16) && At(buf, len, 0, "RIFF", 4) && At(buf, len, 8, "AVI ", 4) && At(buf, len, 12, "LIST", 4)
               ? TYPE_AVI
               : TYPE_UNKNOWN;
}

uint64_t FormatRules::GetAVIFileBytesSize(unsigned char* buf, int len) {
    if (!buf || len < 16) return Bps();
    return static_cast<uint64_t>(ByteView(buf, len).le32(4)) + 8;
}

EXTEND_NAME_TYPE FormatRules::IsWavType(unsigned char* buf, int len) {
    return Has(buf, len, 16) && At(buf, len, 0, "RIFF", 4) && At(buf, len, 8, "WAVE", 4) && At(buf, len, 12, "fmt ", 4)
               ? TYPE_WAV
               : TYPE_UNKNOWN;
}

uint64_t FormatRules::GetWAVFileBytesSize(unsigned char* buf, int len) {
    if (!buf || len < 8) return Bps();
    return static_cast<uint64_t>(ByteView(buf, len).le32(4)) + 8;
}

CARVED_FORMAT(Avi, IsAviType, &FormatRules::GetAVIFileBytesSize, FORMAT_BYTES("RIFF"), nullptr, FORMAT_BYTES("R"), -1, 0, true)
CARVED_FORMAT(Wav, IsWavType, &FormatRules::GetWAVFileBytesSize, FORMAT_BYTES("RIFF"), nullptr, FORMAT_BYTES("R"), -1, 0, true)
