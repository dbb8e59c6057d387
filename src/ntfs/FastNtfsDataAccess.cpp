// File data of the quick NTFS engine: preview, save and data health.
#include "ntfs/CFastNtfsRecovery.h"
#include "ntfs/NtfsRecordAccess.h"

#include "carving/CFileTypeJudge.h"
#include "engine/CScanResultFileManager.h"
#include "engine/FileCategories.h"
#include "engine/FolderSave.h"
#include "platform/DeviceMap.h"
#include "platform/PathHelpers.h"
#include "platform/Portability.h"
#include "platform/TextCodec.h"
#include "platform/TextHelpers.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cwchar>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr size_t kPieceBytes = 64 * 1024;
constexpr size_t kTmpPathChars = 256;

} // namespace

// Where copied bytes go, and whom to tell about progress.
struct CFastNtfsRecovery::CopyTarget {
    int fd = -1;                       // file mode
    unsigned char* buffer = nullptr;   // buffer mode
    size_t filled = 0;
    PreViewCallBack previewCb = nullptr;
    void* previewParam = nullptr;
    bool save = false;                 // progress through the recovery callback
    wchar_t* path = nullptr;
};

int CFastNtfsRecovery::CopyRunData(const _FILE_NODE_& node, const std::vector<__RUNLIST__>& runs, uint64_t amount,
                                   CopyTarget& target) {
    const uint64_t bps = static_cast<uint64_t>(m_nBytesPerSector);
    const uint64_t clusterBytes = node.nClusterBytes;
    if (clusterBytes == 0 || clusterBytes == 0xFFFFFFFF || clusterBytes % bps != 0) return 87;
    const uint64_t sectorsPerCluster = clusterBytes / bps;
    std::vector<unsigned char> work(kPieceBytes);
    uint64_t remaining = amount;
    int64_t cluster = 0;
    for (const __RUNLIST__& run : runs) {
        if (remaining == 0) break;
        cluster += run.n64RunOffset;
        const bool sparse = IsSparseRun(run);
        if (!sparse && cluster < 0) return 87;
        const uint64_t runBytes = run.u64RunLength * clusterBytes;
        const uint64_t firstSector = node.u64PartitionStartSector + static_cast<uint64_t>(cluster) * sectorsPerCluster;
        for (uint64_t offset = 0; offset < runBytes && remaining > 0;) {
            const size_t piece = static_cast<size_t>(std::min<uint64_t>(kPieceBytes, runBytes - offset));
            size_t got = piece;
            if (sparse) {
                // A hole reads as zeros; its "clusters" are not the previous run's.
                std::memset(work.data(), 0, piece);
            } else {
                unsigned sectors = 0;
                int rc = m_DiskReader.ReadData(work.data(), static_cast<int>(piece / bps),
                                               static_cast<long long>(firstSector + offset / bps), m_nBytesPerSector,
                                               &sectors);
                if (sectors == 0) return rc != 0 ? rc : 30;
                got = sectors * bps;
            }
            const size_t use = static_cast<size_t>(std::min<uint64_t>(got, remaining));
            if (target.fd >= 0) {
                int rc = WriteAll(target.fd, work.data(), use);
                if (rc != 0) return rc;
            } else if (target.buffer) {
                std::memcpy(target.buffer + target.filled, work.data(), use);
                target.filled += use;
            }
            remaining -= use;
            offset += got;
            const int percent = static_cast<int>((amount - remaining) * 100 / amount);
            int stop = 0;
            if (target.save) {
                if (m_pRecoveryCallBack) stop = m_pRecoveryCallBack(m_pParam, percent, 100, 0, target.path);
            } else if (target.previewCb) {
                stop = target.previewCb(target.previewParam, percent, 0);
            }
            if (stop != 0) return stop;
        }
    }
    // Runs that end before the file does leave it short: that is not a success.
    return remaining == 0 ? 0 : 30;
}

