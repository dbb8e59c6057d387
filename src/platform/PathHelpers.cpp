#include "platform/PathHelpers.h"

#include "platform/TextCodec.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace {
// The 8-bit name is in the program's code page; files on disk are named in UTF-8.
bool PathExists(const char* path) {
    struct stat st;
    std::string utf8 = WideToUtf8(Ansi2Unicode(path).c_str());
    return ::lstat(utf8.c_str(), &st) == 0;
}

void CopyOut(char* dst, const char* src, size_t n) {
    if (!dst) return;
    std::memcpy(dst, src, n);
    dst[n] = 0;
}
} // namespace

int GetExtendName(const char* name, char* ext) {
    if (!name || !ext) return 87;
    const char* dot = std::strrchr(name, '.');
    if (!dot) return 87;
    std::strcpy(ext, dot + 1);
    return 0;
}

void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext) {
    if (drive) drive[0] = 0;
    if (dir) dir[0] = 0;
    if (fname) fname[0] = 0;
    if (ext) ext[0] = 0;
    if (!path) return;
    size_t len = std::strlen(path);
    const char* slash = std::strrchr(path, '/');
    size_t dirLen = slash ? static_cast<size_t>(slash - path) + 1 : 0;
    CopyOut(dir, path, dirLen);
    const char* base = path + dirLen;
    const char* dot = std::strrchr(base, '.');
    if (dot) {
        CopyOut(fname, base, static_cast<size_t>(dot - base));
        CopyOut(ext, dot, len - static_cast<size_t>(dot - path));
    } else {
        CopyOut(fname, base, len - dirLen);
    }
}

void GetRealFileName(const char* path, wchar_t* out, int outSize) {
    if (!path || !out || outSize <= 0) return;
    if (!PathExists(path)) {
        Ansi2Unicode(path, out, outSize);
        return;
    }
    size_t len = std::strlen(path) + 1;
    std::string drive(len, '\0'), dir(len, '\0'), fname(len, '\0'), ext(len, '\0');
    _splitpath(path, &drive[0], &dir[0], &fname[0], &ext[0]);
    std::string candidate;
    for (unsigned long n = 1;; ++n) {
        candidate = std::string(drive.c_str()) + dir.c_str() + fname.c_str() + "(" + std::to_string(n) + ")" + ext.c_str();
        if (!PathExists(candidate.c_str())) break;
    }
    Ansi2Unicode(candidate.c_str(), out, outSize);
}

int GetPathDirIndex(const wchar_t* path, int& count) {
    count = 0;
    if (!path) return 0;
    size_t len = std::wcslen(path);
    if (len < 2) return 0;
    for (size_t i = 0; i + 1 < len; ++i)
        if (path[i] == L'/' || path[i] == L'\\') ++count;
    return 0;
}

std::string SanitizeFileName(const char* name) {
    std::wstring w = Ansi2Unicode(name ? name : "");
    for (wchar_t& c : w)
        if (c == L'/') c = L'_';
    if (w.empty() || w == L"." || w == L"..") w = L"unnamed";
    // Names are limited to 255 bytes in UTF-8 on the destination.
    constexpr size_t kMaxBytes = 255;
    if (WideToUtf8(w.c_str()).size() > kMaxBytes) {
        size_t dot = w.rfind(L'.');
        std::wstring ext = (dot != std::wstring::npos && w.size() - dot <= 16) ? w.substr(dot) : std::wstring();
        std::wstring stem = w.substr(0, w.size() - ext.size());
        while (!stem.empty() && WideToUtf8((stem + ext).c_str()).size() > kMaxBytes) stem.pop_back();
        w = stem + ext;
    }
    return Unicode2Ansi(w.c_str());
}

std::wstring SafePathComponent(const char* name) { return Ansi2Unicode(SanitizeFileName(name).c_str()); }
