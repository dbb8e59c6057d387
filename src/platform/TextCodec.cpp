#include "platform/TextCodec.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <mutex>
#include <vector>

namespace {
constexpr const char* kAnsiCode = "GB18030";
constexpr const char* kWideCode = "WCHAR_T";
constexpr wchar_t kReplacementWide = 0xFFFD;
constexpr char kReplacementAnsi = '?';

// iconv descriptors keep conversion state, so each thread has its own pair.
struct Converters {
    iconv_t toAnsi = reinterpret_cast<iconv_t>(-1);
    iconv_t toWide = reinterpret_cast<iconv_t>(-1);
    Converters() {
        toAnsi = iconv_open(kAnsiCode, kWideCode);
        toWide = iconv_open(kWideCode, kAnsiCode);
    }
    ~Converters() {
        if (toAnsi != reinterpret_cast<iconv_t>(-1)) iconv_close(toAnsi);
        if (toWide != reinterpret_cast<iconv_t>(-1)) iconv_close(toWide);
    }
};

Converters& ThreadConverters() {
    thread_local Converters c;
    return c;
}

bool IsValidScalar(wchar_t c) {
    uint32_t v = static_cast<uint32_t>(c);
    return v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF);
}

// Narrows one wide string completely (no size bound).
std::string NarrowAll(const wchar_t* src, size_t len) {
    std::string out;
    out.reserve(len * 2);
    bool ascii = true;
    for (size_t i = 0; i < len; ++i)
        if (static_cast<uint32_t>(src[i]) >= 0x80) { ascii = false; break; }
    if (ascii) {
        for (size_t i = 0; i < len; ++i) out.push_back(static_cast<char>(src[i]));
        return out;
    }
    iconv_t cd = ThreadConverters().toAnsi;
    for (size_t i = 0; i < len; ++i) {
        wchar_t c = src[i];
        if (static_cast<uint32_t>(c) < 0x80) { out.push_back(static_cast<char>(c)); continue; }
        if (cd == reinterpret_cast<iconv_t>(-1) || !IsValidScalar(c)) { out.push_back(kReplacementAnsi); continue; }
        char tmp[8];
        char* in = reinterpret_cast<char*>(&c);
        size_t inLeft = sizeof(wchar_t);
        char* o = tmp;
        size_t outLeft = sizeof tmp;
        if (iconv(cd, &in, &inLeft, &o, &outLeft) == static_cast<size_t>(-1)) {
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            out.push_back(kReplacementAnsi);
            continue;
        }
        out.append(tmp, o - tmp);
    }
    return out;
}

// Length of the GB18030 character starting at p (1, 2 or 4 bytes).
size_t Gb18030CharLength(const unsigned char* p, size_t left) {
    if (p[0] < 0x80 || left < 2) return 1;
    if (p[1] >= 0x30 && p[1] <= 0x39) return left >= 4 ? 4 : left;
    return 2;
}

// The longest prefix of s that holds whole characters and fits in limit bytes.
size_t CutAtBoundary(const std::string& s, size_t limit) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
    size_t pos = 0;
    while (pos < s.size()) {
        size_t n = Gb18030CharLength(p + pos, s.size() - pos);
        if (pos + n > limit) break;
        pos += n;
    }
    return pos;
}

std::wstring WidenAll(const char* src, size_t len) {
    std::wstring out;
    out.reserve(len);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(src);
    iconv_t cd = ThreadConverters().toWide;
    size_t pos = 0;
    while (pos < len) {
        if (p[pos] < 0x80) { out.push_back(static_cast<wchar_t>(p[pos])); ++pos; continue; }
        size_t n = Gb18030CharLength(p + pos, len - pos);
        wchar_t w[2];
        char* in = const_cast<char*>(src + pos);
        size_t inLeft = n;
        char* o = reinterpret_cast<char*>(w);
        size_t outLeft = sizeof w;
        if (cd == reinterpret_cast<iconv_t>(-1) ||
            iconv(cd, &in, &inLeft, &o, &outLeft) == static_cast<size_t>(-1) || o == reinterpret_cast<char*>(w)) {
            if (cd != reinterpret_cast<iconv_t>(-1)) iconv(cd, nullptr, nullptr, nullptr, nullptr);
            out.push_back(kReplacementWide);
            ++pos; // resynchronise on the next byte
            continue;
        }
        out.push_back(w[0]);
        pos += n;
    }
    return out;
}

