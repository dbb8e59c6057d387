// Plain text: a run of UTF-8 (or, where the first sector is not UTF-8, of
// single-byte text) with no control characters but tab, line and page breaks.
// It ends at the first byte that cannot be text; when old data rather than
// zeros follows, a few stray bytes that happened to look like text are cut back
// to the last line end. The extension comes from the content.
#include "carving/formats/CarvedFormat.h"

#include <cctype>
#include <cstring>
#include <strings.h>

namespace {
constexpr int kMinText = 48;           // shorter runs are noise
constexpr uint64_t kStrayTail = 64;    // bytes after the last line end that may be old data

bool IsControl(unsigned char b) { return b < 0x20 ? !(b == '\t' || b == '\n' || b == '\r' || b == '\f') : b == 0x7F; }

// Feeds bytes one at a time; stops at the first that cannot continue the text.
struct TextScanner {
    bool utf8 = true;
    int pending = 0;        // continuation bytes still owed by a UTF-8 sequence
    uint64_t seqStart = 0;  // where that sequence began
    uint64_t lastLineEnd = 0;

    // The offset where text ends within p (as file offsets), or UINT64_MAX when all is text.
    uint64_t Scan(const unsigned char* p, size_t n, uint64_t offset) {
        for (size_t i = 0; i < n; ++i) {
            unsigned char b = p[i];
            uint64_t at = offset + i;
            if (pending) {
                if ((b & 0xC0) != 0x80) return seqStart;
                --pending;
                continue;
            }
            if (b < 0x80) {
                if (IsControl(b)) return at;
                if (b == '\n') lastLineEnd = at + 1;
                continue;
            }
            if (!utf8) {
                if (b < 0xA0 && b != 0x80 && b != 0x85 && b != 0x91 && b != 0x92 && b != 0x93 && b != 0x94 && b != 0x96 && b != 0x97) return at;
                continue;
            }
            if (b >= 0xC2 && b <= 0xDF) pending = 1;
            else if (b >= 0xE0 && b <= 0xEF) pending = 2;
            else if (b >= 0xF0 && b <= 0xF4) pending = 3;
            else return at;
            seqStart = at;
        }
        return UINT64_MAX;
    }
};

// Whether the first sector is UTF-8 (or plain ASCII) up to where the text ends.
bool LooksUtf8(const unsigned char* p, int n) {
    TextScanner s;
    uint64_t end = s.Scan(p, static_cast<size_t>(n), 0);
    return end == UINT64_MAX || end >= static_cast<uint64_t>(n) - 3 || p[end] == 0;
}

// Where text that stops at offset end of p (before n bytes) really ends: at end
// when zeros follow; when old data follows, a few bytes after the last line end
// may be that data's, so the text ends with its last line. 0: no end there.
uint64_t EndBefore(const unsigned char* p, size_t n, uint64_t end, uint64_t lastLineEnd, uint64_t offset) {
    if (end - offset < n && p[end - offset] == 0) return end;
    if (lastLineEnd && end >= lastLineEnd && end - lastLineEnd <= kStrayTail) return lastLineEnd;
    return end;
}

// The length of the text at the start of a sector (len when it goes on past the
// sector), 0 when the sector does not start a text file.
int TextLength(const unsigned char* buf, int len) {
    if (!buf || len < kMinText) return 0;
    TextScanner s;
    s.utf8 = LooksUtf8(buf, len);
    uint64_t end = s.Scan(buf, static_cast<size_t>(len), 0);
    int run = end == UINT64_MAX ? len : static_cast<int>(EndBefore(buf, static_cast<size_t>(len), end, s.lastLineEnd, 0));
    if (run < kMinText) return 0;
    // Words, not a fill of one character nor bytes of a picture that happen to be
    // printable: letters and digits, some variety, and spaces or line breaks.
    int alnum = 0, blanks = 0, seen[256] = {0}, distinct = 0;
    for (int i = 0; i < run; ++i) {
        const unsigned char b = buf[i];
        alnum += (b >= '0' && b <= '9') || ((b | 0x20) >= 'a' && (b | 0x20) <= 'z') || b >= 0x80;
        blanks += buf[i] == ' ' || buf[i] == '\n' || buf[i] == '\t';
        distinct += seen[buf[i]]++ == 0;
    }
    return alnum * 2 >= run && blanks * 32 >= run && distinct >= 10 ? run : 0;
}

bool StartsNoCase(const unsigned char* p, int n, const char* s) {
    int k = static_cast<int>(std::strlen(s));
    return n >= k && strncasecmp(reinterpret_cast<const char*>(p), s, static_cast<size_t>(k)) == 0;
}

// CSV: the first lines hold the same number of commas (or semicolons), at least one.
bool LooksCsv(const unsigned char* p, int n) {
    for (char sep : {',', ';', '\t'}) {
        int lines = 0, first = -1, count = 0;
        bool same = true;
        for (int i = 0; i < n && lines < 4; ++i) {
            if (p[i] == static_cast<unsigned char>(sep)) ++count;
            if (p[i] == '\n') {
                if (first < 0) first = count;
                else same = same && count == first;
                ++lines;
                count = 0;
            }
        }
        if (lines >= 2 && first > 0 && same) return true;
    }
    return false;
}

EXTEND_NAME_TYPE KindOf(const unsigned char* p, int n) {
    int i = 0;
    if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) i = 3; // byte-order mark
    while (i < n && std::isspace(p[i])) ++i;
    const unsigned char* q = p + i;
    int m = n - i;
    if (StartsNoCase(q, m, "<?xml")) return TYPE_XML;
    if (StartsNoCase(q, m, "<!doctype html") || StartsNoCase(q, m, "<html")) return TYPE_HTML;
    if (m >= 2 && q[0] == '#' && q[1] == '!') return TYPE_SH;
    if (m >= 2 && (q[0] == '{' || q[0] == '[')) {
        int j = 1;
        while (j < m && std::isspace(q[j])) ++j;
        if (j < m && (q[j] == '"' || q[j] == '{' || q[j] == '[' || q[j] == '}' || q[j] == ']' || std::isdigit(q[j])))
            return TYPE_JSON;
    }
    return LooksCsv(q, m) ? TYPE_CSV : TYPE_TXT;
}

