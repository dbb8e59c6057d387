#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"

#include <algorithm>
#include <cstring>

bool StartsWith(const unsigned char* buf, int len, const void* s, int n) {
    return buf && len >= n && std::memcmp(buf, s, static_cast<size_t>(n)) == 0;
}

void RecordWalk::Want(uint64_t pos, size_t n, bool body) {
    m_pos = pos;
    m_want = std::min(n, kMaxHeader);
    m_have = 0;
    m_body = body;
}

WalkStep RecordWalk::Feed(const unsigned char* p, size_t len, uint64_t offset) {
    const uint64_t end = offset + len;
    for (;;) {
        if (m_body && m_bodyFrom < m_pos) {
            if (m_bodyFrom < offset) return WalkStep::Broken(); // bytes it needed were skipped
            uint64_t to = std::min(m_pos, end);
            if (to > m_bodyFrom) OnBody(p + (m_bodyFrom - offset), static_cast<size_t>(to - m_bodyFrom));
            m_bodyFrom = std::max(m_bodyFrom, to);
            if (m_bodyFrom < m_pos) return WalkStep::More(end);
        }
        uint64_t at = m_pos + m_have;
        if (at >= end) return WalkStep::More(at);
        if (at < offset) return WalkStep::Broken();
        size_t n = static_cast<size_t>(std::min<uint64_t>(m_want - m_have, end - at));
        std::memcpy(m_head + m_have, p + (at - offset), n);
        m_have += n;
        if (m_have < m_want) return WalkStep::More(end);
        const uint64_t pos = m_pos;
        const size_t want = m_want;
        m_bodyFrom = pos + want;
        WalkStep s = OnHeader(m_head, want, pos);
        if (s.kind != WalkStep::NeedMore) return s;
        if (m_pos < pos || (m_pos == pos && m_want <= want)) return WalkStep::Broken(); // no progress
    }
}

WalkStep ScanWalk::Feed(const unsigned char* p, size_t len, uint64_t offset) {
    if (!m_carry.empty() && m_carryAt + m_carry.size() != offset) m_carry.clear();
    const uint64_t base = m_carry.empty() ? offset : m_carryAt;
    m_carry.insert(m_carry.end(), p, p + len);
    const unsigned char* buf = m_carry.data();
    const size_t size = m_carry.size(), pat = m_pattern.size();
    size_t from = 0, keep = size >= pat ? size - pat + 1 : 0;
    while (from + pat <= size) {
        const void* hit = ::memmem(buf + from, size - from, m_pattern.data(), pat);
        if (!hit) break;
        size_t i = static_cast<size_t>(static_cast<const unsigned char*>(hit) - buf);
        if (i + pat + m_after > size) {
            keep = i;
            break;
        }
        WalkStep s = OnHit(buf + i, size - i, base + i);
        if (s.kind != WalkStep::NeedMore) return s;
        from = i + 1;
    }
    m_carry.erase(m_carry.begin(), m_carry.begin() + static_cast<std::ptrdiff_t>(keep));
    m_carryAt = base + keep;
    return WalkStep::More(offset + len);
}

uint64_t WalkFile(StructureWalk& walk, const unsigned char* head, int headLen, uint64_t cap) {
    if (!head || headLen <= 0) return 0;
    const int bps = FormatRules::m_nBytesPerSector > 0 ? FormatRules::m_nBytesPerSector : 512;
    const uint64_t start = FormatRules::m_u64StartSector;
    const uint64_t area = FormatRules::SectorsLeftFrom(start) * static_cast<uint64_t>(bps);
    const uint64_t limit = std::min(cap, std::max<uint64_t>(area, static_cast<uint64_t>(headLen)));
    const int windowSectors = std::max(1, FormatRules::kReadBufBytes / bps);
    unsigned char* window = FormatRules::ReadBuf();
    uint64_t running = FormatRules::m_u64ScanSectorCount;

    uint64_t fed = std::min<uint64_t>(static_cast<uint64_t>(headLen), limit);
    WalkStep s = walk.Feed(head, static_cast<size_t>(fed), 0);
    for (;;) {
        if (s.kind == WalkStep::Ends) return s.at > 0 && s.at <= limit ? s.at : 0;
        if (s.kind == WalkStep::NotThis) return 0;
        const uint64_t next = std::max(fed, s.at);
        if (next >= limit) {
            uint64_t e = walk.AtEnd(std::min(next, limit));
            return e <= limit ? e : 0;
        }
        const uint64_t skip = next % bps;
        const uint64_t sectorsLeft = (limit - next + skip + bps - 1) / bps;
        const int want = static_cast<int>(std::min<uint64_t>(windowSectors, sectorsLeft));
        unsigned got = 0;
        FormatRules::ReadContextSectors(window, want, start + next / bps, got);
        if (got == 0 || static_cast<uint64_t>(got) * bps <= skip) return walk.AtEnd(next);
        running += got;
        if (!ReadAheadProgress(running)) return 0;
        uint64_t bytes = std::min<uint64_t>(static_cast<uint64_t>(got) * bps - skip, limit - next);
        s = walk.Feed(window + skip, static_cast<size_t>(bytes), next);
        fed = next + bytes;
    }
}
