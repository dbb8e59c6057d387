// 7z: the signature header names where the next (closing) header lies and how
// long it is; its own CRC guards the two numbers.
#include "carving/formats/CarvedFormat.h"

#include "platform/ByteView.h"

namespace {
const unsigned char kSignature[6] = {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C};
const FormatName kSevenZipNames[] = {{"7z", TYPE_7Z}};

// The archive's length from its signature header, 0 when the header fails its CRC.
uint64_t HeaderLength(const unsigned char* buf, int len) {
    if (!StartsWith(buf, len, kSignature, 6) || len < 32) return 0;
    ByteView v(buf, static_cast<size_t>(len));
    if (Crc32(0, buf + 12, 20) != v.le32(8)) return 0;
    uint64_t offset = v.le64(12), size = v.le64(20);
    if (offset > 64 * kGiB || size > kGiB || size == 0) return 0;
    return 32 + offset + size;
}
} // namespace

EXTEND_NAME_TYPE FormatRules::Is7zType(unsigned char* buf, int len) {
    if (!StartsWith(buf, len, kSignature, 6)) return TYPE_UNKNOWN;
    // A full header must carry a valid CRC; a shorter buffer is judged by the signature.
    return len < 32 || HeaderLength(buf, len) ? TYPE_7Z : TYPE_UNKNOWN;
}

uint64_t FormatRules::Get7ZFileBytesSize(unsigned char* buf, int len) { return HeaderLength(buf, len); }

extern const CarvedFormat kSevenZipFormat;
const CarvedFormat kSevenZipFormat = {kSevenZipNames, 1, &FormatRules::Is7zType, &FormatRules::Get7ZFileBytesSize,
                                      FORMAT_BYTES("7z\xBC\xAF\x27\x1C"), nullptr, FORMAT_BYTES("7"), -1, 0, true};