class TextWalk : public StructureWalk {
public:
    explicit TextWalk(bool utf8) { m_scan.utf8 = utf8; }
    WalkStep Feed(const unsigned char* p, size_t len, uint64_t offset) override {
        uint64_t end = m_scan.Scan(p, len, offset);
        if (end == UINT64_MAX) return WalkStep::More();
        return WalkStep::End(EndBefore(p, len, end, m_scan.lastLineEnd, offset));
    }
    uint64_t AtEnd(uint64_t fed) override { return fed; }

private:
    TextScanner m_scan;
};

const FormatName kTextNames[] = {{"txt", TYPE_TXT}, {"html", TYPE_HTML}, {"htm", TYPE_HTML}, {"xml", TYPE_XML},
                                 {"json", TYPE_JSON}, {"csv", TYPE_CSV}, {"sh", TYPE_SH}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsTextType(unsigned char* buf, int len) {
    int run = TextLength(buf, len);
    return run ? KindOf(buf, run) : TYPE_UNKNOWN;
}

uint64_t FormatRules::GetTextFileBytesSize(unsigned char* buf, int len) {
    int run = TextLength(buf, len);
    if (!run) return 0;
    if (run < len) return static_cast<uint64_t>(run);
    TextWalk walk(LooksUtf8(buf, len));
    uint64_t end = WalkFile(walk, buf, len, 64 * kMiB);
    return end ? end : static_cast<uint64_t>(len);
}

namespace {
bool MayStartText(const unsigned char*, int) { return true; }
} // namespace

extern const CarvedFormat kTextFormat;
const CarvedFormat kTextFormat = {kTextNames, 7, &FormatRules::IsTextType, &FormatRules::GetTextFileBytesSize,
                                  nullptr, 0, MayStartText, FORMAT_BYTES(""), -1, 0, true};
