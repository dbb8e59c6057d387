#pragma once
// The deep pass's reads: the extents of the pass, in order, in blocks of up to
// 1 MiB. With a thread of its own it reads ahead into a small ring of buffers
// while the pass recognises the block before, so a scan costs the slower of
// reading and recognising, not their sum. Blocks come out in the same order
// either way. While it lives, reads through the same reader of sectors the
// ring holds (the pass's length walks) are served from the ring.
#include "platform/CDiskReader.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

struct PassExtent {
    uint64_t start;   // relative to the area
    uint64_t length;  // sectors
};

struct PassBlock {
    size_t extent = 0;             // index into the plan
    uint64_t offset = 0;           // first sector, relative to the extent
    uint32_t count = 0;            // sectors
    bool read = false;             // false: the pass had already moved past it
    std::vector<uint32_t> unreadable;  // sector indexes within the block, zero-filled
    std::vector<unsigned char> data;
};

class CPassReader : private ISectorCache {
public:
    static constexpr uint32_t kBlockSectors = 2048;

    // Reads the extents of plan from firstOffset of the first one on.
    CPassReader(CDiskReader& reader, uint64_t areaStart, std::vector<PassExtent> plan, uint64_t firstOffset,
                bool overlapped);
    ~CPassReader();
    CPassReader(const CPassReader&) = delete;
    CPassReader& operator=(const CPassReader&) = delete;

    // The next block, valid until the next call; null when the plan is done.
    const PassBlock* Next();
    // Where the pass stands: blocks that end at or before it need not be read.
    void PassedTo(size_t extent, uint64_t offset);

private:
    // 16 MiB ahead: a slow source keeps reading while the pass spends a while on
    // one block (a long length walk), instead of waiting on a full ring.
    static constexpr int kRing = 16;
    bool CopySectors(unsigned char* buf, uint64_t sector, uint32_t count) override;
    bool Advance(size_t& extent, uint64_t& offset) const;
    bool Behind(const PassBlock& block) const;
    // Places the block at (extent, offset) and moves them past it; false at the plan's end.
    bool Place(PassBlock& block, size_t& extent, uint64_t& offset) const;
    // Reads the block, unless the pass has already passed it.
    void Fill(PassBlock& block, bool skip);
    void Produce();

    CDiskReader& m_Reader;
    const uint64_t m_AreaStart;
    const std::vector<PassExtent> m_Plan;
    size_t m_NextExtent;
    uint64_t m_NextOffset;
    const bool m_Overlapped;

    std::mutex m_Mutex;
    std::condition_variable m_Changed;
    PassBlock m_Ring[kRing];
    bool m_Ready[kRing] = {};
    bool m_Last[kRing] = {};   // the block after the plan's end
    int m_Consume = 0;          // slot the pass reads next
    int m_Held = -1;            // slot the pass holds
    bool m_Stop = false;
    size_t m_PassExtent = 0;
    uint64_t m_PassOffset = 0;
    std::thread m_Thread;
};
