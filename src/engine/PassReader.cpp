#include "engine/PassReader.h"

#include <algorithm>
#include <utility>

CPassReader::CPassReader(CDiskReader& reader, uint64_t areaStart, std::vector<PassExtent> plan, uint64_t firstOffset,
                         bool overlapped)
    : m_Reader(reader), m_AreaStart(areaStart), m_Plan(std::move(plan)), m_NextExtent(0), m_NextOffset(firstOffset),
      m_Overlapped(overlapped) {
    m_PassOffset = firstOffset;
    for (PassBlock& block : m_Ring) block.data.resize(size_t(kBlockSectors) * 512);
    if (m_Overlapped) m_Thread = std::thread([this] { Produce(); });
    m_Reader.SetSectorCache(this);
}

CPassReader::~CPassReader() {
    m_Reader.SetSectorCache(nullptr);
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Stop = true;
    }
    m_Changed.notify_all();
    if (m_Thread.joinable()) m_Thread.join();
}

// The position of the next block to read; false when the plan is done.
bool CPassReader::Advance(size_t& extent, uint64_t& offset) const {
    while (extent < m_Plan.size() && offset >= m_Plan[extent].length) {
        ++extent;
        offset = 0;
    }
    return extent < m_Plan.size();
}

bool CPassReader::Behind(const PassBlock& block) const {
    if (block.extent != m_PassExtent) return block.extent < m_PassExtent;
    return block.offset + block.count <= m_PassOffset;
}

bool CPassReader::Place(PassBlock& block, size_t& extent, uint64_t& offset) const {
    if (!Advance(extent, offset)) return false;
    block.extent = extent;
    block.offset = offset;
    block.count = static_cast<uint32_t>(std::min<uint64_t>(kBlockSectors, m_Plan[extent].length - offset));
    offset += block.count;
    return true;
}

void CPassReader::Fill(PassBlock& block, bool skip) {
    block.unreadable.clear();
    block.read = false;
    if (skip) return;
    const PassExtent& e = m_Plan[block.extent];
    if (m_Reader.ReadSkippingBadSectors(block.data.data(), static_cast<int>(block.count),
                                        static_cast<long long>(m_AreaStart + e.start + block.offset), 512,
                                        &block.unreadable) != 0) {
        // Outside the reader's bounds: nothing of it can be read.
        std::fill(block.data.begin(), block.data.begin() + size_t(block.count) * 512, 0);
        block.unreadable.clear();
        for (uint32_t i = 0; i < block.count; ++i) block.unreadable.push_back(i);
    }
    block.read = true;
}

void CPassReader::Produce() {
    int slot = 0;
    size_t extent = m_NextExtent;
    uint64_t offset = m_NextOffset;
    for (;;) {
        std::unique_lock<std::mutex> lock(m_Mutex);
        m_Changed.wait(lock, [&] { return m_Stop || (!m_Ready[slot] && slot != m_Held); });
        if (m_Stop) return;
        PassBlock& block = m_Ring[slot];
        if (!Place(block, extent, offset)) {
            m_Last[slot] = true;
            m_Ready[slot] = true;
            m_Changed.notify_all();
            return;
        }
        const bool skip = Behind(block);
        lock.unlock();
        Fill(block, skip);
        lock.lock();
        m_Ready[slot] = true;
        m_Changed.notify_all();
        slot = (slot + 1) % kRing;
    }
}

const PassBlock* CPassReader::Next() {
    if (!m_Overlapped) {
        PassBlock& block = m_Ring[0];
        if (!Place(block, m_NextExtent, m_NextOffset)) return nullptr;
        Fill(block, Behind(block));
        return &block;
    }
    std::unique_lock<std::mutex> lock(m_Mutex);
    if (m_Held >= 0) {
        m_Ready[m_Held] = false;
        m_Held = -1;
        m_Changed.notify_all();
    }
    m_Changed.wait(lock, [&] { return m_Ready[m_Consume]; });
    if (m_Last[m_Consume]) return nullptr;
    m_Held = m_Consume;
    m_Consume = (m_Consume + 1) % kRing;
    return &m_Ring[m_Held];
}

// Under the lock: a ready slot is rewritten only after the pass lets it go,
// which it does under the same lock. Serial reads hold their one block in slot 0
// (empty until the first one).
bool CPassReader::CopySectors(unsigned char* buf, uint64_t sector, uint32_t count) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    while (count > 0) {
        const PassBlock* from = nullptr;
        uint64_t first = 0;
        for (int slot = 0; slot < kRing && !from; ++slot) {
            const bool held = m_Overlapped ? m_Ready[slot] && !m_Last[slot] : slot == 0;
            const PassBlock& b = m_Ring[slot];
            if (!held || !b.read || !b.unreadable.empty()) continue;
            first = m_AreaStart + m_Plan[b.extent].start + b.offset;
            if (sector >= first && sector < first + b.count) from = &b;
        }
        if (!from) return false;
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(count, first + from->count - sector));
        std::copy_n(from->data.data() + (sector - first) * 512, size_t(n) * 512, buf);
        buf += size_t(n) * 512;
        sector += n;
        count -= n;
    }
    return true;
}

void CPassReader::PassedTo(size_t extent, uint64_t offset) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_PassExtent = extent;
    m_PassOffset = offset;
}
