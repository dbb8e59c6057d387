// MIDI: the header chunk, then as many track chunks as it names.
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"
#include "carving/formats/FormatBytes.h"
#include "platform/ByteView.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
const FormatName kMidiNames[] = {{"mid", TYPE_MID}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsMidType(unsigned char* buf, int len) {
    static const unsigned char six[4] = {0, 0, 0, 6};
    return Has(buf, len, 16) && At(buf, len, 0, "MThd", 4) && At(buf, len, 4, six, 4) && At(buf, len, 14, "MTrk", 4)
               ? TYPE_MID
               : TYPE_UNKNOWN;
}

// Hops along the chunks from the end of the header chunk; the file ends after
// its t-th track chunk. The read-ahead only has to confirm that no other file
// or metadata starts before that.
uint64_t FormatRules::GetMIDFileBytesSize(unsigned char* buf, int len) {
    if (!buf || len < 14) return Bps();
    const uint64_t cap = 0x800000;
    uint64_t tracks = ByteView(buf, len).be16(10);
    uint64_t total = 14, found = 0;
    while (found < tracks && total < cap) {
        unsigned char head[8];
        if (total + 8 <= static_cast<uint64_t>(len)) std::memcpy(head, buf + total, 8);
        else if (!ReadFileBytesAt(total, head, 8)) break;
        for (int i = 0; i < 4; ++i)
            if (head[i] < 0x20 || head[i] > 0x7E) found = tracks + 1; // not a chunk: the chain is broken
        if (found > tracks) break;
        if (std::memcmp(head, "MTrk", 4) == 0) ++found;
        total += 8 + ByteView(head, 8).be32(4);
    }
    bool known = found == tracks && total <= cap;
    if (known && total <= static_cast<uint64_t>(Bps())) return total;
    uint64_t readAhead = ReadAhead(cap, STOP_AT_ANY_START, [&](unsigned char*, int bytes, uint64_t before, uint64_t& end) {
        if (!known || before + bytes <= total) return false;
        end = total;
        return true;
    });
    return known && total < readAhead ? total : readAhead;
}

CARVED_FORMAT(Midi, IsMidType, &FormatRules::GetMIDFileBytesSize, FORMAT_BYTES("MThd"), nullptr, FORMAT_BYTES("M"), -1, 0, true)
