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

// A segment size (or a page count) that the header states is exact.
uint64_t CFileTypeJudge::GetMKVFileBytes(unsigned char* buf, int len) {
    if (uint64_t end = MatroskaEnd(buf, len)) return end;
    return ReadAheadToStructuralEnd(MatroskaEnd(buf, len), 64 * GiB, STOP_AT_ANY_START, nullptr);
}

uint64_t CFileTypeJudge::GetDBFileBytesSize(unsigned char* buf, int len) {
    if (uint64_t end = SqliteEnd(buf, len)) return end;
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

uint64_t Id3v1ReadAhead() {
    uint64_t candidate = 0;
    uint64_t total = ReadAhead(0x80000000ull, STOP_AT_ANY_START, [&](unsigned char* w, int bytes, uint64_t before, uint64_t&) {
        unsigned char* p = CFileTypeJudge::memmem(w, bytes, reinterpret_cast<const unsigned char*>("TAG"), 3);
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

uint64_t ZipRecordReadAhead(unsigned char* buf, int len, uint64_t cap) {
    static const unsigned char eocd[4] = {0x50, 0x4B, 0x05, 0x06};
    return LastRecordRule(buf, len, eocd, 4, ZipRecordEnd, cap);
}

uint64_t RarEndBlockReadAhead() {
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
uint64_t PdfTrailerReadAhead() {
    return ReadAhead(0x40000000, STOP_AT_ANY_START, [&](unsigned char* w, int bytes, uint64_t before, uint64_t& end) {
        unsigned char* p = CFileTypeJudge::memrmem(w, bytes, reinterpret_cast<const unsigned char*>("%%EOF"), 5);
        if (p) {
            int at = static_cast<int>(p - w) + 5;
            if (at < bytes && w[at] == '\r') ++at;
            if (at < bytes && w[at] == '\n') ++at;
            end = before + at;
            return true;
        }
        p = CFileTypeJudge::memrmem(w, bytes, reinterpret_cast<const unsigned char*>("trailer"), 7);
        if (!p) return false;
        end = before + static_cast<uint64_t>(p - w) + 7;
        return true;
    });
}
