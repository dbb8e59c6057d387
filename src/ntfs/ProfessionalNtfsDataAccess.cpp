// File data of the deep NTFS engine's nodes: record access by the node's own
// record sector, preview, save of files and folder trees, and the health test.
#include "ntfs/CProfessionalNtfsRecovery.h"

#include "engine/FileCategories.h"
#include "engine/FolderSave.h"
#include "ntfs/ProfessionalNtfsRecord.h"
#include "platform/ByteView.h"
#include "platform/DeviceMap.h"
#include "platform/PathHelpers.h"
#include "platform/Portability.h"
#include "platform/TextCodec.h"
#include "platform/TextHelpers.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cwchar>
#include <functional>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace pro_ntfs;

namespace {
constexpr size_t kPieceBytes = 65536;

bool LowerExtension(const char* name, char* ext) {
    ext[0] = 0;
    if (GetExtendName(name, ext) != 0 || ext[0] == 0) return false;
    GetCharLowerA(ext);
    return true;
}

}  // namespace

struct CProfessionalNtfsRecovery::DataSink {
    virtual ~DataSink() = default;
    // Takes the next bytes of the file; delivered counts all bytes so far.
    // A non-zero return stops the copy and becomes its result.
    virtual int Put(const unsigned char* data, size_t bytes, uint64_t delivered) = 0;
};

namespace {
// The value of the record's first $DATA when it is resident (0); -101 when it
// is not; 87 when its header is inconsistent. The record is fixed up.
int ResidentDataOf(const unsigned char* record, unsigned char* out, unsigned int& length) {
    ByteView rec(record, kRecordBytes);
    NTFS_ATTR_POS attr;
    while (NextNtfsAttribute(record, kRecordBytes, attr)) {
        if (attr.nType != NTFS_ATTR_DATA) continue;
        if (IsNonResident(record, attr)) return NTFS_ERR_NO_RESIDENT_DATA;
        if (attr.nLength < NTFS_ATTR_RESIDENT_HEADER) return NTFS_ERR_INVALID;
        const uint16_t offset = rec.le16(attr.nPos + NTFS_ATTR_VALUE_OFFSET);
        if (offset > attr.nLength) return NTFS_ERR_INVALID;
        // The value itself, never the attribute's alignment padding.
        const size_t n = std::min<size_t>(rec.le32(attr.nPos + NTFS_ATTR_VALUE_LENGTH), attr.nLength - offset);
        std::memcpy(out, record + attr.nPos + offset, n);
        length = static_cast<unsigned>(n);
        return 0;
    }
    return NTFS_ERR_NO_RESIDENT_DATA;
}

// The runs of the record's first attribute of the type; none for a resident
// one (its value decoded as a runlist would give garbage clusters).
int RunListOf(const CNtfsParse& parse, const unsigned char* record, uint32_t type, std::vector<__RUNLIST__>& runs) {
    NTFS_ATTR_POS attr;
    const int found = FindFirstAttribute(record, kRecordBytes, type, attr);
    if (found != 0) return found;
    DecodeRuns(parse, record, attr, runs);
    return 0;
}
}  // namespace

int CProfessionalNtfsRecovery::GetRunListInfo(long long sector, int attributeType, std::vector<__RUNLIST__>& runs) {
    if (sector < 0) return NTFS_ERR_INVALID;
    unsigned char record[kRecordBytes];
    const int rc = ReadRecord(static_cast<uint64_t>(sector), record);
    if (rc != 0) return rc;
    if (!HasFileSignature(record, kRecordBytes)) return NTFS_ERR_NO_SIGNATURE;
    m_NtfsParse.FileRecordFixUp(record);
    return RunListOf(m_NtfsParse, record, static_cast<uint32_t>(attributeType), runs);
}

int CProfessionalNtfsRecovery::GetAttr0x80Data(long long sector, unsigned char* out, unsigned int& length) {
    length = 0;
    if (!out || sector < 0) return NTFS_ERR_INVALID;
    unsigned char record[kRecordBytes];
    const int rc = ReadRecord(static_cast<uint64_t>(sector), record);
    if (rc != 0) return rc;
    if (!HasFileSignature(record, kRecordBytes)) return NTFS_ERR_NO_RESIDENT_DATA;
    m_NtfsParse.FileRecordFixUp(record);
    return ResidentDataOf(record, out, length);
}

int CProfessionalNtfsRecovery::GetFileNodeRunListInfo(const _FILE_NODE_* node, std::vector<__RUNLIST__>& runs) {
    if (!node) return 87;
    return GetRunListInfo(static_cast<long long>(node->u64RecordSector), NTFS_ATTR_DATA, runs);
}