size_t WideLength(const wchar_t* s, long srcLen) {
    if (srcLen >= 0) return static_cast<size_t>(srcLen);
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

// The start-up converters live as long as the process and are closed at its end.
struct StartupMap {
    std::mutex mutex;
    std::string codePage;
    iconv_t toUnicode = reinterpret_cast<iconv_t>(-1);
    iconv_t fromUnicode = reinterpret_cast<iconv_t>(-1);
    ~StartupMap() {
        if (toUnicode != reinterpret_cast<iconv_t>(-1)) iconv_close(toUnicode);
        if (fromUnicode != reinterpret_cast<iconv_t>(-1)) iconv_close(fromUnicode);
    }
};
StartupMap g_startup;
} // namespace

long inner_uni2str(char* dst, const wchar_t* src, long dstSize, long srcLen) {
    if (!dst || dstSize <= 0) return 0;
    dst[0] = 0;
    if (!src) return 0;
    std::string s = NarrowAll(src, WideLength(src, srcLen));
    size_t n = CutAtBoundary(s, static_cast<size_t>(dstSize - 1));
    std::memcpy(dst, s.data(), n);
    dst[n] = 0;
    return static_cast<long>(n);
}

long inner_str2uni(wchar_t* dst, const char* src, long dstSize, long srcLen) {
    if (!dst || dstSize <= 0) return 0;
    dst[0] = 0;
    if (!src) return 0;
    size_t len = srcLen >= 0 ? static_cast<size_t>(srcLen) : std::strlen(src);
    std::wstring w = WidenAll(src, len);
    size_t n = w.size() < static_cast<size_t>(dstSize - 1) ? w.size() : static_cast<size_t>(dstSize - 1);
    std::wmemcpy(dst, w.data(), n);
    dst[n] = 0;
    return static_cast<long>(n);
}

int Unicode2Ansi(const wchar_t* src, char* dst, int dstSize) {
    inner_uni2str(dst, src, dstSize, -1);
    return 0;
}

std::string Unicode2Ansi(const wchar_t* src) {
    if (!src) return std::string();
    return NarrowAll(src, WideLength(src, -1));
}

int Ansi2Unicode(const char* src, wchar_t* dst, int dstSize) {
    inner_str2uni(dst, src, dstSize, -1);
    return 0;
}

std::wstring Ansi2Unicode(const char* src) {
    if (!src) return std::wstring();
    return WidenAll(src, std::strlen(src));
}

int inner_initUnicodeMap(const char* codePage) {
    std::lock_guard<std::mutex> lock(g_startup.mutex);
    g_startup.codePage = codePage ? codePage : "";
    if (g_startup.toUnicode != reinterpret_cast<iconv_t>(-1)) return 0;
    g_startup.toUnicode = iconv_open("UNICODELITTLE", g_startup.codePage.c_str());
    if (g_startup.toUnicode == reinterpret_cast<iconv_t>(-1)) return -1;
    g_startup.fromUnicode = iconv_open(g_startup.codePage.c_str(), "UNICODELITTLE");
    if (g_startup.fromUnicode == reinterpret_cast<iconv_t>(-1)) {
        iconv_close(g_startup.toUnicode);
        g_startup.toUnicode = reinterpret_cast<iconv_t>(-1);
        return -1;
    }
    return 0;
}

