// BMP: "BM", the file size, the pixel array's offset and a DIB header of one of
// the sizes the Windows and OS/2 versions define. The size field is checked
// against the pixel array it must hold.
#include "carving/formats/CarvedFormat.h"

#include "platform/ByteView.h"

#include <algorithm>

namespace {
bool KnownDibSize(uint32_t n) {
    static const uint32_t kSizes[] = {12, 16, 40, 52, 56, 64, 108, 124};
    return std::find(std::begin(kSizes), std::end(kSizes), n) != std::end(kSizes);
}

struct BmpHeader {
    uint32_t fileSize, pixelOffset, dib, compression;
    int64_t width, height;
    unsigned planes, bits;
};

bool Parse(const unsigned char* buf, int len, BmpHeader& h) {
    if (!StartsWith(buf, len, "BM", 2) || len < 30) return false;
    ByteView v(buf, static_cast<size_t>(len));
    h.fileSize = v.le32(2);
    h.pixelOffset = v.le32(10);
    h.dib = v.le32(14);
    if (!KnownDibSize(h.dib)) return false;
    if (h.dib == 12) {
        h.width = v.le16(18), h.height = v.le16(20), h.planes = v.le16(22), h.bits = v.le16(24), h.compression = 0;
    } else {
        h.width = static_cast<int32_t>(v.le32(18)), h.height = static_cast<int32_t>(v.le32(22));
        h.planes = v.le16(26), h.bits = v.le16(28), h.compression = h.dib >= 40 ? v.le32(30) : 0;
    }
    static const unsigned kBits[] = {1, 2, 4, 8, 16, 24, 32, 64};
    if (h.planes != 1 || std::find(std::begin(kBits), std::end(kBits), h.bits) == std::end(kBits)) return false;
    if (h.width <= 0 || h.height == 0 || h.pixelOffset < 14 + h.dib) return false;
    return h.fileSize == 0 || h.fileSize > h.pixelOffset;
}

const FormatName kBmpNames[] = {{"bmp", TYPE_BMP}, {"dib", TYPE_BMP}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsBmpType(unsigned char* buf, int len) {
    BmpHeader h;
    return Parse(buf, len, h) ? TYPE_BMP : TYPE_UNKNOWN;
}

uint64_t FormatRules::GetBMPFileBytesSize(unsigned char* buf, int len) {
    BmpHeader h;
    if (!Parse(buf, len, h)) return 0;
    const uint64_t cap = 1 * kGiB;
    // Uncompressed rows are padded to four bytes; a size field short of them is wrong.
    uint64_t pixels = 0;
    if (h.compression == 0 || h.compression == 3 || h.compression == 6) {
        uint64_t stride = (static_cast<uint64_t>(h.width) * h.bits + 31) / 32 * 4;
        pixels = stride * static_cast<uint64_t>(h.height < 0 ? -h.height : h.height);
    }
    uint64_t length = std::max<uint64_t>(h.fileSize, h.pixelOffset + pixels);
    return std::min(length, cap);
}

extern const CarvedFormat kBmpFormat;
const CarvedFormat kBmpFormat = {kBmpNames, 2, &FormatRules::IsBmpType, &FormatRules::GetBMPFileBytesSize,
                                 FORMAT_BYTES("BM"), nullptr, FORMAT_BYTES("B"), -1, 0, true};
