// Length rules that read ahead on the disk: for formats without a structure to
// follow, up to the next file start or file-system metadata; and the marker
// rules that stand in when a structure walk cannot read a file.
#include "carving/formats/CarvedFormat.h"
#include "carving/ReadAhead.h"
#include "carving/formats/FormatBytes.h"
#include "platform/ByteView.h"

#include <cstring>

namespace {
constexpr uint64_t MiB = 1024ull * 1024;
constexpr uint64_t GiB = 1024 * MiB;


// Where the trailer record found at offset at of buf ends.
typedef uint64_t (*RecordEnd)(const unsigned char* buf, int len, int at);

// Rules that end at the last occurrence of a trailer record in the first window
// holding one. An archive small enough to end in its first sector is ended there.
uint64_t LastRecordRule(unsigned char* buf, int len, const unsigned char* record, int recordLen, RecordEnd recordEnd,
                        uint64_t cap) {
    if (unsigned char* p = FormatRules::memrmem(buf, len, record, recordLen))
        return recordEnd(buf, len, static_cast<int>(p - buf));
    return ReadAhead(cap, STOP_AT_ANY_START, [&](unsigned char* w, int bytes, uint64_t before, uint64_t& end) {
        unsigned char* p = FormatRules::memrmem(w, bytes, record, recordLen);
        if (!p) return false;
        end = before + recordEnd(w, bytes, static_cast<int>(p - w));
        return true;
    });
}

// The end-of-central-directory record has 22 fixed bytes; a comment is not counted.
uint64_t ZipRecordEnd(const unsigned char*, int, int at) { return static_cast<uint64_t>(at) + 22; }

} // namespace

bool FormatRules::IsEndOfFile(unsigned char* buf, int len, uint64_t& length) {
    if (!buf || len <= 0) return false;
    int at = FindStopSector(buf, len / Bps(), Bps(), STOP_AT_ANY_START);
    if (at < 0) return false;
    length += static_cast<uint64_t>(at) * Bps();
    return true;
}

bool FormatRules::IsEndOfVedioFile(unsigned char* buf, int len, uint64_t& length) { return IsEndOfFile(buf, len, length); }

bool FormatRules::IsEndOfMPGFile(unsigned char* buf, int len, uint64_t& length) {
    if (!buf || len <= 0) return false;
    int at = FindStopSector(buf, len / Bps(), Bps(), STOP_NOT_AT_MPEG);
    if (at < 0) return false;
    length += static_cast<uint64_t>(at) * Bps();
    return true;
}

bool FormatRules::GetJPGFileTailOffset(unsigned char* buf, int len, uint64_t& offset) {
    static const unsigned char eoi[2] = {0xFF, 0xD9};
    return FindAcceptedMarker(buf, len, eoi, 2, true, offset);
}

bool FormatRules::GetPNGFileTailOffset(unsigned char* buf, int len, uint64_t& offset) {
    static const unsigned char iend[8] = {0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    return FindAcceptedMarker(buf, len, iend, 8, true, offset);
}

bool FormatRules::GetGIFFileTailOffset(unsigned char* buf, int len, uint64_t& offset) {
    static const unsigned char trailer[2] = {0x00, 0x3B};
    return FindAcceptedMarker(buf, len, trailer, 2, true, offset);
}

uint64_t FormatRules::GetDefaultPictureFileBytesSize(unsigned char*, int) {
    return ReadAhead(0x8000000, STOP_AT_ANY_START, nullptr);
}

uint64_t FormatRules::GetDefaultAudioFileBytesSize(unsigned char*, int) {
    return ReadAhead(0x10000000, STOP_AT_ANY_START, nullptr);
}


uint64_t FormatRules::GetDefaultVedioFileBytesSize(unsigned char*, int) {
    return ReadAhead(4 * GiB, STOP_AT_ANY_START, nullptr);
}







uint64_t ReadAheadToStructuralEnd(uint64_t structural, uint64_t cap, READ_AHEAD_STOP stop, const WindowVisitor& marker) {
    const uint64_t bps = static_cast<uint64_t>(Bps());
    if (structural > cap) structural = 0;
    if (structural && structural <= bps) return structural;
    return ReadAhead(cap, stop, [&](unsigned char* w, int bytes, uint64_t before, uint64_t& end) {
        if (marker && marker(w, bytes, before, end)) return true;
        if (!structural || before + bytes < structural) return false;
        end = structural;
        return true;
    });
}

uint64_t Id3v1ReadAhead() {
    uint64_t candidate = 0;
    uint64_t total = ReadAhead(0x80000000ull, STOP_AT_ANY_START, [&](unsigned char* w, int bytes, uint64_t before, uint64_t&) {
        unsigned char* p = FormatRules::memmem(w, bytes, reinterpret_cast<const unsigned char*>("TAG"), 3);
        if (p) candidate = before + static_cast<uint64_t>(p - w) + 128;
        return false;
    });
    return candidate && candidate < total ? candidate : total;
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
        unsigned char* p = FormatRules::memrmem(w, bytes, reinterpret_cast<const unsigned char*>("%%EOF"), 5);
        if (p) {
            int at = static_cast<int>(p - w) + 5;
            if (at < bytes && w[at] == '\r') ++at;
            if (at < bytes && w[at] == '\n') ++at;
            end = before + at;
            return true;
        }
        p = FormatRules::memrmem(w, bytes, reinterpret_cast<const unsigned char*>("trailer"), 7);
        if (!p) return false;
        end = before + static_cast<uint64_t>(p - w) + 7;
        return true;
    });
}
