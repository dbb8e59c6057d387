#pragma once
// The sectors of a deep pass that metadata engines took note of, in pass order.
// Their state lives in memory until the pass ends, so a resumed pass offers these
// sectors to them again, instead of reading the whole scanned part once more.
#include <cstdint>
#include <string>
#include <vector>

class OfferJournal {
public:
    ~OfferJournal();
    // Opens (creating) the journal of a scan's log folder, keeping only the sectors
    // before `keepBelow` (those after it are offered again by the pass itself).
    bool Open(const std::string& logDir, uint64_t keepBelow);
    void Close();
    // Two engines may note one sector; it is offered again once.
    void Note(uint64_t sector) {
        if (m_fd >= 0 && (m_Pending.empty() || m_Pending.back() != sector)) m_Pending.push_back(sector);
    }
    // Writes what was noted and syncs it: a checkpoint's position may then cover it.
    int Sync();
    // The sectors kept when it was opened, ascending.
    const std::vector<uint64_t>& Kept() const { return m_Kept; }

    static constexpr const char* kFileName = "deep-offers";

private:
    int m_fd = -1;
    std::vector<uint64_t> m_Kept;
    std::vector<uint64_t> m_Pending;
};
