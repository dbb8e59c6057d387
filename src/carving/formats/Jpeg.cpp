// JPEG: FF D8, then marker segments; entropy-coded data after each start of scan
// runs to the next marker that is neither stuffing (FF 00) nor a restart (RSTn).
// The file ends at its EOI. An Exif thumbnail lies inside the APP1 segment, so
// skipping segments by their length never takes the thumbnail's EOI for the end.
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"
#include "platform/ByteView.h"

#include <cstring>

namespace {
bool IsSof(unsigned char m) { return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC; }

// Markers a baseline or progressive file may open with after SOI.
bool MayOpen(unsigned char m) { return (m >= 0xE0 && m <= 0xEF) || m == 0xDB || m == 0xC4 || m == 0xFE || m == 0xDD || IsSof(m); }

class JpegWalk : public StructureWalk {
public:
    WalkStep Feed(const unsigned char* p, size_t len, uint64_t offset) override {
        if (m_next < offset) return WalkStep::Broken();
        size_t i = static_cast<size_t>(m_next - offset);
        while (i < len) {
            switch (m_state) {
            case kSoi:
                if (p[i] != (offset + i == 0 ? 0xFF : 0xD8)) return WalkStep::Broken();
                if (offset + i == 1) m_state = kFf;
                break;
            case kFf:
                if (p[i] != 0xFF) return WalkStep::Broken();
                m_state = kCode;
                break;
            case kCode: {
                unsigned char c = p[i];
                if (c == 0xFF) break; // fill bytes
                if (c == 0xD9) return WalkStep::End(offset + i + 1);
                if (c == 0x00 || c == 0xD8) return WalkStep::Broken();
                if ((c >= 0xD0 && c <= 0xD7) || c == 0x01) {
                    m_state = m_inScan ? kEntropy : kFf;
                    break;
                }
                m_marker = c;
                m_state = kLen1;
                break;
            }
            case kLen1:
                m_len = p[i] << 8;
                m_state = kLen2;
                break;
            case kLen2: {
                m_len |= p[i];
                if (m_len < 2) return WalkStep::Broken();
                m_inScan = m_marker == 0xDA;
                m_state = m_inScan ? kEntropy : kFf;
                uint64_t next = offset + i + 1 + (m_len - 2);
                if (next > offset + len) {
                    m_next = next;
                    return WalkStep::More(next);
                }
                i = static_cast<size_t>(next - offset);
                continue;
            }
            case kEntropy: {
                const void* ff = std::memchr(p + i, 0xFF, len - i);
                if (!ff) {
                    i = len;
                    continue;
                }
                i = static_cast<size_t>(static_cast<const unsigned char*>(ff) - p);
                m_state = kEntropyFf;
                break;
            }
            case kEntropyFf: {
                unsigned char c = p[i];
                if (c == 0x00 || (c >= 0xD0 && c <= 0xD7)) m_state = kEntropy;
                else if (c != 0xFF) {
                    m_state = kCode;
                    continue; // the same byte as a marker code
                }
                break;
            }
            }
            ++i;
        }
        m_next = offset + len;
        return WalkStep::More(m_next);
    }

private:
    enum State { kSoi, kFf, kCode, kLen1, kLen2, kEntropy, kEntropyFf } m_state = kSoi;
    uint64_t m_next = 0;
    unsigned char m_marker = 0;
    unsigned m_len = 0;
    bool m_inScan = false;
};

const FormatName kJpegNames[] = {{"jpg", TYPE_JPG}, {"jpeg", TYPE_JPG}, {"jpe", TYPE_JPG}, {"jfif", TYPE_JPG}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsJpgType(unsigned char* buf, int len) {
    if (!buf || len < 6 || buf[0] != 0xFF || buf[1] != 0xD8 || buf[2] != 0xFF || !MayOpen(buf[3])) return TYPE_UNKNOWN;
    ByteView v(buf, static_cast<size_t>(len));
    unsigned segment = v.be16(4);
    if (segment < 2 || (buf[3] == 0xDD && segment != 4) || (IsSof(buf[3]) && segment < 8)) return TYPE_UNKNOWN;
    // The next marker, when this sector shows it, follows the first segment.
    size_t next = 4 + static_cast<size_t>(segment);
    if (next < static_cast<size_t>(len) && buf[next] != 0xFF) return TYPE_UNKNOWN;
    return TYPE_JPG;
}

uint64_t FormatRules::GetJPGFileBytesSize(unsigned char* buf, int len) {
    JpegWalk walk;
    if (uint64_t end = WalkFile(walk, buf, len, 128 * kMiB)) return end;
    if (m_ErrorCode == RECOVERY_STOPPED) return static_cast<uint64_t>(len);
    // A broken scan: the end-marker rule bounds what is left.
    static const unsigned char eoi[2] = {0xFF, 0xD9};
    return MarkerReadAhead(buf, len, eoi, 2, 128 * kMiB);
}

extern const CarvedFormat kJpegFormat;
const CarvedFormat kJpegFormat = {kJpegNames, 4, &FormatRules::IsJpgType, &FormatRules::GetJPGFileBytesSize,
                                  FORMAT_BYTES("\xFF\xD8\xFF"), nullptr, FORMAT_BYTES("\xFF"), -1, 0, true};
