// The deep NTFS engine's part of the deep pass.
#include "ntfs/CProfessionalNtfsRecovery.h"

#include "disk/VolumeRecognizers.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr unsigned kRecordBytes = 1024;
constexpr int kRecordReadBytes = 8192;
constexpr int kSectorBytes = 512;
} // namespace

int CProfessionalNtfsRecovery::OfferSector(const DeepSector& s, uint64_t& used, uint64_t&) {
    used = 1;
    if (!IsNtfsFileRecord(s.data, kRecordBytes)) return 0;
    // The record parser gets a private, zero-padded copy: it fixes records up in place.
    m_OfferedRecord.assign(kRecordReadBytes, 0);
    if (s.available >= kRecordBytes) {
        std::memcpy(m_OfferedRecord.data(), s.data, std::min<size_t>(s.available, kRecordReadBytes));
    } else {
        unsigned got = 0;
        int count = kRecordReadBytes / kSectorBytes;
        uint64_t limit = s.reader ? s.reader->GetSectorLimit() : 0;
        if (s.absolute + count > limit) count = static_cast<int>(limit > s.absolute ? limit - s.absolute : 0);
        if (count <= 0 ||
            s.reader->ReadData(m_OfferedRecord.data(), count, static_cast<long long>(s.absolute), kSectorBytes, &got) != 0)
            std::memcpy(m_OfferedRecord.data(), s.data, s.available);
    }
    ParseNtfsFileRecord(m_OfferedRecord.data(), s.absolute);
    return 1;
}

int CProfessionalNtfsRecovery::GetFileDataStartSector(_FILE_NODE_* node, uint64_t& absoluteSector) {
    if (!node) return 87;
    std::vector<__RUNLIST__> runs;
    if (GetRunListInfo(static_cast<long long>(node->u64RecordSector), NTFS_ATTR_DATA, runs) != 0) return 1;
    return NtfsFirstDataSector(runs, node->nClusterBytes, node->u64PartitionStartSector, absoluteSector) ? 0 : 1;
}
