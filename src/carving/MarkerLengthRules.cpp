// Length rules that read ahead on the disk for the format's end marker (or, for
// formats without one, up to the next file start or file-system metadata).
#include "carving/CFileTypeJudge.h"
#include "carving/ReadAhead.h"
#include "carving/StructureLengths.h"
#include "platform/ByteView.h"

#include <cstring>

namespace {
constexpr uint64_t MiB = 1024ull * 1024;
constexpr uint64_t GiB = 1024 * MiB;

int Bps() { return CFileTypeJudge::m_nBytesPerSector > 0 ? CFileTypeJudge::m_nBytesPerSector : 512; }

// Rules whose marker may also occur inside the data: the first accepted marker
// of buf ends the file at once; else every window's first accepted marker
// becomes the candidate (a later window overrides), and the candidate is taken
// when it lies before where the read-ahead stopped.
uint64_t CandidateRule(unsigned char* buf, int len, const unsigned char* marker, int markerLen, uint64_t cap) {
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

// Where the trailer record found at offset at of buf ends.
typedef uint64_t (*RecordEnd)(const unsigned char* buf, int len, int at);

// Rules that end at the last occurrence of a trailer record in the first window
// holding one. An archive small enough to end in its first sector is ended there.
uint64_t LastRecordRule(unsigned char* buf, int len, const unsigned char* record, int recordLen, RecordEnd recordEnd,
                        uint64_t cap) {
    if (unsigned char* p = CFileTypeJudge::memrmem(buf, len, record, recordLen))
        return recordEnd(buf, len, static_cast<int>(p - buf));
    return ReadAhead(cap, STOP_AT_ANY_START, [&](unsigned char* w, int bytes, uint64_t before, uint64_t& end) {
        unsigned char* p = CFileTypeJudge::memrmem(w, bytes, record, recordLen);
        if (!p) return false;
        end = before + recordEnd(w, bytes, static_cast<int>(p - w));
        return true;
    });
}

// The end-of-central-directory record has 22 fixed bytes; a comment is not counted.
uint64_t ZipRecordEnd(const unsigned char*, int, int at) { return static_cast<uint64_t>(at) + 22; }

// The encoded header of a 7z archive closes the file: after the coder properties
// come the unpacked size (a 7z number), its CRC and two end marks. Its length
// varies with the size's width; when the bytes are not laid out so, the usual
// 27 bytes are taken.
uint64_t SevenZipRecordEnd(const unsigned char* w, int bytes, int at) {
    int q = at + 12 + 4; // the pattern, then the dictionary size
    if (q + 1 < bytes && w[q] == 0x0C) {
        unsigned char first = w[q + 1];
        int extra = 0;
        while (extra < 8 && (first & (0x80 >> extra))) ++extra;
        q += 2 + extra;
        if (q + 1 < bytes && w[q] == 0x0A && w[q + 1] == 0x01) q += 6;
        if (q + 1 < bytes && w[q] == 0x00 && w[q + 1] == 0x00) return static_cast<uint64_t>(q) + 2;
    }
    return static_cast<uint64_t>(at) + 27;
}
} // namespace

bool CFileTypeJudge::IsEndOfFile(unsigned char* buf, int len, uint64_t& length) {
    if (!buf || len <= 0) return false;
    int at = FindStopSector(buf, len / Bps(), Bps(), STOP_AT_ANY_START);
    if (at < 0) return false;
    length += static_cast<uint64_t>(at) * Bps();
    return true;
}

bool CFileTypeJudge::IsEndOfVedioFile(unsigned char* buf, int len, uint64_t& length) { return IsEndOfFile(buf, len, length); }

bool CFileTypeJudge::IsEndOfMPGFile(unsigned char* buf, int len, uint64_t& length) {
    if (!buf || len <= 0) return false;
    int at = FindStopSector(buf, len / Bps(), Bps(), STOP_NOT_AT_MPEG);
    if (at < 0) return false;
    length += static_cast<uint64_t>(at) * Bps();
    return true;
}

bool CFileTypeJudge::GetJPGFileTailOffset(unsigned char* buf, int len, uint64_t& offset) {
    static const unsigned char eoi[2] = {0xFF, 0xD9};
    return FindAcceptedMarker(buf, len, eoi, 2, true, offset);
}

bool CFileTypeJudge::GetPNGFileTailOffset(unsigned char* buf, int len, uint64_t& offset) {
    static const unsigned char iend[8] = {0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    return FindAcceptedMarker(buf, len, iend, 8, true, offset);
}

bool CFileTypeJudge::GetGIFFileTailOffset(unsigned char* buf, int len, uint64_t& offset) {
    static const unsigned char trailer[2] = {0x00, 0x3B};
    return FindAcceptedMarker(buf, len, trailer, 2, true, offset);
}

// An Exif picture carries its thumbnail's FF D9 before its own, so every FF D9
// of a window is tried, not only the first.
uint64_t CFileTypeJudge::GetJPGFileBytesSize(unsigned char* buf, int len) {
    static const unsigned char eoi[2] = {0xFF, 0xD9};
    return CandidateRule(buf, len, eoi, 2, 128 * MiB);
}

uint64_t CFileTypeJudge::GetPNGFileBytesSize(unsigned char* buf, int len) {
    static const unsigned char iend[8] = {0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    return CandidateRule(buf, len, iend, 8, 128 * MiB);
}

uint64_t CFileTypeJudge::GetGIFFileBytesSize(unsigned char* buf, int len) {
    static const unsigned char trailer[2] = {0x00, 0x3B};
    return CandidateRule(buf, len, trailer, 2, 128 * MiB);
}

uint64_t CFileTypeJudge::GetDefaultPictureFileBytesSize(unsigned char* buf, int len) {
    uint64_t structural = IsTifType(buf, len) != TYPE_UNKNOWN ? TiffEnd(buf, len, 0x8000000) : 0;
    return ReadAheadToStructuralEnd(structural, 0x8000000, STOP_AT_ANY_START, nullptr);
}

uint64_t CFileTypeJudge::GetDefaultAudioFileBytesSize(unsigned char*, int) {
    return ReadAhead(0x10000000, STOP_AT_ANY_START, nullptr);
}

uint64_t CFileTypeJudge::GetFLAFileBytesSize(unsigned char* buf, int len) { return GetDefaultAudioFileBytesSize(buf, len); }

// The read-ahead bounds these files; where the container's own structure shows
// an earlier end (QuickTime-style boxes, Flash video tags), the file ends there.
uint64_t CFileTypeJudge::GetDefaultVedioFileBytesSize(unsigned char* buf, int len) {
    uint64_t structural = 0;
    if (IsMovType(buf, len) != TYPE_UNKNOWN || Is3pgType(buf, len) != TYPE_UNKNOWN) structural = IsoBoxesEnd(buf, len, 4 * GiB);
    else if (IsFlvType(buf, len) != TYPE_UNKNOWN) structural = FlvTagsEnd(buf, len, 4 * GiB);
    return ReadAheadToStructuralEnd(structural, 4 * GiB, STOP_AT_ANY_START, nullptr);
}

uint64_t CFileTypeJudge::GetMKVFileBytes(unsigned char* buf, int len) {
    return ReadAheadToStructuralEnd(MatroskaEnd(buf, len), 64 * GiB, STOP_AT_ANY_START, nullptr);
}

uint64_t CFileTypeJudge::GetDBFileBytesSize(unsigned char* buf, int len) {
    return ReadAheadToStructuralEnd(SqliteEnd(buf, len), 0x180000000ull, STOP_AT_ANY_START, nullptr);
}

uint64_t CFileTypeJudge::GetMailFileBytesSize(unsigned char*, int) { return ReadAhead(0x80000000ull, STOP_AT_ANY_START, nullptr); }

uint64_t CFileTypeJudge::GetMPGFileBytesSize(unsigned char* buf, int len) {
    static const unsigned char programEnd[4] = {0, 0, 1, 0xB9}, sequenceEnd[4] = {0, 0, 1, 0xB7};
    static const unsigned char sequenceHeader[4] = {0, 0, 1, 0xB3};
    const bool sequence = buf && len >= 4 && std::memcmp(buf, sequenceHeader, 4) == 0;
    const unsigned char* marker = sequence ? sequenceEnd : programEnd;
    // Encoders that pad the stream instead of ending it leave the pack chain to show the end.
    uint64_t structural = sequence ? 0 : MpegPacksEnd(buf, len, 4 * GiB);
    return ReadAheadToStructuralEnd(structural, 4 * GiB, STOP_NOT_AT_MPEG,
                                    [&](unsigned char* w, int bytes, uint64_t before, uint64_t& end) {
                                        uint64_t e = 0;
                                        if (!FindAcceptedMarker(w, bytes, marker, 4, true, e)) return false;
                                        end = before + e;
                                        return true;
                                    });
}

uint64_t CFileTypeJudge::GetMP4FileBytesSize(unsigned char* buf, int len) {
    static const char freeBox[] = "freeIsoMedia File Produced";
    const int n = sizeof(freeBox) - 1;
    uint64_t structural = IsoBoxesEnd(buf, len, 4 * GiB);
    return ReadAheadToStructuralEnd(structural, 4 * GiB, STOP_AT_ANY_START,
                                    [&](unsigned char* w, int bytes, uint64_t before, uint64_t& end) {
        unsigned char* p = memmem(w, bytes, reinterpret_cast<const unsigned char*>(freeBox), n);
        if (!p) return false;
        int at = static_cast<int>(p - w) + n;
        int tail = 0;
        while (at + tail < bytes && w[at + tail] != 0) ++tail;
        end = before + at + tail;
        return true;
    });
}

uint64_t CFileTypeJudge::GetRMVBFileBytesSize(unsigned char*, int) {
    static const unsigned char index[20] = {'I', 'N', 'D', 'X', 0, 0, 0, 0x14, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0};
    return ReadAhead(4 * GiB, STOP_AT_ANY_START, [&](unsigned char* w, int bytes, uint64_t before, uint64_t& end) {
        unsigned char* p = memmem(w, bytes, index, 20);
        if (!p) return false;
        end = before + static_cast<uint64_t>(p - w) + 20;
        return true;
    });
}

// Follows the 188-byte packet grid from the file start. The length ends with the
// last packet of the unbroken run, so the stream keeps its final packet.
uint64_t CFileTypeJudge::GetTSFileBytesSize(unsigned char*, int) {
    const int bps = Bps();
    const uint64_t packet = 188;
    uint64_t run = (bps / packet) * packet + packet; // the packets that begin in the first sector
    uint64_t next = run;                           // the next grid position to look at
    bool broken = false;
    const uint64_t start = m_u64StartSector;
    uint64_t total = ReadAhead(64 * GiB, STOP_AT_ANY_START, [&](unsigned char* w, int bytes, uint64_t before, uint64_t&) {
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

uint64_t CFileTypeJudge::GetMP3FileBytesSize(unsigned char*, int) {
    uint64_t candidate = 0;
    uint64_t total = ReadAhead(0x80000000ull, STOP_AT_ANY_START, [&](unsigned char* w, int bytes, uint64_t before, uint64_t&) {
        unsigned char* p = memmem(w, bytes, reinterpret_cast<const unsigned char*>("TAG"), 3);
        if (p) candidate = before + static_cast<uint64_t>(p - w) + 128;
        return false;
    });
    return candidate && candidate < total ? candidate : total;
}

// Hops along the chunks from the end of the header chunk; the file ends after
// its t-th track chunk. The read-ahead only has to confirm that no other file
// or metadata starts before that.
uint64_t CFileTypeJudge::GetMIDFileBytesSize(unsigned char* buf, int len) {
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

uint64_t CFileTypeJudge::GetAPEFileBytesSize(unsigned char*, int) {
    static const unsigned char tag[10] = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X', 0xD0, 0x07};
    return ReadAhead(2 * GiB, STOP_AT_ANY_START, [&](unsigned char* w, int bytes, uint64_t before, uint64_t& end) {
        unsigned char* header = memmem(w, bytes, tag, 10);
        if (!header) return false;
        int after = static_cast<int>(header - w) + 10;
        unsigned char* footer = memmem(w + after, bytes - after, tag, 10);
        end = footer ? before + static_cast<uint64_t>(footer - w) + 32 : before + bytes;
        return true;
    });
}

uint64_t CFileTypeJudge::GetOFFICE2007FileBytesSize(unsigned char* buf, int len) {
    static const unsigned char eocd[4] = {0x50, 0x4B, 0x05, 0x06};
    return LastRecordRule(buf, len, eocd, 4, ZipRecordEnd, 0x7FFFFFF);
}

uint64_t CFileTypeJudge::GetZIPFileBytesSize(unsigned char* buf, int len) {
    static const unsigned char eocd[4] = {0x50, 0x4B, 0x05, 0x06};
    return LastRecordRule(buf, len, eocd, 4, ZipRecordEnd, 4 * GiB);
}

uint64_t CFileTypeJudge::Get7ZFileBytesSize(unsigned char* buf, int len) {
    static const unsigned char header[12] = {0x00, 0x07, 0x0B, 0x01, 0x00, 0x01, 0x23, 0x03, 0x01, 0x01, 0x05, 0x5D};
    return LastRecordRule(buf, len, header, 12, SevenZipRecordEnd, 4 * GiB);
}

uint64_t CFileTypeJudge::GetRARFileBytesSize(unsigned char*, int) {
    static const unsigned char endBlock[7] = {0xC4, 0x3D, 0x7B, 0x00, 0x40, 0x07, 0x00};
    return ReadAhead(4 * GiB, STOP_AT_ANY_START, [&](unsigned char* w, int bytes, uint64_t before, uint64_t& end) {
        uint64_t e = 0;
        if (!FindAcceptedMarker(w, bytes, endBlock, 7, true, e)) return false;
        end = before + e;
        return true;
    });
}

// The last "%%EOF" of the first window holding one ends the file, with the line
// end that writers put after it; else the last "trailer" keyword.
uint64_t CFileTypeJudge::GetPDFFileBytesSize(unsigned char*, int) {
    return ReadAhead(0x40000000, STOP_AT_ANY_START, [&](unsigned char* w, int bytes, uint64_t before, uint64_t& end) {
        unsigned char* p = memrmem(w, bytes, reinterpret_cast<const unsigned char*>("%%EOF"), 5);
        if (p) {
            int at = static_cast<int>(p - w) + 5;
            if (at < bytes && w[at] == '\r') ++at;
            if (at < bytes && w[at] == '\n') ++at;
            end = before + at;
            return true;
        }
        p = memrmem(w, bytes, reinterpret_cast<const unsigned char*>("trailer"), 7);
        if (!p) return false;
        end = before + static_cast<uint64_t>(p - w) + 7;
        return true;
    });
}
