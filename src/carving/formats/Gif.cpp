// GIF: header, logical screen and its colour table, then blocks: images (with
// their own colour table and a chain of data sub-blocks) and extensions (a label
// and sub-blocks), up to the trailer 3B.
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"

namespace {
class GifWalk : public RecordWalk {
public:
    GifWalk() { Want(0, 13); }

protected:
    WalkStep OnHeader(const unsigned char* h, size_t, uint64_t pos) override {
        switch (m_state) {
        case kScreen:
            if (h[0] != 'G' || h[1] != 'I' || h[2] != 'F') return WalkStep::Broken();
            return Block(pos + 13 + Table(h[10]));
        case kBlock:
            if (h[0] == 0x3B) return WalkStep::End(pos + 1);
            if (h[0] == 0x21) {
                m_state = kLabel;
                Want(pos + 1, 1);
            } else if (h[0] == 0x2C) {
                m_state = kImage;
                Want(pos + 1, 9);
            } else {
                return WalkStep::Broken();
            }
            return WalkStep::More();
        case kLabel:
            return SubBlocks(pos + 1);
        case kImage:
            // The colour table, then the LZW code size byte, then sub-blocks.
            return SubBlocks(pos + 9 + Table(h[8]) + 1);
        case kSubBlock:
            if (h[0] == 0) return Block(pos + 1);
            Want(pos + 1 + h[0], 1);
            return WalkStep::More();
        }
        return WalkStep::Broken();
    }

private:
    static uint64_t Table(unsigned char flags) { return (flags & 0x80) ? 3u << ((flags & 7) + 1) : 0; }
    WalkStep Block(uint64_t at) {
        m_state = kBlock;
        Want(at, 1);
        return WalkStep::More();
    }
    WalkStep SubBlocks(uint64_t at) {
        m_state = kSubBlock;
        Want(at, 1);
        return WalkStep::More();
    }
    enum { kScreen, kBlock, kLabel, kImage, kSubBlock } m_state = kScreen;
};

const FormatName kGifNames[] = {{"gif", TYPE_GIF}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsGifType(unsigned char* buf, int len) {
    if (!StartsWith(buf, len, "GIF87a", 6) && !StartsWith(buf, len, "GIF89a", 6)) return TYPE_UNKNOWN;
    // A screen of zero width or height is not a picture.
    if (len >= 10 && ((buf[6] == 0 && buf[7] == 0) || (buf[8] == 0 && buf[9] == 0))) return TYPE_UNKNOWN;
    return TYPE_GIF;
}

uint64_t FormatRules::GetGIFFileBytesSize(unsigned char* buf, int len) {
    GifWalk walk;
    if (uint64_t end = WalkFile(walk, buf, len, 128 * kMiB)) return end;
    if (m_ErrorCode == RECOVERY_STOPPED) return static_cast<uint64_t>(len);
    static const unsigned char trailer[2] = {0x00, 0x3B};
    return MarkerReadAhead(buf, len, trailer, 2, 128 * kMiB);
}

extern const CarvedFormat kGifFormat;
const CarvedFormat kGifFormat = {kGifNames, 1, &FormatRules::IsGifType, &FormatRules::GetGIFFileBytesSize,
                                 FORMAT_BYTES("GIF8"), nullptr, FORMAT_BYTES("G"), -1, 0, true};
