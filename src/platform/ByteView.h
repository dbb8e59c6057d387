#pragma once
// Bounds-checked view over bytes read from a disk. Every on-disk structure is
// parsed through it: an out-of-range read yields 0 and marks the view bad, so a
// malformed unit can be detected and skipped instead of read out of bounds.
#include <cstddef>
#include <cstdint>
#include <cstring>

class ByteView {
public:
    ByteView() = default;
    ByteView(const void* data, size_t size) : m_p(static_cast<const uint8_t*>(data)), m_n(size) {}

    const uint8_t* data() const { return m_p; }
    size_t size() const { return m_n; }
    bool empty() const { return m_n == 0; }
    // True once any accessor was asked for bytes outside the view.
    bool bad() const { return m_bad; }
    void clearBad() const { m_bad = false; }

    bool has(size_t off, size_t len) const { return off <= m_n && len <= m_n - off; }

    uint8_t u8(size_t off) const { return has(off, 1) ? m_p[off] : fail<uint8_t>(); }
    uint16_t le16(size_t off) const { return has(off, 2) ? uint16_t(m_p[off] | (m_p[off + 1] << 8)) : fail<uint16_t>(); }
    uint32_t le32(size_t off) const {
        if (!has(off, 4)) return fail<uint32_t>();
        return uint32_t(m_p[off]) | (uint32_t(m_p[off + 1]) << 8) | (uint32_t(m_p[off + 2]) << 16) | (uint32_t(m_p[off + 3]) << 24);
    }
    uint64_t le64(size_t off) const {
        if (!has(off, 8)) return fail<uint64_t>();
        return uint64_t(le32(off)) | (uint64_t(le32(off + 4)) << 32);
    }
    uint16_t be16(size_t off) const { return has(off, 2) ? uint16_t((m_p[off] << 8) | m_p[off + 1]) : fail<uint16_t>(); }
    uint32_t be32(size_t off) const {
        if (!has(off, 4)) return fail<uint32_t>();
        return (uint32_t(m_p[off]) << 24) | (uint32_t(m_p[off + 1]) << 16) | (uint32_t(m_p[off + 2]) << 8) | uint32_t(m_p[off + 3]);
    }
    uint64_t be64(size_t off) const {
        if (!has(off, 8)) return fail<uint64_t>();
        return (uint64_t(be32(off)) << 32) | uint64_t(be32(off + 4));
    }
    // Little-endian unsigned integer of 1 to 8 bytes (NTFS runlists use odd widths).
    uint64_t leN(size_t off, unsigned width) const {
        if (width > 8 || !has(off, width)) return fail<uint64_t>();
        uint64_t v = 0;
        for (unsigned i = 0; i < width; ++i) v |= uint64_t(m_p[off + i]) << (8 * i);
        return v;
    }
    // Sign-extended little-endian integer of 1 to 8 bytes.
    int64_t leSignedN(size_t off, unsigned width) const {
        if (width == 0) return 0;
        uint64_t v = leN(off, width);
        if (width < 8 && (v >> (8 * width - 1)) & 1) v |= ~uint64_t(0) << (8 * width);
        return int64_t(v);
    }

    // Pointer to len bytes at off, or nullptr (and bad) when they are not all inside.
    const uint8_t* ptr(size_t off, size_t len) const { return has(off, len) ? m_p + off : fail<const uint8_t*>(); }
    // The sub-range [off, off+len), clipped to the view; bad when clipping was needed.
    ByteView sub(size_t off, size_t len) const {
        if (has(off, len)) return ByteView(m_p + off, len);
        m_bad = true;
        if (off >= m_n) return ByteView();
        return ByteView(m_p + off, m_n - off);
    }
    ByteView from(size_t off) const { return off <= m_n ? ByteView(m_p + off, m_n - off) : (m_bad = true, ByteView()); }
    // True when the bytes at off equal the len bytes of s.
    bool equals(size_t off, const void* s, size_t len) const { return has(off, len) && std::memcmp(m_p + off, s, len) == 0; }
    bool copy(size_t off, void* dst, size_t len) const {
        if (!has(off, len)) { m_bad = true; return false; }
        std::memcpy(dst, m_p + off, len);
        return true;
    }

private:
    template <typename T> T fail() const { m_bad = true; return T(); }
    const uint8_t* m_p = nullptr;
    size_t m_n = 0;
    mutable bool m_bad = false;
};
