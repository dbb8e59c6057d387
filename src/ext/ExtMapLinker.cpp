#include "ext/ExtMapLinker.h"

#include "engine/FileNode.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>

namespace {
constexpr uint64_t kDirectBlocks = 12;
constexpr uint64_t kMaxWalkBack = 4096; // blocks searched for a file's direct blocks

void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
void Put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
} // namespace

void ExtPointerMap(const std::vector<uint64_t>& direct, uint64_t single, uint64_t dbl, uint8_t (&block)[60],
                   uint64_t triple) {
    std::fill(std::begin(block), std::end(block), 0);
    for (size_t i = 0; i < direct.size() && i < kDirectBlocks; ++i) Put32(block + 4 * i, uint32_t(direct[i]));
    Put32(block + 48, uint32_t(single));
    Put32(block + 52, uint32_t(dbl));
    Put32(block + 56, uint32_t(triple));
}

namespace {
constexpr size_t kMaxRuns = 8;

std::vector<uint64_t> DirectBlocks(uint64_t thirteenth, const EXT_SUPERBLOCK& sb, const ExtBlockFree& isFree,
                                   const std::set<uint64_t>& claimed, const ExtBlockFree& isFileStart) {
    // Free runs going back from the 13th block, nearest first, each nearest block first.
    std::vector<std::vector<uint64_t>> runs;
    uint64_t total = 0;
    for (uint64_t b = thirteenth, steps = 0; b > sb.nFirstDataBlock + 1 && steps < kMaxWalkBack && runs.size() <= kMaxRuns;
         ++steps) {
        --b;
        if (!isFree(b) || claimed.count(b)) continue;
        if (runs.empty() || runs.back().back() != b + 1) runs.emplace_back();
        runs.back().push_back(b);
        if (++total >= kDirectBlocks * 4) break;
    }
    // Blocks of the runs a mask keeps (the nearest run always), and the run the 12th lies in.
    auto take = [&](unsigned mask, size_t& lastRun) {
        std::vector<uint64_t> out;
        for (size_t r = 0; r < runs.size() && out.size() < kDirectBlocks; ++r)
            if (r == 0 || (mask >> (r - 1)) & 1) {
                lastRun = r;
                for (size_t i = 0; i < runs[r].size() && out.size() < kDirectBlocks; ++i) out.push_back(runs[r][i]);
            }
        return out;
    };
    const unsigned masks = 1u << (runs.empty() ? 0 : std::min(runs.size() - 1, kMaxRuns - 1));
    size_t lastRun = 0;
    std::vector<uint64_t> plain = take(masks - 1, lastRun);
    if (plain.size() < kDirectBlocks || !isFileStart || isFileStart(plain.back())) return plain;
    std::vector<std::pair<unsigned, unsigned>> order;  // skipped runs, mask: fewest skipped first
    for (unsigned mask = 0; mask + 1 < masks; ++mask) {
        std::vector<uint64_t> pick = take(mask, lastRun);
        if (pick.size() < kDirectBlocks || (mask >> lastRun) != 0) continue; // runs past the 12th change nothing
        unsigned skipped = 0;
        for (size_t r = 1; r < lastRun; ++r) skipped += ((mask >> (r - 1)) & 1) ? 0 : 1;
        order.emplace_back(skipped, mask);
    }
    std::sort(order.begin(), order.end());
    for (const auto& o : order) {
        std::vector<uint64_t> pick = take(o.second, lastRun);
        if (isFileStart(pick.back())) return pick;
    }
    return plain;
}
} // namespace

