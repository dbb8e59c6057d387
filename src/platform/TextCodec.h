#pragma once
// Conversions between wide strings (32-bit wchar_t) and the program's 8-bit
// code page. The 8-bit code page is GB18030: byte-identical to GB2312 for every
// GB2312 character and able to hold every other one, so no name is lost.
#include <cstddef>
#include <cstdint>
#include <string>

// Narrows src into dst (dstSize bytes with the NUL), cut at a character boundary. Returns 0.
int Unicode2Ansi(const wchar_t* src, char* dst, int dstSize);
std::string Unicode2Ansi(const wchar_t* src);
// Widens src into dst (at most dstSize characters with the NUL). Returns 0.
int Ansi2Unicode(const char* src, wchar_t* dst, int dstSize);
std::wstring Ansi2Unicode(const char* src);

// Working routines: srcLen < 0 means NUL-terminated. Return the result's length.
long inner_uni2str(char* dst, const wchar_t* src, long dstSize, long srcLen);
long inner_str2uni(wchar_t* dst, const char* src, long dstSize, long srcLen);

// Opens the start-up converters between codePage and UTF-16LE. 0 or -1.
int inner_initUnicodeMap(const char* codePage);

// UTF-16LE code units (file-system names) to wide text; unpaired surrogates become U+FFFD.
std::wstring Utf16leToWide(const uint8_t* data, size_t units);
// UTF-16LE code units straight to the 8-bit code page; a name longer than dstSize
// bytes with the NUL is shortened in its middle (ShortenNameToFit).
void Utf16leToAnsi(const uint8_t* data, size_t units, char* dst, size_t dstSize);
// An 8-bit name of more than limit bytes as its start, '~', its end and its
// extension, cut at whole characters; names that fit are returned as they are.
std::string ShortenNameToFit(const std::string& name, size_t limit);
// Wide text to UTF-8 (paths of files to be created) and back.
std::string WideToUtf8(const wchar_t* src);
std::wstring Utf8ToWide(const char* src);
