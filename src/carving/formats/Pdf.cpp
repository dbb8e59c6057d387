// PDF: the file ends after the last %%EOF of its incremental updates. After each
// %%EOF (and its line end) an update starts with an object, a cross-reference
// section or a comment; anything else means the file ended there.
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"

#include <cctype>
#include <cstring>

namespace {
class PdfWalk : public ScanWalk {
public:
    PdfWalk() : ScanWalk("%%EOF", 5, 24) {}

protected:
    WalkStep OnHit(const unsigned char* hit, size_t avail, uint64_t pos) override {
        size_t at = 5;
        if (at < avail && hit[at] == '\r') ++at;
        if (at < avail && hit[at] == '\n') ++at;
        return GoesOn(hit + at, avail - at) ? WalkStep::More() : WalkStep::End(pos + at);
    }

private:
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
