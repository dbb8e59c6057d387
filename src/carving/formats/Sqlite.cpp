// SQLite databases: page size times page count.
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"
#include "carving/formats/FormatBytes.h"
#include "platform/ByteView.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
const FormatName kSqliteNames[] = {{"db", TYPE_DB}, {"sqlite", TYPE_DB}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsSqlType(unsigned char* buf, int len) {
    return Has(buf, len, 16) && At(buf, len, 0, "SQLite format 3", 16) ? TYPE_DB : TYPE_UNKNOWN;
}

uint64_t SqliteEnd(unsigned char* buf, int len) {
    ByteView v(buf, len);
    if (len < 100) return 0;
    uint64_t pageSize = v.be16(16) == 1 ? 65536 : v.be16(16);
    if (pageSize < 512 || (pageSize & (pageSize - 1))) return 0;
    uint64_t pages = v.be32(28);
    // The page count is valid only when written by the same change as the counter.
    if (!pages || v.be32(92) != v.be32(24)) return 0;
    return pageSize * pages;
}

uint64_t FormatRules::GetDBFileBytesSize(unsigned char* buf, int len) {
    if (uint64_t end = SqliteEnd(buf, len)) return end;
    return ReadAheadToStructuralEnd(SqliteEnd(buf, len), 0x180000000ull, STOP_AT_ANY_START, nullptr);
}

CARVED_FORMAT(Sqlite, IsSqlType, &FormatRules::GetDBFileBytesSize, FORMAT_BYTES("SQLite format 3"), nullptr, FORMAT_BYTES("S"), -1, 0, true)
