#include "fat/FatStructures.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <ctime>
#include <initializer_list>

namespace {
// Dates a live file may carry: 1991-05-03 00:38:05 to 2080-01-23 10:24:45 UTC.
constexpr int64_t kEarliestFileTime = 673231085;
constexpr int64_t kLatestFileTime = 3473231085LL;
constexpr int kMaxLongNameOrdinal = 18;
constexpr int kMaxLongNameLookAhead = 18;

uint32_t Le32(const unsigned char* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// Days since 1970 of a FAT date word, out-of-range months and days carried over
// the way mktime normalises them (month 0 is December of the year before).
int64_t FatDateDays(uint16_t dateWord) {
    FAT_DATE d{dateWord};
    int64_t month0 = int64_t(d.Month()) - 1;
    int64_t year = int64_t(d.Year()) + (month0 < 0 ? -1 : month0 / 12);
    month0 = (month0 % 12 + 12) % 12;
    return DaysFromCivil(year, static_cast<unsigned>(month0 + 1), 1) + int64_t(d.Day()) - 1;
}

// Dates a live file may carry, as days: 1991-05-04 to 2080-01-23. Judged on the
// civil date alone: the test runs on every candidate directory sector of a scan.
bool InFileTimeRange(uint16_t dateWord) {
    static const int64_t first = (kEarliestFileTime + 86399) / 86400;
    static const int64_t last = kLatestFileTime / 86400;
    const int64_t days = FatDateDays(dateWord);
    return days >= first && days <= last;
}

// The short-name layout rules of a directory-table entry: printable, no '.',
// blanks only at the end of base and extension, double-byte pairs complete.
bool IsPlausibleShortName(const unsigned char* e) {
    for (int i = 0; i < 11; ++i)
        if (e[i] < 0x20 || e[i] == '.') return false;
    for (int start : {0, 8}) {
        int end = start == 0 ? 8 : 11;
        bool blank = false;
        for (int i = start; i < end; ++i) {
            if (e[i] == ' ') blank = true;
            else if (blank) return false;
        }
    }
    int i = e[0] == FAT_DELETED_MARK ? 1 : 0;
    while (i <= 9) {
        if (e[i] >= 0x80) {
            if (e[i + 1] < 0x80) return false;
            i += 2;
        } else {
            ++i;
        }
    }
    return true;
}
} // namespace

namespace {
// Seconds that local standard time is behind UTC, as mktime applies it to a date
// with tm_isdst = 0. mktime re-reads the time-zone file on every call, so it is
// asked once per time-zone setting, not once per entry.
int64_t StandardOffsetWest() {
    thread_local bool known = false;
    thread_local bool tzSet = false;
    thread_local std::string tz;
    thread_local int64_t west = 0;
    const char* now = std::getenv("TZ");
    if (!known || (now != nullptr) != tzSet || (now && tz != now)) {
        tzSet = now != nullptr;
        tz = now ? now : "";
        struct tm tm;
        std::memset(&tm, 0, sizeof tm);
        tm.tm_year = 100;
        tm.tm_mday = 1;
        tm.tm_isdst = 0;
        west = int64_t(mktime(&tm)) - DaysFromCivil(2000, 1, 1) * 86400;
        known = true;
    }
    return west;
}
} // namespace

int64_t FatDateToUnixTime(uint16_t dateWord) { return FatDateDays(dateWord) * 86400 + StandardOffsetWest(); }

namespace {
void StoreTime(uint16_t dateWord, _FILETIME* out) {
    if (!out) return;
    uint64_t t = uint64_t(FatDateToUnixTime(dateWord));
    out->dwLowDateTime = uint32_t(t);
    out->dwHighDateTime = uint32_t(t >> 32);
}
} // namespace

void Fat32GetFileCreateTime(const FAT32_Entry* entry, _FILETIME* out) {
    if (entry) StoreTime(entry->DIR_CrtDate, out);
}
void Fat32GetFileLastAccessTime(const FAT32_Entry* entry, _FILETIME* out) {
    if (entry) StoreTime(entry->DIR_LstAccDate, out);
}
void Fat32GetFileLastChangeTime(const FAT32_Entry* entry, _FILETIME* out) {
    if (entry) StoreTime(entry->DIR_WrtDate, out);
}

int IsFatFileRecord(const unsigned char* p) {
    if (!p) return 0;
    if (p[0] != '.' || !(p[11] & FAT_ATTR_DIRECTORY) || Le32(p + 28) != 0) return 0;
    if (p[32] != '.' || p[33] != '.' || !(p[43] & FAT_ATTR_DIRECTORY) || Le32(p + 60) != 0) return 0;
    return 1;
}

int IsFatFileRecord(const unsigned char* p, size_t len) {
    return len >= 2 * FAT_ENTRY_BYTES ? IsFatFileRecord(p) : 0;
}

int IsInvalidShortFileName(const char* name11) {
    if (!name11) return 1;
    static const char kForbidden[] = "\\:*?\"<>|.";
    for (int i = 0; i < 11; ++i) {
        unsigned char c = static_cast<unsigned char>(name11[i]);
        if (c < 0x20 || (c >= 'a' && c <= 'z')) return 1;
        if (std::memchr(kForbidden, c, sizeof kForbidden - 1)) return 1;
    }
    return 0;
}

uint8_t GetShortNameCheckSum(const char* name11) {
    uint8_t sum = 0;
    for (int i = 0; i < 11; ++i)
        sum = uint8_t(((sum & 1) ? 0x80 : 0) + (sum >> 1) + static_cast<uint8_t>(name11[i]));
    return sum;
}

int IsFatEntyValid(const FAT32_Entry* entry, size_t bytesAvailable) {
    if (!entry || bytesAvailable < FAT_ENTRY_BYTES) return 0;
    const unsigned char* raw = reinterpret_cast<const unsigned char*>(entry);
    if (IsFatFileRecord(raw, bytesAvailable)) return 1;

    const uint8_t b0 = entry->DIR_Name[0];
    const uint8_t attr = entry->DIR_Attr;
    const bool isDir = (attr & FAT_ATTR_DIRECTORY) != 0;
    const bool isLong = attr == FAT_ATTR_LONG_NAME;
    const bool deleted = b0 == FAT_DELETED_MARK;
    const uint32_t size = entry->DIR_FileSize;

    // Also applied to long-name entries, whose name characters overlay these fields.
    if (!isDir && size == 0 && (entry->DIR_FstClusHI || entry->DIR_FstClusLO)) return 0;
    if (!isLong) {
        if (attr == FAT_ATTR_VOLUME_ID) {
            if (size || entry->DIR_FstClusHI || entry->DIR_FstClusLO) return 0;
        } else if (attr & FAT_ATTR_VOLUME_ID) {
            return 0;
        }
    }
    if (isDir && (attr & FAT_ATTR_READ_ONLY)) return 0;
    if (attr > 63) return 0;
    if (!isLong) {
        if (!deleted && !isDir) {
            if (!InFileTimeRange(entry->DIR_CrtDate) || !InFileTimeRange(entry->DIR_LstAccDate) ||
                !InFileTimeRange(entry->DIR_WrtDate))
                return 0;
        }
        if (attr != FAT_ATTR_VOLUME_ID && IsInvalidShortFileName(reinterpret_cast<const char*>(entry->DIR_Name)))
            return 0;
    }
    if (isLong && !deleted && (b0 & ~FAT_LAST_LONG_ENTRY) > kMaxLongNameOrdinal) return 0;
    if (isDir && !deleted && size != 0) return 0;

    if (isLong) return reinterpret_cast<const FAT_LONG_NAME_ENTRY*>(entry)->LDIR_FstClusLO == 0 ? 1 : 0;
    if (attr == FAT_ATTR_VOLUME_ID || isDir) return 1;
    return (attr & FAT_ATTR_ARCHIVE) ? 1 : 0;
}

int IsFatFDTRecord(const unsigned char* buf, int len) {
    if (!buf || len < int(FAT_ENTRY_BYTES)) return 0;
    const size_t total = size_t(len);
    const size_t count = total / FAT_ENTRY_BYTES;
    size_t accepted = 0;
    for (size_t i = 0; i < count; ++i) {
        const size_t off = i * FAT_ENTRY_BYTES;
        const unsigned char* e = buf + off;
        if (e[0] == 0x00) {
            if (accepted == 0) return 0;
            for (size_t k = off; k < total; ++k)
                if (buf[k] != 0) return 0;
            return 1;
        }
        const FAT32_Entry* entry = reinterpret_cast<const FAT32_Entry*>(e);
        if (!IsFatEntyValid(entry, total - off)) return 0;
        // Repeated patterns (filler, wiped sectors) are not entries.
        if (std::memcmp(e + 1, e + 17, 14) == 0) return 0;

        if (entry->DIR_Attr == FAT_ATTR_LONG_NAME) {
            const uint8_t k = e[13];
            for (int ahead = 1; ahead <= kMaxLongNameLookAhead && i + ahead < count; ++ahead) {
                const size_t nextOff = off + size_t(ahead) * FAT_ENTRY_BYTES;
                const unsigned char* n = buf + nextOff;
                const FAT32_Entry* next = reinterpret_cast<const FAT32_Entry*>(n);
                if (!IsFatEntyValid(next, total - nextOff)) return 0;
                if (next->DIR_Attr == FAT_ATTR_LONG_NAME) {
                    if (n[13] != k) return 0;
                    continue;
                }
                if (n[0] != FAT_DELETED_MARK && GetShortNameCheckSum(reinterpret_cast<const char*>(n)) != k) return 0;
                break;
            }
        } else if (!IsPlausibleShortName(e)) {
            return 0;
        }
        ++accepted;
    }
    return 1;
}

void GetLongNameChars(const FAT_LONG_NAME_ENTRY* entry, uint16_t out[FAT_LONG_NAME_CHARS]) {
    const uint8_t* parts[3] = {entry->LDIR_Name1, entry->LDIR_Name2, entry->LDIR_Name3};
    const int counts[3] = {5, 6, 2};
    int k = 0;
    for (int p = 0; p < 3; ++p)
        for (int c = 0; c < counts[p]; ++c) out[k++] = uint16_t(parts[p][2 * c] | (parts[p][2 * c + 1] << 8));
}
