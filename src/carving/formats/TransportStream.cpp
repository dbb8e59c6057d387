// MPEG transport streams (ts) and camera streams (mts): the 188-byte packet grid.
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"
#include "carving/formats/FormatBytes.h"
#include "platform/ByteView.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
constexpr int kTsPacket = 188;

const FormatName kTsNames[] = {{"ts", TYPE_TS}};

const FormatName kMtsNames[] = {{"mts", TYPE_MTS}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsTsType(unsigned char* buf, int len) {
    if (!buf || len < kTsPacket) return TYPE_UNKNOWN;
    if (buf[0] != 'G' || (buf[1] == 0 && buf[2] == 0 && buf[3] == 0)) return TYPE_UNKNOWN;
    for (int k = 0; k * kTsPacket < len; ++k)
        if (buf[k * kTsPacket] != 'G') return TYPE_UNKNOWN;

    int bps = m_nBytesPerSector > 0 ? m_nBytesPerSector : 512;
    int sectors = std::max(1, 4096 / bps);
    std::vector<unsigned char> ahead(static_cast<size_t>(sectors) * bps);
    unsigned got = 0;
    if (ReadContextSectors(ahead.data(), sectors, m_u64CurrentSector, got) != 0) return TYPE_UNKNOWN;
    for (int k = 0; k < 22; ++k) {
        size_t off = static_cast<size_t>(k) * kTsPacket;
        if (off >= ahead.size() || ahead[off] != 'G') return TYPE_UNKNOWN;
    }

    if (m_bIsNeedCheckTsFileRange) {
        if (m_u64CurrentSector > 0) {
            std::vector<unsigned char> before(bps);
            // A stream that started earlier has its packet grid through the sector before.
            if (ReadContextSectors(before.data(), 1, m_u64CurrentSector - 1, got) == 0) {
                int grid = 0;
                for (int k = 1; k <= bps / kTsPacket; ++k) grid += before[bps - kTsPacket * k] == 'G';
                if (grid == bps / kTsPacket) return TYPE_UNKNOWN;
            }
        }
        for (const _TS_FILE_RANGE_& r : m_tsFileRangeVec)
            if (m_u64StartSector >= r.u64StartSector && m_u64StartSector <= r.u64EndSector) return TYPE_UNKNOWN;
    }
    return TYPE_TS;
}

// Follows the 188-byte packet grid from the file start. The length ends with the
// last packet of the unbroken run, so the stream keeps its final packet.
uint64_t FormatRules::GetTSFileBytesSize(unsigned char*, int) {
    const int bps = Bps();
    const uint64_t packet = 188;
    uint64_t run = (bps / packet) * packet + packet; // the packets that begin in the first sector
    uint64_t next = run;                           // the next grid position to look at
    bool broken = false;
    const uint64_t start = m_u64StartSector;
    uint64_t total = ReadAhead(64 * kGiB, STOP_AT_ANY_START, [&](unsigned char* w, int bytes, uint64_t before, uint64_t&) {
        while (!broken && next < before + bytes) {
            if (w[next - before] != 'G') broken = true;
            else run = next + packet, next += packet;
        }
        return false;
    });
    uint64_t length = run && run < total ? run : total;
    m_tsFileRangeVec.push_back({start, start + (length + bps - 1) / bps - 1});
    return length;
}

EXTEND_NAME_TYPE FormatRules::IsMtsType(unsigned char* buf, int len) {
    static const unsigned char pat[8] = {0x00, 0x00, 0xB0, 0x11, 0x00, 0x00, 0xC1, 0x00};
    if (!Has(buf, len, 16) || !At(buf, len, 8, pat, 8)) return TYPE_UNKNOWN;
    m_uMtsPreIndex = buf[7];
    bool timeCode = buf[0] || buf[1] || buf[2] || buf[3];
    // A later packet of a stream already being measured is not a new file.
    if (timeCode && m_bIsMtsFileHead) return TYPE_UNKNOWN;
    return TYPE_MTS;
}

CARVED_FORMAT(Ts, IsTsType, &FormatRules::GetTSFileBytesSize, FORMAT_BYTES("G"), nullptr, FORMAT_BYTES("G"), -1, 0, true)
CARVED_FORMAT(Mts, IsMtsType, &FormatRules::GetDefaultVedioFileBytesSize, NO_MAGIC, nullptr, FORMAT_BYTES(""), 10, 0xB0, true)
