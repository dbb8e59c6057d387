#include "exfat/ExfatVolume.h"

#include "platform/CDiskReader.h"

#include <algorithm>

namespace {
constexpr uint64_t kFatWindowBytes = 1 << 20;
// Clusters of more than 32 MiB are beyond the format.
constexpr uint32_t kMaxClusterBytes = 32u << 20;
} // namespace

ExfatVolume::ExfatVolume(CDiskReader* reader, uint64_t startSector, const EXFAT_GEOMETRY& g, bool hasFat)
    : m_pReader(reader), m_u64StartSector(startSector), m_Geometry(g), m_bHasFat(hasFat) {}

bool ExfatVolume::FatEntry(uint32_t cluster, uint32_t& next) {
    if (!m_bHasFat || !m_pReader) return false;
    // Counted in 512-byte sectors, as the reader counts.
    const uint64_t bps = 512;
    const uint64_t fatSectors = uint64_t(m_Geometry.nFatLength) * m_Geometry.Scale();
    const uint64_t byte = uint64_t(cluster) * 4;
    if (byte + 4 > fatSectors * bps) return false;
    const uint64_t windowStart = m_u64FatWindowFirst * bps;
    if (m_FatWindow.empty() || byte < windowStart || byte + 4 > windowStart + m_FatWindow.size()) {
        const uint64_t first = byte / bps;
        uint64_t sectors = kFatWindowBytes / bps;
        if (sectors > fatSectors - first) sectors = fatSectors - first;
        const uint64_t abs = m_u64StartSector + uint64_t(m_Geometry.nFatOffset) * m_Geometry.Scale() + first;
        const uint64_t limit = m_pReader->GetSectorLimit();
        if (abs >= limit) return false;
        if (sectors > limit - abs) sectors = limit - abs;
        m_FatWindow.resize(size_t(sectors * bps));
        unsigned got = 0;
        m_pReader->ReadData(m_FatWindow.data(), int(sectors), (long long)abs, int(bps), &got);
        m_FatWindow.resize(size_t(got) * bps);
        m_u64FatWindowFirst = first;
        if (byte + 4 > first * bps + m_FatWindow.size()) return false;
    }
    ByteView view(m_FatWindow.data(), m_FatWindow.size());
    next = view.le32(size_t(byte - m_u64FatWindowFirst * bps));
    return !view.bad();
}

ExfatFatLookup ExfatVolume::FatLookup() {
    if (!m_bHasFat) return ExfatFatLookup();
    return [this](uint32_t c, uint32_t& next) { return FatEntry(c, next); };
}

int ExfatVolume::LoadBitmap(uint32_t firstCluster, uint64_t length) {
    m_Bitmap.clear();
    const uint64_t need = (uint64_t(m_Geometry.nClusterCount) + 7) / 8;
    if (length < need) return 87; // a bitmap too short for the volume is not this volume's
    std::vector<EXFAT_RUN> runs;
    if (ExfatMapRuns(m_Geometry, firstCluster, need, EXFAT_LAYOUT_CHAIN, FatLookup(), Bitmap(), runs) != 0 &&
        ExfatMapRuns(m_Geometry, firstCluster, need, EXFAT_LAYOUT_CONTIGUOUS, FatLookup(), Bitmap(), runs) != 0)
        return 87;
    int rc = ReadRuns(runs, need, m_Bitmap);
    if (rc != 0 || m_Bitmap.size() < need) {
        m_Bitmap.clear();
        return rc ? rc : 30;
    }
    return 0;
}

int ExfatVolume::ReadCluster(uint32_t cluster, unsigned char* buf, uint32_t& bytes) {
    bytes = 0;
    if (!m_pReader || !m_Geometry.IsDataCluster(cluster)) return EXFAT_MAP_SHORT;
    unsigned got = 0;
    int rc = m_pReader->ReadData(buf, int(m_Geometry.nSectorsPerCluster * m_Geometry.Scale()),
                                 (long long)ClusterSector(cluster), 512, &got);
    bytes = got * 512;
    if (got == 0) return rc != 0 ? rc : 30;
    return 0;
}

int ExfatVolume::ReadRuns(const std::vector<EXFAT_RUN>& runs, uint64_t maxBytes, std::vector<uint8_t>& out) {
    out.clear();
    const uint32_t cb = m_Geometry.ClusterBytes();
    if (cb == 0 || cb > kMaxClusterBytes) return 87;
    std::vector<uint8_t> cluster(cb);
    for (const EXFAT_RUN& r : runs) {
        for (uint32_t i = 0; i < r.nCount && out.size() < maxBytes; ++i) {
            uint32_t bytes = 0;
            int rc = ReadCluster(r.nCluster + i, cluster.data(), bytes);
            const uint64_t take = std::min<uint64_t>(bytes, maxBytes - out.size());
            out.insert(out.end(), cluster.begin(), cluster.begin() + std::ptrdiff_t(take));
            if (rc != 0) return rc;
            if (bytes < cb && out.size() < maxBytes) return 30;
        }
    }
    return 0;
}
