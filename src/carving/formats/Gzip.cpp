// gzip: a member is inflated to the end of its deflate data; zlib then checks
// the trailer (CRC and size), so the member's length is exact.
#include "carving/formats/CarvedFormat.h"

#include <zlib.h>

namespace {
class GzipWalk : public StructureWalk {
public:
    GzipWalk() { m_ok = inflateInit2(&m_z, 16 + MAX_WBITS) == Z_OK; }
    ~GzipWalk() override {
        if (m_ok) inflateEnd(&m_z);
    }
    WalkStep Feed(const unsigned char* p, size_t len, uint64_t) override {
        if (!m_ok) return WalkStep::Broken();
        m_z.next_in = const_cast<Bytef*>(p);
        m_z.avail_in = static_cast<uInt>(len);
        while (m_z.avail_in > 0) {
            m_z.next_out = m_out;
            m_z.avail_out = sizeof m_out;
            int rc = inflate(&m_z, Z_NO_FLUSH);
            if (rc == Z_STREAM_END) return WalkStep::End(m_z.total_in);
            if (rc != Z_OK && !(rc == Z_BUF_ERROR && m_z.avail_out == 0)) return WalkStep::Broken();
        }
        return WalkStep::More();
    }

private:
    z_stream m_z{};
    bool m_ok = false;
    unsigned char m_out[32768];
};

const FormatName kGzipNames[] = {{"gz", TYPE_GZIP}, {"gzip", TYPE_GZIP}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsGzipType(unsigned char* buf, int len) {
    // Deflate, no reserved flag bits, an extra-flags byte gzip writes, a known OS.
    if (!StartsWith(buf, len, "\x1F\x8B\x08", 3) || len < 10) return TYPE_UNKNOWN;
    if (buf[3] & 0xE0) return TYPE_UNKNOWN;
    if (buf[8] != 0 && buf[8] != 2 && buf[8] != 4) return TYPE_UNKNOWN;
    return buf[9] <= 13 || buf[9] == 255 ? TYPE_GZIP : TYPE_UNKNOWN;
}

uint64_t FormatRules::GetGzipFileBytesSize(unsigned char* buf, int len) {
    GzipWalk walk;
    if (uint64_t end = WalkFile(walk, buf, len, 4 * kGiB)) return end;
    if (m_ErrorCode == RECOVERY_STOPPED) return static_cast<uint64_t>(len);
    return GetDefaultVedioFileBytesSize(buf, len);
}

extern const CarvedFormat kGzipFormat;
const CarvedFormat kGzipFormat = {kGzipNames, 2, &FormatRules::IsGzipType, &FormatRules::GetGzipFileBytesSize,
                                  FORMAT_BYTES("\x1F\x8B"), nullptr, FORMAT_BYTES("\x1F"), -1, 0, true};