int CFastNtfsRecovery::PreView(_FILE_NODE_* node, wchar_t* tmpPath, unsigned char* buffer, int& length,
                               PreViewCallBack cb, void* param) {
    const size_t capacity = length > 0 ? static_cast<size_t>(length) : 0;
    length = 0;
    if (!node) return 87;

    CopyTarget target;
    target.previewCb = cb;
    target.previewParam = param;
    std::string filePath;
    char ext[256] = {0};
    char name[sizeof node->szFileName + 1] = {0};
    std::memcpy(name, node->szFileName, sizeof node->szFileName);
    if (tmpPath && GetExtendName(name, ext) == 0 && IsExtensionInList(ext, g_szPhotoTypes)) {
        GetCharLowerA(ext);
        const std::string dir = GetScanLogDirPath();
        std::wstring wide = Utf8ToWide(dir.c_str()) + L"tmp." + Ansi2Unicode(ext);
        if (wide.size() < kTmpPathChars) {
            MakeDirectories(dir);
            std::wcscpy(tmpPath, wide.c_str());
            filePath = WideToUtf8(wide.c_str());
            ::unlink(filePath.c_str());
            target.fd = ::open(filePath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (target.fd < 0) return errno;
        }
    }
    if (target.fd < 0) {
        if (!buffer) return 87;
        target.buffer = buffer;
    }

    int rc = 0;
    std::vector<unsigned char> value(static_cast<size_t>(m_nFileRecordSize));
    unsigned valueLength = 0;
    rc = GetAttr0x80Data(static_cast<long long>(node->u64RecordSector), value.data(), valueLength);
    if (rc == 0) {
        size_t amount = std::min<size_t>(static_cast<uint32_t>(node->u64FileSize), valueLength);
        if (target.fd >= 0) {
            rc = WriteAll(target.fd, value.data(), amount);
        } else {
            amount = std::min(amount, capacity);
            std::memcpy(buffer, value.data(), amount);
            target.filled = amount;
        }
    } else if (rc == NTFS_ERR_NO_RESIDENT_DATA) {
        std::vector<__RUNLIST__> runs;
        rc = GetRunListInfo(static_cast<long long>(node->u64RecordSector), NTFS_ATTR_DATA, runs);
        if (rc == 0) {
            uint64_t amount = node->u64FileSize;
            if (target.fd < 0) amount = std::min<uint64_t>(amount, capacity);
            if (amount > 0) rc = CopyRunData(*node, runs, amount, target);
        }
    }

    if (cb) cb(param, 100, rc);
    if (target.fd >= 0) {
        ::close(target.fd);
        if (rc != 0) ::unlink(filePath.c_str());
    }
    length = target.fd >= 0 ? 0 : static_cast<int>(target.filled);
    return rc;
}

int CFastNtfsRecovery::SaveFileData(_FILE_NODE_* node, wchar_t* target, int baseLevel) {
    if (!node || !target) return 87;
    if (!node->bIsDir) return SaveDataToTargetFile(node, target);

    return SaveFolderTree(
        *node, target, baseLevel,
        [&](_FILE_NODE_& folder, int depth, std::vector<_FILE_NODE_>& out) {
            return depth < 0 ? 87 : GetChildrenFileNode(&folder, unsigned(depth), out);
        },
        [&](_FILE_NODE_& file, const std::wstring& path) {
            std::vector<wchar_t> buf(path.begin(), path.end());
            buf.push_back(0);
            return SaveDataToTargetFile(&file, buf.data());
        });
}

int CFastNtfsRecovery::SaveDataToTargetFile(_FILE_NODE_* node, wchar_t* path) {
    if (!node || !path) return 87;
    const std::string utf8 = WideToUtf8(path);

    int fd = ::open(utf8.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    int rc = 0;
    std::vector<unsigned char> value(static_cast<size_t>(m_nFileRecordSize));
    unsigned valueLength = 0;
    rc = GetAttr0x80Data(static_cast<long long>(node->u64RecordSector), value.data(), valueLength);
    if (rc == 0) {
        const size_t amount = std::min<size_t>(static_cast<uint32_t>(node->u64FileSize), valueLength);
        rc = WriteAll(fd, value.data(), amount);
        if (m_pRecoveryCallBack) m_pRecoveryCallBack(m_pParam, 100, 100, rc, path);
        ::close(fd);
        return rc;
    }
    if (rc != NTFS_ERR_NO_RESIDENT_DATA) {
        ::close(fd);
        return rc;
    }
    std::vector<__RUNLIST__> runs;
    rc = GetRunListInfo(static_cast<long long>(node->u64RecordSector), NTFS_ATTR_DATA, runs);
    if (rc != 0) {
        ::close(fd);
        return rc;
    }
    if (node->u64FileSize == 0) {
        if (m_pRecoveryCallBack) m_pRecoveryCallBack(m_pParam, 100, 100, 0, path);
        ::close(fd);
        return 0;
    }
    CopyTarget target;
    target.fd = fd;
    target.save = true;
    target.path = path;
    rc = CopyRunData(*node, runs, node->u64FileSize, target);
    if (rc > 0 && m_pRecoveryCallBack) m_pRecoveryCallBack(m_pParam, 100, 100, rc, path);
    ::close(fd);
    return rc;
}

bool CFastNtfsRecovery::SignatureMatches(unsigned char* data, int len, const char* ext, uint64_t sector) {
    char extension[256] = {0};
    std::memcpy(extension, ext, std::min<size_t>(std::strlen(ext), sizeof extension - 1));
    return CFileTypeJudge::IsFileTypeMatching(data, len, extension, &m_DiskReader, m_nBytesPerSector, sector);
}

int CFastNtfsRecovery::IsFileDataHealth(_FILE_NODE_* node, unsigned sectorsPerCluster) {
    (void)sectorsPerCluster;
    if (!node) return 1;
    std::vector<unsigned char> record;
    if (ReadRecord(node->u64RecordSector, record) != 0 || !HasFileSignature(record.data(), record.size())) return 1;
    m_NtfsParse.FileRecordFixUp(record.data());
    return HealthOfRecord(node, record.data());
}

int CFastNtfsRecovery::HealthOfRecord(_FILE_NODE_* node, const unsigned char* record) {
    char name[sizeof node->szFileName + 1] = {0};
    std::memcpy(name, node->szFileName, sizeof node->szFileName);
    char ext[256] = {0};
    const bool hasExt = GetExtendName(name, ext) == 0;
    const size_t recordSize = static_cast<size_t>(m_nFileRecordSize);

    size_t valueOffset = 0;
    uint32_t valueLength = 0;
    int rc = FindResidentData(record, recordSize, valueOffset, valueLength);
    if (rc == 0) {
        if (valueLength == 0) return 0;
        std::vector<unsigned char> value(record + valueOffset, record + valueOffset + valueLength);
        if (hasExt && !SignatureMatches(value.data(), static_cast<int>(value.size()), ext, 0)) return 0;
        return 1;
    }
    if (rc != NTFS_ERR_NO_RESIDENT_DATA) return 1;

    std::vector<__RUNLIST__> runs;
    NTFS_RUNLIST_LOOKUP info;
    if (FindRecordRunList(m_NtfsParse, record, recordSize, NTFS_ATTR_DATA, NTFS_ANY_VCN, runs, info) != 0) {
        if (info.nAttrListPos == 0) return 1;
        GetRunListInfo(static_cast<long long>(node->u64RecordSector), NTFS_ATTR_DATA, runs);
    }
    // A file that starts with a hole has no first sector to judge.
    uint64_t first = 0;
    if (!NtfsFirstDataSector(runs, node->nClusterBytes, node->u64PartitionStartSector, first,
                             static_cast<uint32_t>(m_nBytesPerSector)))
        return 1;
    if (first == 0 || !hasExt) return 1;
    std::vector<unsigned char> sector(static_cast<size_t>(m_nBytesPerSector));
    unsigned got = 0;
    m_DiskReader.ReadData(sector.data(), 1, static_cast<long long>(first), m_nBytesPerSector, &got);
    if (got == 0) return 1;
    return SignatureMatches(sector.data(), m_nBytesPerSector, ext, first) ? 1 : 0;
}