int CProfessionalNtfsRecovery::GetFileNodeAttr0x80Data(const _FILE_NODE_* node, unsigned char* out,
                                                       unsigned int& length) {
    length = 0;
    if (!node) return 87;
    return GetAttr0x80Data(static_cast<long long>(node->u64RecordSector), out, length);
}

int CProfessionalNtfsRecovery::CopyNodeData(const _FILE_NODE_* node, const std::vector<__RUNLIST__>& runs,
                                            uint64_t amount, DataSink& sink) {
    const uint64_t clusterBytes = node->nClusterBytes;
    if (clusterBytes == 0 || clusterBytes % 512 != 0 || clusterBytes == 0xFFFFFFFFull) return 87;
    std::vector<unsigned char> buf(kPieceBytes);
    uint64_t done = 0;
    uint64_t cluster = 0;
    for (const __RUNLIST__& run : runs) {
        if (done >= amount) break;
        cluster += static_cast<uint64_t>(run.n64RunOffset);
        // A run without a position is a hole of the file: its bytes are zeros.
        const bool sparse = run.n64RunOffset == 0;
        const uint64_t runBytes = run.u64RunLength * clusterBytes;
        const uint64_t runSector = node->u64PartitionStartSector + cluster * (clusterBytes / 512);
        uint64_t runDone = 0;
        while (runDone < runBytes && done < amount) {
            size_t piece = static_cast<size_t>(std::min<uint64_t>(kPieceBytes, runBytes - runDone));
            if (sparse) {
                std::memset(buf.data(), 0, piece);
            } else {
                unsigned got = 0;
                const int rc = m_DiskReader.ReadData(buf.data(), static_cast<int>(piece / 512),
                                                     static_cast<long long>(runSector + runDone / 512), 512, &got);
                if (got == 0) return rc != 0 ? rc : 30;
                piece = got * 512u;
            }
            const size_t use = static_cast<size_t>(std::min<uint64_t>(piece, amount - done));
            done += use;
            const int stop = sink.Put(buf.data(), use, done);
            if (stop != 0) return stop;
            runDone += piece;
        }
    }
    // Runs that end before the file does leave the file incomplete.
    return done < amount ? 30 : 0;
}

int CProfessionalNtfsRecovery::PreView(_FILE_NODE_* node, wchar_t* tmpPath, unsigned char* buffer, int& length,
                                       PreViewCallBack cb, void* param) {
    const size_t capacity = length > 0 && buffer ? static_cast<size_t>(length) : 0;
    length = 0;
    if (!node) return 87;

    int fd = -1;
    std::string filePath;
    char ext[256];
    if (tmpPath && LowerExtension(node->szFileName, ext) && std::strstr(g_szPhotoTypes, ext)) {
        const std::string dir = GetScanLogDirPath();
        MakeDirectories(dir);
        filePath = dir + "tmp." + ext;
        const std::wstring wide = Utf8ToWide(filePath.c_str());
        if (wide.size() < 256) {
            std::wcsncpy(tmpPath, wide.c_str(), 256);
            ::unlink(filePath.c_str());
            fd = ::open(filePath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0) return errno;
        }
    }

    size_t placed = 0;
    int result = 0;
    unsigned char value[kRecordBytes];
    unsigned valueLength = 0;
    const int resident = GetFileNodeAttr0x80Data(node, value, valueLength);
    if (resident == 0) {
        const size_t amount = std::min<size_t>(static_cast<uint32_t>(node->u64FileSize), valueLength);
        if (fd >= 0) {
            result = WriteAll(fd, value, amount);
        } else {
            placed = std::min(amount, capacity);
            if (placed) std::memcpy(buffer, value, placed);
        }
    } else if (resident != -101) {
        result = resident;
    } else {
        std::vector<__RUNLIST__> runs;
        result = GetFileNodeRunListInfo(node, runs);
        uint64_t amount = node->u64FileSize;
        if (fd < 0) amount = std::min<uint64_t>(amount, capacity);
        if (result == 0 && amount > 0) {
            struct PreviewSink : DataSink {
                int fd;
                unsigned char* buffer;
                size_t* placed;
                uint64_t amount;
                PreViewCallBack cb;
                void* param;
                int Put(const unsigned char* data, size_t bytes, uint64_t delivered) override {
                    if (fd >= 0) {
                        const int rc = WriteAll(fd, data, bytes);
                        if (rc != 0) return rc;
                    } else {
                        std::memcpy(buffer + *placed, data, bytes);
                        *placed += bytes;
                    }
                    return cb ? cb(param, static_cast<int>(delivered * 100 / amount), 0) : 0;
                }
            } sink;
            sink.fd = fd;
            sink.buffer = buffer;
            sink.placed = &placed;
            sink.amount = amount;
            sink.cb = cb;
            sink.param = param;
            result = CopyNodeData(node, runs, amount, sink);
        }
    }

    if (cb) cb(param, 100, result);
    if (fd >= 0) {
        ::close(fd);
        if (result != 0) ::unlink(filePath.c_str());
        placed = 0;
    }
    length = static_cast<int>(placed);
    return result;
}

