// MPEG program and elementary streams: a pack or sequence header with its
// companion start code; the pack chain (or the end code) ends the stream.
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"
#include "carving/formats/FormatBytes.h"
#include "platform/ByteView.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
// Bytes b0 b1 b2 b3 somewhere in [0, limit) of buf.
bool FindStartCode(const unsigned char* buf, int limit, unsigned char code) {
    for (int i = 0; i < limit; ++i)
        if (buf[i] == 0 && buf[i + 1] == 0 && buf[i + 2] == 1 && buf[i + 3] == code) return true;
    return false;
}

const FormatName kMpegNames[] = {{"mpeg", TYPE_MPG}, {"mpg", TYPE_MPG}, {"vob", TYPE_MPG}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsMpgType(unsigned char* buf, int len) {
    if (!Has(buf, len, 16)) return TYPE_UNKNOWN;
    int limit = (len < 32 ? len : 32) - 3;
    static const unsigned char seq[4] = {0, 0, 1, 0xB3}, pack[4] = {0, 0, 1, 0xBA};
    if (At(buf, len, 0, seq, 4) && FindStartCode(buf, limit, 0xB8)) return TYPE_MPG;
    if (At(buf, len, 0, pack, 4) && FindStartCode(buf, limit, 0xBB)) return TYPE_MPG;
    return TYPE_UNKNOWN;
}

uint64_t MpegPacksEnd(unsigned char* buf, int len, uint64_t cap) {
    FileBytes f(buf, len);
    uint64_t off = 0;
    for (int step = 0; step < kMaxSteps && off < cap; ++step) {
        unsigned char h[14];
        if (!f.Read(off, h, 4) || h[0] || h[1] || h[2] != 1) return step ? off : 0;
        unsigned char code = h[3];
        if (code == 0xB9) return off + 4; // program end
        if (code == 0xBA) {
            if (!f.Read(off, h, 14)) return step ? off : 0;
            if ((h[4] & 0xF0) == 0x20) off += 12;                 // MPEG-1 pack header
            else if ((h[4] & 0xC0) == 0x40) off += 14 + (h[13] & 7); // MPEG-2, with its stuffing
            else return step ? off : 0;
        } else if (code >= 0xBB) {
            if (!f.Read(off, h, 6)) return step ? off : 0;
            off += 6 + Be(h + 4, 2);
        } else {
            return step ? off : 0;
        }
    }
    return 0;
}

uint64_t FormatRules::GetMPGFileBytesSize(unsigned char* buf, int len) {
    static const unsigned char programEnd[4] = {0, 0, 1, 0xB9}, sequenceEnd[4] = {0, 0, 1, 0xB7};
    static const unsigned char sequenceHeader[4] = {0, 0, 1, 0xB3};
    const bool sequence = buf && len >= 4 && std::memcmp(buf, sequenceHeader, 4) == 0;
    const unsigned char* marker = sequence ? sequenceEnd : programEnd;
    // Encoders that pad the stream instead of ending it leave the pack chain to show the end.
    uint64_t structural = sequence ? 0 : MpegPacksEnd(buf, len, 4 * kGiB);
    return ReadAheadToStructuralEnd(structural, 4 * kGiB, STOP_NOT_AT_MPEG,
                                    [&](unsigned char* w, int bytes, uint64_t before, uint64_t& end) {
                                        uint64_t e = 0;
                                        if (!FindAcceptedMarker(w, bytes, marker, 4, true, e)) return false;
                                        end = before + e;
                                        return true;
                                    });
}

CARVED_FORMAT(Mpeg, IsMpgType, &FormatRules::GetMPGFileBytesSize, FORMAT_BYTES("\0\0\1"), nullptr, FORMAT_BYTES("\x00"), -1, 0, true)
