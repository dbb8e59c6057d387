#include "carving/ReadAhead.h"

#include "carving/CarveContext.h"

#include <algorithm>
#include <cstring>

int FindStopSector(unsigned char* window, int sectors, int bps, READ_AHEAD_STOP stop) {
    for (int i = 0; i < sectors; ++i) {
        unsigned char* s = window + static_cast<size_t>(i) * bps;
        ++CarveContext::m_u64CurrentSector;
        EXTEND_NAME_TYPE t = CarveContext::RecogniseStart(s, bps);
        if ((stop == STOP_NOT_AT_MPEG && t == TYPE_MPG) || IsTextKind(t)) t = TYPE_UNKNOWN;
        if (t != TYPE_UNKNOWN || CarveContext::IsFileSystemSector(s, bps)) return i;
    }
    return -1;
}

bool ReadAheadProgress(uint64_t running) {
    if (!CarveContext::m_progressFunc) return true;
    uint64_t total = CarveContext::m_u64SectorTotalCount;
    int progress = total ? static_cast<int>(running * 100 / total) + 10 : 10;
    int rc = CarveContext::m_progressFunc(CarveContext::m_pParam, progress, CarveContext::m_nPercent,
                                            CarveContext::m_nRemaidSecond, running, total,
                                            CarveContext::m_u64FileCount, nullptr);
    // Any stop answer ends the carving step as a stop by the user.
    CarveContext::m_ErrorCode = rc ? RECOVERY_STOPPED : 0;
    return rc == 0;
}

uint64_t ReadAhead(uint64_t capBytes, READ_AHEAD_STOP stop, const WindowVisitor& visit) {
    const int bps = CarveContext::m_nBytesPerSector > 0 ? CarveContext::m_nBytesPerSector : 512;
    const int windowSectors = std::max(1, CarveContext::kReadBufBytes / bps);
    unsigned char* window = CarveContext::ReadBuf();
    uint64_t length = bps;
    // The cap counts the start sector; the area's end bounds it too.
    uint64_t capSectors = capBytes / bps;
    uint64_t left = capSectors > 1 ? capSectors - 1 : 0;
    left = std::min(left, CarveContext::SectorsLeftFrom(CarveContext::m_u64StartSector + 1));
    uint64_t read = 0;
    uint64_t running = CarveContext::m_u64ScanSectorCount;

    while (left > 0) {
        int want = static_cast<int>(std::min<uint64_t>(windowSectors, left));
        unsigned got = 0;
        int rc = CarveContext::ReadContextSectors(window, want, CarveContext::m_u64StartSector + 1 + read, got);
        if (got == 0) break;
        read += got;
        left -= got;
        running += got;
        if (!ReadAheadProgress(running)) break;

        int stopAt = FindStopSector(window, static_cast<int>(got), bps, stop);
        int usable = (stopAt < 0 ? static_cast<int>(got) : stopAt) * bps;
        uint64_t endLength = 0;
        if (visit && usable > 0 && visit(window, usable, length, endLength)) return endLength;
        length += static_cast<uint64_t>(usable);
        if (stopAt >= 0 || rc != 0) break;
    }
    return length;
}

bool IsTailAccepted(const unsigned char* window, int bytes, uint64_t end, int bps) {
    if (end == 0 || end > static_cast<uint64_t>(bytes)) return false;
    if (end % bps == 0) return true;
    uint64_t sectorEnd = std::min<uint64_t>((end / bps + 1) * bps, bytes);
    for (uint64_t i = end; i < sectorEnd; ++i)
        if (window[i] != 0) return false;
    return true;
}

bool FindAcceptedMarker(const unsigned char* buf, int len, const unsigned char* marker, int markerLen, bool retry,
                        uint64_t& end) {
    const int bps = CarveContext::m_nBytesPerSector > 0 ? CarveContext::m_nBytesPerSector : 512;
    int from = 0;
    while (from < len) {
        unsigned char* hit = CarveContext::memmem(const_cast<unsigned char*>(buf) + from, len - from, marker, markerLen);
        if (!hit) return false;
        uint64_t e = static_cast<uint64_t>(hit - buf) + markerLen;
        if (IsTailAccepted(buf, len, e, bps)) {
            end = e;
            return true;
        }
        if (!retry) return false;
        from = static_cast<int>(hit - buf) + 1;
    }
    return false;
}

uint64_t MarkerReadAhead(unsigned char* buf, int len, const unsigned char* marker, int markerLen, uint64_t cap) {
    uint64_t end = 0;
    if (FindAcceptedMarker(buf, len, marker, markerLen, true, end)) return end;
    uint64_t candidate = 0;
    uint64_t total = ReadAhead(cap, STOP_AT_ANY_START, [&](unsigned char* w, int bytes, uint64_t before, uint64_t&) {
        uint64_t e = 0;
        if (FindAcceptedMarker(w, bytes, marker, markerLen, true, e)) candidate = before + e;
        return false;
    });
    return candidate && candidate < total ? candidate : total;
}
