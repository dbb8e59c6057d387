#pragma once
// Byte helpers shared by the format files: bounded comparisons of a buffer, and
// the file's bytes at any offset for the older rules that look ahead of the
// first sector themselves (the structure walks are handed their bytes instead).
#include "carving/CarveContext.h"
#include "platform/ByteView.h"

#include <cstdint>
#include <cstring>
#include <vector>

constexpr int kMaxSteps = 1 << 20; // a structure of more parts than this is not followed

inline bool Has(const unsigned char* buf, int len, int minLen) { return buf && len >= minLen; }

inline bool At(const unsigned char* buf, int len, int off, const void* s, int n) {
    return off >= 0 && n >= 0 && off + n <= len && std::memcmp(buf + off, s, n) == 0;
}

inline int Bps() { return CarveContext::m_nBytesPerSector > 0 ? CarveContext::m_nBytesPerSector : 512; }

inline uint64_t Be(const unsigned char* p, int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
    return v;
}

// The first 64 KiB of the file when buf is too short for a directory of need bytes.
inline bool HeaderView(unsigned char* buf, int len, size_t need, std::vector<unsigned char>& store, ByteView& view) {
    if (buf && static_cast<size_t>(len) >= need) {
        view = ByteView(buf, len);
        return true;
    }
    if (need > static_cast<size_t>(CarveContext::kReadBufBytes)) return false;
    store.resize(CarveContext::kReadBufBytes);
    int sectors = CarveContext::kReadBufBytes / Bps();
    unsigned got = 0;
    CarveContext::ReadContextSectors(store.data(), sectors, CarveContext::m_u64StartSector, got);
    if (static_cast<size_t>(got) * Bps() < need) return false;
    view = ByteView(store.data(), static_cast<size_t>(got) * Bps());
    return true;
}

// Bytes of the file at any offset: the first sector from buf, the rest from the
// disk through one cached 64 KiB block.
class FileBytes {
public:
    FileBytes(unsigned char* buf, int len) : m_buf(buf), m_len(buf ? len : 0) {}

    bool Read(uint64_t off, unsigned char* out, int n) {
        if (off + n <= static_cast<uint64_t>(m_len)) {
            std::memcpy(out, m_buf + off, n);
            return true;
        }
        const uint64_t block = CarveContext::kReadBufBytes;
        for (int i = 0; i < n; ++i) {
            uint64_t at = off + i;
            if (!m_cached || at < m_blockStart || at >= m_blockStart + m_blockBytes) {
                if (!Load(at / block * block)) return false;
            }
            out[i] = m_block[at - m_blockStart];
        }
        return true;
    }

private:
    bool Load(uint64_t start) {
        m_block.resize(CarveContext::kReadBufBytes);
        unsigned got = 0;
        CarveContext::ReadContextSectors(m_block.data(), CarveContext::kReadBufBytes / Bps(),
                                           CarveContext::m_u64CurrentSector + start / Bps(), got);
        m_cached = got > 0;
        m_blockStart = start;
        m_blockBytes = static_cast<uint64_t>(got) * Bps();
        return m_cached;
    }

    unsigned char* m_buf;
    int m_len;
    std::vector<unsigned char> m_block;
    bool m_cached = false;
    uint64_t m_blockStart = 0, m_blockBytes = 0;
};
