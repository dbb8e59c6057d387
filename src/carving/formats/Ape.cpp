// Monkey's Audio: "MAC "; its APE tag closes the file.
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"
#include "carving/formats/FormatBytes.h"
#include "platform/ByteView.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
const FormatName kApeNames[] = {{"ape", TYPE_APE}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsApeType(unsigned char* buf, int len) {
    return Has(buf, len, 4) && At(buf, len, 0, "MAC ", 4) ? TYPE_APE : TYPE_UNKNOWN;
}

uint64_t FormatRules::GetAPEFileBytesSize(unsigned char*, int) {
    static const unsigned char tag[10] = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X', 0xD0, 0x07};
    return ReadAhead(2 * kGiB, STOP_AT_ANY_START, [&](unsigned char* w, int bytes, uint64_t before, uint64_t& end) {
        unsigned char* header = memmem(w, bytes, tag, 10);
        if (!header) return false;
        int after = static_cast<int>(header - w) + 10;
        unsigned char* footer = memmem(w + after, bytes - after, tag, 10);
        end = footer ? before + static_cast<uint64_t>(footer - w) + 32 : before + bytes;
        return true;
    });
}

CARVED_FORMAT(Ape, IsApeType, &FormatRules::GetAPEFileBytesSize, FORMAT_BYTES("MAC "), nullptr, FORMAT_BYTES("M"), -1, 0, true)
