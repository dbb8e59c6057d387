// PDF: the file ends after the last %%EOF of its incremental updates. After each
// %%EOF (and its line end) an update starts with an object, a cross-reference
// section or a comment; anything else means the file ended there. What follows
// a %%EOF may only look like an update (old data that starts with '%'), so a
// sector that starts another file before the next %%EOF ends the file at the
// last one: otherwise it would run on through every file up to some later
// PDF's end.
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {
class PdfWalk : public ScanWalk {
public:
    PdfWalk() : ScanWalk("%%EOF", 5, 24) {}

    // Sector by sector, so that once an end is known no other file's start is passed.
    WalkStep Feed(const unsigned char* p, size_t len, uint64_t offset) override {
        size_t done = 0;
        while (done < len) {
            const uint64_t at = offset + done;
            const size_t piece = static_cast<size_t>(std::min<uint64_t>(len - done, Bps() - at % Bps()));
            WalkStep s = ScanWalk::Feed(p + done, piece, at);
            // A hit is judged once the bytes after it are in, which may be in
            // this sector: an end before the sector counts from here on too.
            if (s.kind == WalkStep::Ends && s.at <= at) return s;
            if (m_lastEnd && m_lastEnd <= at && piece == Bps() && StartsOther(p + done)) return WalkStep::End(m_lastEnd);
            if (s.kind != WalkStep::NeedMore) return s;
            done += piece;
        }
        return WalkStep::More(offset + len);
    }
    // The bytes ran out after an end: that end.
    uint64_t AtEnd(uint64_t) override { return m_lastEnd; }

protected:
    WalkStep OnHit(const unsigned char* hit, size_t avail, uint64_t pos) override {
        size_t at = 5;
        if (at < avail && hit[at] == '\r') ++at;
        if (at < avail && hit[at] == '\n') ++at;
        if (!GoesOn(hit + at, avail - at)) return WalkStep::End(pos + at);
        m_lastEnd = pos + at;
        return WalkStep::More();
    }

private:
    uint64_t m_lastEnd = 0; // just past the last %%EOF met, 0 before the first

    static uint64_t Bps() { return FormatRules::m_nBytesPerSector > 0 ? uint64_t(FormatRules::m_nBytesPerSector) : 512; }
    static bool StartsOther(const unsigned char* sector) {
        return CarveContext::RecogniseStart(const_cast<unsigned char*>(sector), static_cast<int>(Bps())) != TYPE_UNKNOWN;
    }
    static bool GoesOn(const unsigned char* p, size_t n) {
        size_t i = 0;
        while (i < n && (p[i] == ' ' || p[i] == '\r' || p[i] == '\n')) ++i;
        if (i < n && p[i] == '%') return true;
        if (n - i >= 4 && std::memcmp(p + i, "xref", 4) == 0) return true;
        // "<number> <number> obj"
        size_t digits = 0;
        while (i < n && std::isdigit(p[i])) ++i, ++digits;
        if (!digits || i >= n || p[i] != ' ') return false;
        ++i;
        digits = 0;
        while (i < n && std::isdigit(p[i])) ++i, ++digits;
        return digits && n - i >= 4 && std::memcmp(p + i, " obj", 4) == 0;
    }
};

const FormatName kPdfNames[] = {{"pdf", TYPE_PDF}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsPdfType(unsigned char* buf, int len) {
    if (!StartsWith(buf, len, "%PDF-", 5)) return TYPE_UNKNOWN;
    return len < 8 || (std::isdigit(buf[5]) && buf[6] == '.') ? TYPE_PDF : TYPE_UNKNOWN;
}

uint64_t FormatRules::GetPDFFileBytesSize(unsigned char* buf, int len) {
    PdfWalk walk;
    if (uint64_t end = WalkFile(walk, buf, len, kGiB)) return end;
    if (m_ErrorCode == RECOVERY_STOPPED) return static_cast<uint64_t>(len);
    return PdfTrailerReadAhead();
}

extern const CarvedFormat kPdfFormat;
const CarvedFormat kPdfFormat = {kPdfNames, 1, &FormatRules::IsPdfType, &FormatRules::GetPDFFileBytesSize,
                                 FORMAT_BYTES("%PDF"), nullptr, FORMAT_BYTES("%"), -1, 0, true};
