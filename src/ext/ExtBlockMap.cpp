#include "ext/ExtBlockMap.h"

namespace {
constexpr int kMaxExtentDepth = 5;
constexpr uint64_t kMaxMapBlocks = 1u << 20; // map blocks read for one file, against loops

class RunBuilder {
public:
    RunBuilder(std::vector<EXT_RUN>& runs, uint64_t needed) : m_Runs(runs), m_Needed(needed) {}
    bool Full() const { return m_Covered >= m_Needed; }
    uint64_t Covered() const { return m_Covered; }
    // Places len blocks at logical (holes before it are filled in).
    void Add(uint64_t logical, uint64_t physical, uint64_t len) {
        if (logical < m_Covered || Full()) return; // overlapping or past the end: not trusted
        if (logical > m_Covered) Append(m_Covered, 0, logical - m_Covered);
        Append(logical, physical, len);
    }

private:
    void Append(uint64_t logical, uint64_t physical, uint64_t len) {
        if (logical + len > m_Needed) len = m_Needed - logical;
        if (len == 0) return;
        if (!m_Runs.empty()) {
            EXT_RUN& last = m_Runs.back();
            const bool joinHole = last.u64Physical == 0 && physical == 0;
            const bool joinData = last.u64Physical != 0 && physical == last.u64Physical + last.u64Length;
            if (last.u64Logical + last.u64Length == logical && (joinHole || joinData)) {
                last.u64Length += len;
                m_Covered = logical + len;
                return;
            }
        }
        m_Runs.push_back({logical, physical, len});
        m_Covered = logical + len;
    }
    std::vector<EXT_RUN>& m_Runs;
    uint64_t m_Needed;
    uint64_t m_Covered = 0;
};

struct Walk {
    const EXT_SUPERBLOCK& sb;
    const ExtBlockFetch& fetch;
    RunBuilder& out;
    uint64_t mapBlocks = 0;
    std::vector<uint8_t> buf;

    bool Fetch(uint64_t block) {
        if (++mapBlocks > kMaxMapBlocks || block == 0 || block >= sb.u64BlockCount) return false;
        return fetch(block, buf) && buf.size() >= sb.nBlockSize;
    }

    bool Extents(const ByteView& v, int level) {
        EXT_EXTENT_NODE node;
        if (level > kMaxExtentDepth || !ParseExtExtentNode(v, sb.u64BlockCount, node)) return false;
        for (const EXT_EXTENT& e : node.Leaves) {
            if (out.Full()) return true;
            out.Add(e.nLogical, e.bUninit ? 0 : e.u64Physical, e.nLength);
        }
        for (uint64_t child : node.Children) {
            if (out.Full()) return true;
            if (!Fetch(child)) return false;
            std::vector<uint8_t> copy(buf.begin(), buf.begin() + sb.nBlockSize);
            if (!Extents(ByteView(copy.data(), copy.size()), level + 1)) return false;
        }
        return true;
    }

    // Pointer block at `block` for logical blocks from `logical`, `level` 1..3.
    bool Indirect(uint64_t block, uint64_t& logical, int level) {
        const uint64_t per = sb.nBlockSize / 4;
        uint64_t span = 1;
        for (int i = 1; i < level; ++i) span *= per;
        if (block == 0) { // a hole as large as the whole subtree
            out.Add(logical + span * per, 0, 0);
            logical += span * per;
            return true;
        }
        if (!Fetch(block)) return false;
        std::vector<uint8_t> copy(buf.begin(), buf.begin() + sb.nBlockSize);
        ByteView v(copy.data(), copy.size());
        for (uint64_t i = 0; i < per && !out.Full(); ++i) {
            const uint32_t b = v.le32(i * 4);
            if (b >= sb.u64BlockCount) return false;
            if (level == 1) {
                if (b != 0) out.Add(logical, b, 1);
                ++logical;
            } else if (b == 0) {
                logical += span;
            } else if (!Indirect(b, logical, level - 1)) {
                return false;
            }
        }
        return true;
    }
};
} // namespace

bool ExtInodeHasMap(const EXT_INODE& inode, const EXT_SUPERBLOCK& sb) {
    ByteView v(inode.Block, sizeof inode.Block);
    if (inode.UsesExtents()) {
        EXT_EXTENT_NODE node;
        return ParseExtExtentNode(v, sb.u64BlockCount, node) && (!node.Leaves.empty() || !node.Children.empty());
    }
    if (inode.HasInlineData()) return false;
    for (size_t i = 0; i < 15; ++i)
        if (v.le32(i * 4) != 0) return true;
    return false;
}

uint64_t BuildExtBlockRuns(const EXT_INODE& inode, const EXT_SUPERBLOCK& sb, uint64_t neededBlocks,
                           const ExtBlockFetch& fetch, std::vector<EXT_RUN>& runs) {
    runs.clear();
    RunBuilder out(runs, neededBlocks);
    Walk w{sb, fetch, out, 0, {}};
    ByteView v(inode.Block, sizeof inode.Block);
    if (inode.UsesExtents()) {
        w.Extents(v, 0);
    } else if (!inode.HasInlineData()) {
        uint64_t logical = 0;
        for (size_t i = 0; i < 12 && !out.Full(); ++i, ++logical) {
            const uint32_t b = v.le32(i * 4);
            if (b >= sb.u64BlockCount) return out.Covered();
            if (b != 0) out.Add(logical, b, 1);
        }
        for (int level = 1; level <= 3 && !out.Full(); ++level)
            if (!w.Indirect(v.le32((11 + level) * 4), logical, level)) break;
    }
    // A map that ends inside the file's size leaves a tail of holes: sparse
    // files do end so, and the caller judges whether that is believable.
    return out.Covered();
}
