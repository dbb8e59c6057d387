// Ogg: pages ("OggS", version 0, flags, segment table); a page's length is its
// header plus the segments it lists. The file ends after the page that closes
// the last of the streams it began.
#include "carving/formats/CarvedFormat.h"

#include "platform/ByteView.h"

#include <algorithm>
#include <vector>

namespace {
class OggWalk : public RecordWalk {
public:
    OggWalk() { Want(0, 27); }
    uint64_t AtEnd(uint64_t fed) override { return m_pages >= 2 && Next() == fed ? fed : 0; }

protected:
    WalkStep OnHeader(const unsigned char* h, size_t n, uint64_t pos) override {
        ByteView v(h, n);
        if (m_header) {
            if (!v.equals(0, "OggS", 4) || h[4] != 0 || (h[5] & 0xF8)) return Ended(pos);
            m_flags = h[5];
            m_serial = v.le32(14);
            m_header = false;
            Want(pos + 27, h[26]); // the segment table
            if (h[26] == 0) return Page(pos + 27, 0);
            return WalkStep::More();
        }
        uint64_t body = 0;
        for (size_t i = 0; i < n; ++i) body += h[i];
        return Page(pos + n, body);
    }

private:
    WalkStep Page(uint64_t bodyAt, uint64_t body) {
        ++m_pages;
        if (m_flags & 2) m_open.push_back(m_serial);
        if (m_flags & 4) {
            auto it = std::find(m_open.begin(), m_open.end(), m_serial);
            if (it != m_open.end()) m_open.erase(it);
            if (m_open.empty()) return WalkStep::End(bodyAt + body);
        }
        m_header = true;
        Want(bodyAt + body, 27);
        return WalkStep::More();
    }
    WalkStep Ended(uint64_t pos) { return m_pages >= 2 ? WalkStep::End(pos) : WalkStep::Broken(); }
    bool m_header = true;
    unsigned char m_flags = 0;
    uint32_t m_serial = 0;
    uint64_t m_pages = 0;
    std::vector<uint32_t> m_open;
};

const FormatName kOggNames[] = {{"ogg", TYPE_OGG}, {"oga", TYPE_OGG}, {"ogv", TYPE_OGG}, {"opus", TYPE_OGG}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsOggType(unsigned char* buf, int len) {
    // The first page begins a stream and has sequence number 0.
    if (!StartsWith(buf, len, "OggS", 4) || len < 27 || buf[4] != 0 || !(buf[5] & 2)) return TYPE_UNKNOWN;
    return ByteView(buf, static_cast<size_t>(len)).le32(18) == 0 ? TYPE_OGG : TYPE_UNKNOWN;
}

uint64_t FormatRules::GetOGGFileBytesSize(unsigned char* buf, int len) {
    OggWalk walk;
    if (uint64_t end = WalkFile(walk, buf, len, 16 * kGiB)) return end;
    if (m_ErrorCode == RECOVERY_STOPPED) return static_cast<uint64_t>(len);
    return GetDefaultAudioFileBytesSize(buf, len);
}

extern const CarvedFormat kOggFormat;
const CarvedFormat kOggFormat = {kOggNames, 4, &FormatRules::IsOggType, &FormatRules::GetOGGFileBytesSize,
                                 FORMAT_BYTES("OggS"), nullptr, FORMAT_BYTES("O"), -1, 0, true};
