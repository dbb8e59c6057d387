// Mail stores (dbx, pst): their signatures; the read-ahead bounds them.
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"
#include "carving/formats/FormatBytes.h"
#include "platform/ByteView.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
const FormatName kDbxNames[] = {{"dbx", TYPE_DBX}};

const FormatName kPstNames[] = {{"pst", TYPE_PST}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsDbxEmailType(unsigned char* buf, int len) {
    static const unsigned char sig[4] = {0xCF, 0xAD, 0x12, 0xFE};
    return Has(buf, len, 16) && At(buf, len, 0, sig, 4) ? TYPE_DBX : TYPE_UNKNOWN;
}

EXTEND_NAME_TYPE FormatRules::IsPstEmailType(unsigned char* buf, int len) {
    return Has(buf, len, 16) && At(buf, len, 0, "!BDN", 4) && At(buf, len, 8, "SM", 2) ? TYPE_PST : TYPE_UNKNOWN;
}

uint64_t FormatRules::GetMailFileBytesSize(unsigned char*, int) { return ReadAhead(0x80000000ull, STOP_AT_ANY_START, nullptr); }

CARVED_FORMAT(Dbx, IsDbxEmailType, &FormatRules::GetMailFileBytesSize, FORMAT_BYTES("\xCF\xAD\x12\xFE"), nullptr, FORMAT_BYTES("\xCF"), -1, 0, true)
CARVED_FORMAT(Pst, IsPstEmailType, &FormatRules::GetMailFileBytesSize, FORMAT_BYTES("!BDN"), nullptr, FORMAT_BYTES("!"), -1, 0, true)