int CProfessionalNtfsRecovery::SaveFileData(_FILE_NODE_* node, wchar_t* target, int baseLevel) {
    if (!node || !target) return 87;
    if (!node->bIsDir) return SaveDataToTargetFile(node, target);

    return SaveFolderTree(
        *node, target, baseLevel,
        [&](_FILE_NODE_& folder, int depth, std::vector<_FILE_NODE_>& out) {
            return depth < 0 ? 87 : GetChildrenFileNode(&folder, unsigned(depth), out);
        },
        [&](_FILE_NODE_& file, const std::wstring& path) { return SaveDataToTargetFile(&file, path.c_str()); });
}

int CProfessionalNtfsRecovery::SaveDataToTargetFile(_FILE_NODE_* node, const wchar_t* path) {
    if (!node || !path) return 87;
    std::wstring reportPath(path);
    auto report = [&](int progress, int rc) {
        return m_pRecoveryCallBack ? m_pRecoveryCallBack(m_pParam, progress, 100, rc, &reportPath[0]) : 0;
    };

    const std::string file = WideToUtf8(path);
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return errno;

    int result = 0;
    unsigned char value[kRecordBytes];
    unsigned valueLength = 0;
    const int resident = GetFileNodeAttr0x80Data(node, value, valueLength);
    if (resident == 0) {
        const size_t amount = std::min<size_t>(static_cast<uint32_t>(node->u64FileSize), valueLength);
        result = WriteAll(fd, value, amount);
        report(100, result);
        ::close(fd);
        return result;
    }
    if (resident != -101) {
        ::close(fd);
        return resident;
    }
    std::vector<__RUNLIST__> runs;
    result = GetFileNodeRunListInfo(node, runs);
    if (result != 0) {
        ::close(fd);
        return result;
    }
    if (node->u64FileSize == 0) {
        report(100, 0);
        ::close(fd);
        return 0;
    }
    struct SaveSink : DataSink {
        int fd;
        uint64_t size;
        std::function<int(int, int)> report;
        int Put(const unsigned char* data, size_t bytes, uint64_t delivered) override {
            const int rc = WriteAll(fd, data, bytes);
            if (rc != 0) return rc;
            return report(static_cast<int>(delivered * 100 / size), 0);
        }
    } sink;
    sink.fd = fd;
    sink.size = node->u64FileSize;
    sink.report = report;
    result = CopyNodeData(node, runs, node->u64FileSize, sink);
    if (result > 0) report(100, result);
    ::close(fd);
    return result;
}

int CProfessionalNtfsRecovery::IsFileDataHealth(_FILE_NODE_* node, unsigned /*sectorsPerCluster*/) {
    if (!node) return 1;
    unsigned char record[kRecordBytes];
    if (ReadRecord(node->u64RecordSector, record) != 0) return 1;
    if (!HasFileSignature(record, kRecordBytes)) return 1;
    m_NtfsParse.FileRecordFixUp(record);
    return HealthOfRecord(node, record);
}

int CProfessionalNtfsRecovery::HealthOfRecord(const _FILE_NODE_* node, const unsigned char* record) {
    char ext[256];
    const bool hasExt = GetExtendName(node->szFileName, ext) == 0 && ext[0] != 0;
    unsigned char value[kRecordBytes];
    unsigned valueLength = 0;
    const int resident = ResidentDataOf(record, value, valueLength);
    if (resident == 0) {
        if (valueLength == 0) return 0;
        if (hasExt && !m_FileTypeJudge.IsFileTypeMatching(value, static_cast<int>(valueLength), ext, &m_DiskReader,
                                                          512, 0))
            return 0;
        return 1;
    }
    if (resident != NTFS_ERR_NO_RESIDENT_DATA) return 1;
    std::vector<__RUNLIST__> runs;
    uint64_t first = 0;
    // A file that starts with a hole has no first sector to judge.
    if (RunListOf(m_NtfsParse, record, NTFS_ATTR_DATA, runs) != 0 ||
        !NtfsFirstDataSector(runs, node->nClusterBytes, node->u64PartitionStartSector, first))
        return 1;
    if (first == 0 || !hasExt) return 1;
    unsigned char sector[512];
    unsigned got = 0;
    m_DiskReader.ReadData(sector, 1, static_cast<long long>(first), 512, &got);
    if (got == 1 && !m_FileTypeJudge.IsFileTypeMatching(sector, 512, ext, &m_DiskReader, 512, first)) return 0;
    return 1;
}