void LinkExtPointerBlocks(const std::map<uint64_t, std::vector<uint32_t>>& pointerBlocks, const EXT_SUPERBLOCK& sb,
                          const ExtBlockFree& isFree, std::vector<EXT_LINKED_FILE>& out,
                          const ExtBlockFree& isFileStart) {
    const uint64_t perBlock = sb.nBlockSize / 4;
    // Level 1 names data; level 2 (double) names level-1 blocks; level 3 (triple) level-2 ones.
    std::map<uint64_t, int> level;
    for (const auto& pb : pointerBlocks) level[pb.first] = 1;
    for (int l = 2; l <= 3; ++l)
        for (const auto& pb : pointerBlocks) {
            bool all = !pb.second.empty();
            for (uint32_t b : pb.second) all = all && b != pb.first && level.count(b) && level.at(b) == l - 1;
            if (all) level[pb.first] = l;
        }
    std::set<uint64_t> underUpper;
    std::map<uint64_t, uint64_t> doubleByFirstData, tripleByFirstData;
    for (const auto& pb : pointerBlocks) {
        const int l = level.at(pb.first);
        if (l < 2) continue;
        underUpper.insert(pb.second.begin(), pb.second.end());
        uint64_t first = pb.first;
        for (int down = l; down > 0; --down) first = pointerBlocks.at(first)[0];
        (l == 2 ? doubleByFirstData : tripleByFirstData).emplace(first, pb.first);
    }
    // The data block where a full upper block's file goes on: after its last data
    // block, past blocks still in use.
    auto continuation = [&](uint64_t upper, int l) -> uint64_t {
        uint64_t b = upper;
        for (int down = l; down > 0; --down) {
            const std::vector<uint32_t>& entries = pointerBlocks.at(b);
            if (entries.size() != perBlock) return 0;
            b = entries.back();
        }
        ++b;
        for (uint64_t steps = 0; b < sb.u64BlockCount && !isFree(b) && steps < kMaxWalkBack; ++steps) ++b;
        return b;
    };
    std::function<uint64_t(uint64_t, int)> dataBlocks = [&](uint64_t block, int l) -> uint64_t {
        if (l == 1) return pointerBlocks.at(block).size();
        uint64_t n = 0;
        for (uint32_t child : pointerBlocks.at(block)) n += dataBlocks(child, l - 1);
        return n;
    };
    // Blocks a found map already names belong to that file, not to a neighbour's
    // direct blocks; files are taken in the order they were laid down, each
    // claiming its direct blocks from those after it.
    std::set<uint64_t> claimed;
    std::vector<std::pair<uint64_t, uint64_t>> singles;  // first data block, single block
    for (const auto& pb : pointerBlocks) {
        claimed.insert(pb.first);
        claimed.insert(pb.second.begin(), pb.second.end());
        if (level.at(pb.first) == 1 && !underUpper.count(pb.first)) singles.emplace_back(pb.second[0], pb.first);
    }
    std::sort(singles.begin(), singles.end());
    for (const auto& entry : singles) {
        const uint64_t single = entry.second;
        const std::vector<uint32_t>& pointers = pointerBlocks.at(single);
        // The 12 direct blocks were laid just before the 13th, which the first
        // pointer names (the pointer blocks themselves go elsewhere), in the free
        // runs before it that no other found map holds; runs of other deleted
        // files may lie between them, so runs are skipped until the first block
        // starts a file.
        std::vector<uint64_t> direct = DirectBlocks(entry.first, sb, isFree, claimed, isFileStart);
        if (direct.size() < kDirectBlocks) continue;
        claimed.insert(direct.begin(), direct.end());
        std::reverse(direct.begin(), direct.end());
        EXT_LINKED_FILE f;
        f.u64MapBlock = single;
        f.u64Blocks = kDirectBlocks + pointers.size();
        // A full single block goes on in a double one whose first data block
        // continues the run where the single block's last one ends; a full double
        // one in a triple one the same way.
        uint64_t dbl = 0, triple = 0;
        auto it = doubleByFirstData.find(continuation(single, 1));
        if (it != doubleByFirstData.end()) {
            dbl = it->second;
            f.u64Blocks += dataBlocks(dbl, 2);
            auto up = tripleByFirstData.find(continuation(dbl, 2));
            if (up != tripleByFirstData.end()) {
                triple = up->second;
                f.u64Blocks += dataBlocks(triple, 3);
            }
        }
        ExtPointerMap(direct, single, dbl, f.Block, triple);
        out.push_back(f);
    }
}

