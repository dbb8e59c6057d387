// PNG: the signature, then chunks (length, type, data, CRC of type and data) up
// to IEND. Every CRC is checked, so old data after the file never passes as a chunk.
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"
#include "platform/ByteView.h"

#include <cstring>

namespace {
const unsigned char kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

bool IsChunkType(const unsigned char* t) {
    for (int i = 0; i < 4; ++i) {
        unsigned char c = t[i] & 0xDF;
        if (c < 'A' || c > 'Z') return false;
    }
    return true;
}

class PngWalk : public RecordWalk {
public:
    PngWalk() { Want(0, 8); }

protected:
    WalkStep OnHeader(const unsigned char* h, size_t n, uint64_t pos) override {
        ByteView v(h, n);
        if (pos == 0) {
            if (!v.equals(0, kSignature, 8)) return WalkStep::Broken();
            Want(8, 8);
            return WalkStep::More();
        }
        if (m_inChunk) { // the CRC after a chunk's data
            m_inChunk = false;
            if (v.be32(0) != m_crc) return WalkStep::Broken();
            if (m_end) return WalkStep::End(pos + 4);
            Want(pos + 4, 8);
            return WalkStep::More();
        }
        uint32_t length = v.be32(0);
        if (length > 0x7FFFFFFF || !IsChunkType(h + 4)) return WalkStep::Broken();
        m_crc = Crc32(0, h + 4, 4);
        m_end = v.equals(4, "IEND", 4);
        m_inChunk = true;
        Want(pos + 8 + length, 4, true);
        return WalkStep::More();
    }
    void OnBody(const unsigned char* p, size_t n) override { m_crc = Crc32(m_crc, p, n); }

private:
    bool m_inChunk = false;
    bool m_end = false;
    uint32_t m_crc = 0;
};

const FormatName kPngNames[] = {{"png", TYPE_PNG}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsPngType(unsigned char* buf, int len) {
    // The signature and the header chunk that must follow it.
    if (!StartsWith(buf, len, kSignature, 8)) return TYPE_UNKNOWN;
    if (len >= 16 && std::memcmp(buf + 12, "IHDR", 4) != 0) return TYPE_UNKNOWN;
    return TYPE_PNG;
}

uint64_t FormatRules::GetPNGFileBytesSize(unsigned char* buf, int len) {
    PngWalk walk;
    if (uint64_t end = WalkFile(walk, buf, len, 128 * kMiB)) return end;
    if (m_ErrorCode == RECOVERY_STOPPED) return static_cast<uint64_t>(len);
    static const unsigned char iend[8] = {0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    return MarkerReadAhead(buf, len, iend, 8, 128 * kMiB);
}

extern const CarvedFormat kPngFormat;
const CarvedFormat kPngFormat = {kPngNames, 1, &FormatRules::IsPngType, &FormatRules::GetPNGFileBytesSize,
                                 FORMAT_BYTES("\x89PNG"), nullptr, FORMAT_BYTES("\x89"), -1, 0, true};