std::wstring Utf16leToWide(const uint8_t* data, size_t units) {
    std::wstring out;
    out.reserve(units);
    for (size_t i = 0; i < units; ++i) {
        uint32_t u = data[2 * i] | (data[2 * i + 1] << 8);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            uint32_t lo = data[2 * i + 2] | (data[2 * i + 3] << 8);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                out.push_back(static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00)));
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) u = kReplacementWide;
        out.push_back(static_cast<wchar_t>(u));
    }
    return out;
}

std::string ShortenNameToFit(const std::string& name, size_t limit) {
    if (name.size() <= limit) return name;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(name.data());
    std::vector<size_t> starts; // where each character begins
    for (size_t pos = 0; pos < name.size(); pos += Gb18030CharLength(p + pos, name.size() - pos)) starts.push_back(pos);
    size_t dot = name.rfind('.');
    std::string ext = dot != std::string::npos && dot > 0 && name.size() - dot <= limit / 4 ? name.substr(dot) : "";
    std::string stem = name.substr(0, name.size() - ext.size());
    if (limit < ext.size() + 3) return name.substr(0, CutAtBoundary(name, limit));
    const size_t budget = limit - ext.size() - 1; // one byte for the '~'
    const size_t head = CutAtBoundary(stem, budget - budget / 3);
    size_t tail = stem.size();
    for (size_t start : starts)
        if (start >= head && start < stem.size() && stem.size() - start <= budget - head) {
            tail = start;
            break;
        }
    return stem.substr(0, head) + "~" + stem.substr(tail) + ext;
}

void Utf16leToAnsi(const uint8_t* data, size_t units, char* dst, size_t dstSize) {
    if (!dst || dstSize == 0) return;
    bool ascii = true;
    for (size_t i = 0; i < units; ++i)
        if (data[2 * i + 1] != 0 || data[2 * i] >= 0x80) { ascii = false; break; }
    if (ascii && units < dstSize) {
        for (size_t i = 0; i < units; ++i) dst[i] = static_cast<char>(data[2 * i]);
        dst[units] = 0;
        return;
    }
    // A name longer than the room is shortened in its middle: cut at its end it
    // would lose its extension and with it its type.
    std::wstring w = Utf16leToWide(data, units);
    std::string narrow = ShortenNameToFit(NarrowAll(w.data(), w.size()), dstSize - 1);
    std::memcpy(dst, narrow.data(), narrow.size());
    dst[narrow.size()] = 0;
}

std::string WideToUtf8(const wchar_t* src) {
    std::string out;
    if (!src) return out;
    for (; *src; ++src) {
        uint32_t c = static_cast<uint32_t>(*src);
        if (!IsValidScalar(*src)) c = 0xFFFD;
        if (c < 0x80) out.push_back(static_cast<char>(c));
        else if (c < 0x800) { out.push_back(char(0xC0 | (c >> 6))); out.push_back(char(0x80 | (c & 0x3F))); }
        else if (c < 0x10000) { out.push_back(char(0xE0 | (c >> 12))); out.push_back(char(0x80 | ((c >> 6) & 0x3F))); out.push_back(char(0x80 | (c & 0x3F))); }
        else { out.push_back(char(0xF0 | (c >> 18))); out.push_back(char(0x80 | ((c >> 12) & 0x3F))); out.push_back(char(0x80 | ((c >> 6) & 0x3F))); out.push_back(char(0x80 | (c & 0x3F))); }
    }
    return out;
}

std::wstring Utf8ToWide(const char* src) {
    std::wstring out;
    if (!src) return out;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(src);
    while (*p) {
        uint32_t c = *p;
        int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (extra < 0) { out.push_back(kReplacementWide); ++p; continue; }
        c &= extra == 0 ? 0x7F : extra == 1 ? 0x1F : extra == 2 ? 0x0F : 0x07;
        int i = 1;
        for (; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80) break;
            c = (c << 6) | (p[i] & 0x3F);
        }
        if (i <= extra) { out.push_back(kReplacementWide); ++p; continue; }
        out.push_back(static_cast<wchar_t>(c));
        p += extra + 1;
    }
    return out;
}