void LinkExtExtentNodes(const std::map<uint64_t, EXT_EXTENT_NODE>& nodes, std::vector<EXT_LINKED_FILE>& out) {
    std::set<uint64_t> referenced;
    for (const auto& n : nodes)
        for (uint64_t c : n.second.Children) referenced.insert(c);
    // Leaves that continue a file: an inode root holds up to four, in logical order.
    std::multimap<uint64_t, uint64_t> leafByStart;
    for (const auto& n : nodes)
        if (!referenced.count(n.first) && n.second.nDepth == 0 && !n.second.Leaves.empty() &&
            n.second.Leaves[0].nLogical != 0)
            leafByStart.emplace(n.second.Leaves[0].nLogical, n.first);
    std::set<uint64_t> taken;
    for (const auto& n : nodes) {
        const EXT_EXTENT_NODE& node = n.second;
        if (referenced.count(n.first)) continue;
        const bool startsFile = node.nDepth == 0 ? !node.Leaves.empty() && node.Leaves[0].nLogical == 0
                                                 : !node.ChildLogical.empty() && node.ChildLogical[0] == 0;
        if (!startsFile) continue;
        EXT_LINKED_FILE f;
        f.bExtents = true;
        f.u64MapBlock = n.first;
        std::vector<std::pair<uint64_t, uint64_t>> entries{{0, n.first}};
        if (node.nDepth == 0) {
            f.u64Blocks = uint64_t(node.Leaves.back().nLogical) + node.Leaves.back().nLength;
            while (entries.size() < 4) {
                // Of the leaves going on where this one ends, the one laid nearest.
                auto range = leafByStart.equal_range(f.u64Blocks);
                uint64_t best = 0, bestGap = ~0ull;
                for (auto it = range.first; it != range.second; ++it) {
                    if (taken.count(it->second)) continue;
                    const uint64_t last = entries.back().second;
                    const uint64_t gap = it->second > last ? it->second - last : last - it->second;
                    if (gap < bestGap) bestGap = gap, best = it->second;
                }
                if (!best) break;
                taken.insert(best);
                entries.emplace_back(f.u64Blocks, best);
                const EXT_EXTENT& tail = nodes.at(best).Leaves.back();
                f.u64Blocks = uint64_t(tail.nLogical) + tail.nLength;
            }
        }
        // An inode root one level above the found nodes, pointing at them.
        Put16(f.Block + 0, kExtExtentMagic);
        Put16(f.Block + 2, uint16_t(entries.size()));
        Put16(f.Block + 4, 4);
        Put16(f.Block + 6, uint16_t(node.nDepth + 1));
        for (size_t i = 0; i < entries.size(); ++i) {
            uint8_t* e = f.Block + 12 + 12 * i;
            Put32(e, uint32_t(entries[i].first));
            Put32(e + 4, uint32_t(entries[i].second));
            Put16(e + 8, uint16_t(entries[i].second >> 32));
        }
        out.push_back(f);
    }
}

void StoreExtMapInNode(_FILE_NODE_& node, const EXT_LINKED_FILE& f) {
    char* tail = node.szFileName + kExtMapInNameOffset;
    std::memset(tail, 0, sizeof node.szFileName - kExtMapInNameOffset);
    node.szFileName[kExtMapInNameOffset - 1] = 0;
    tail[0] = f.bExtents ? 'E' : 'P';
    std::memcpy(tail + 1, f.Block, sizeof f.Block);
}

bool LoadExtMapFromNode(const _FILE_NODE_& node, EXT_INODE& inode) {
    const char* tail = node.szFileName + kExtMapInNameOffset;
    if (tail[0] != 'E' && tail[0] != 'P') return false;
    inode = EXT_INODE();
    inode.nMode = 0x8000;
    inode.nLinks = 1;
    inode.u64Size = node.u64FileSize;
    if (tail[0] == 'E') inode.nFlags = 0x80000;
    std::memcpy(inode.Block, tail + 1, sizeof inode.Block);
    return true;
}
