// CFastFatRecovery: everything that reads file data after a scan (health test,
// preview, save, the cluster-use bitmap and its free-run iterator).
#include "fat/CFastFatRecovery.h"

#include "carving/CFileTypeJudge.h"
#include "engine/FileCategories.h"
#include "engine/FolderSave.h"
#include "engine/FreeClusterRuns.h"
#include "fat/FatNodeSectors.h"
#include "platform/DeviceMap.h"
#include "platform/PathHelpers.h"
#include "platform/Portability.h"
#include "platform/TextCodec.h"
#include "platform/TextHelpers.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unordered_set>
#include <unistd.h>
#include <vector>

namespace {
// Clusters of more than 100 MiB are not believed.
constexpr uint32_t kMaxClusterBytes = 0x6400000;
constexpr size_t kMaxTargetPathChars = 512;

} // namespace

bool CFastFatRecovery::JudgeKnows(const char* ext) {
    for (const EXTEND_NAME_ROW* row = CFileTypeJudge::szExtendNameAndType; row->type != TYPE_UNKNOWN; ++row)
        if (strcasecmp(row->szExtendName, ext) == 0) return true;
    return false;
}

int CFastFatRecovery::IsFileDataHealth(const _FILE_NODE_* node, unsigned sectorsPerCluster) {
    if (!node) return 1;
    // A size the volume cannot hold from the first cluster on marks a damaged entry.
    if (node->u64FileSize > 0 && IsDataCluster(node->nClusterNO)) {
        const uint64_t room = uint64_t(m_Geometry.nClusterCount + 2 - node->nClusterNO) * sectorsPerCluster * m_nBytesPerSector;
        if (node->u64FileSize > room) return 0;
    }
    char ext[256];
    if (std::strlen(node->szFileName) >= sizeof ext || GetExtendName(node->szFileName, ext) != 0) return 1;
    if (!JudgeKnows(ext)) return 1;
    std::vector<uint8_t> sector(m_nBytesPerSector, 0);
    // A file without a data cluster has no content left to match: judge an empty sector.
    if (!IsDataCluster(node->nClusterNO))
        return CFileTypeJudge::IsFileTypeMatching(sector.data(), int(sector.size()), ext, &m_DiskReader,
                                                  int(m_nBytesPerSector), 0) ? 1 : 0;
    const uint64_t abs =
        FatClusterSector(node->u64PartitionStartSector + node->u64DataStartSector, node->nClusterNO, sectorsPerCluster);
    unsigned got = 0;
    m_DiskReader.ReadData(sector.data(), 1, (long long)abs, int(m_nBytesPerSector), &got);
    if (got == 0) return 1;
    return CFileTypeJudge::IsFileTypeMatching(sector.data(), int(sector.size()), ext, &m_DiskReader,
                                              int(m_nBytesPerSector), abs) ? 1 : 0;
}

// Reads cluster c of a file. A cluster that is not a data cluster means the chain
// ended before the file did: the file is short, never padded with other data.
int CFastFatRecovery::ReadFileCluster(const _FILE_NODE_* node, uint32_t c, unsigned char* buf, uint32_t& bytes) {
    bytes = 0;
    if (!IsDataCluster(c)) return kChainEndedEarly;
    const uint32_t spc = node->nClusterBytes / m_nBytesPerSector;
    const uint64_t sector = FatClusterSector(node->u64PartitionStartSector + node->u64DataStartSector, c, spc);
    unsigned got = 0;
    int rc = m_DiskReader.ReadData(buf, int(spc), (long long)sector, int(m_nBytesPerSector), &got);
    bytes = got * m_nBytesPerSector;
    if (got == 0) return rc != 0 ? rc : 30;
    return 0;
}

int CFastFatRecovery::ReportRecovery(int progress, int error, const wchar_t* path) {
    if (!m_pRecoveryCallBack) return 0;
    return m_pRecoveryCallBack(m_pParam, progress, 100, error, const_cast<wchar_t*>(path));
}

int CFastFatRecovery::PreView(_FILE_NODE_* node, wchar_t* tempPath, unsigned char* buffer, int& length,
                              PreViewCallBack cb, void* pParam) {
    auto report = [&](int progress, int ret) { return cb ? cb(pParam, progress, ret) : 0; };
    int result = 0;
    int fd = -1;
    std::string tempFile;
    uint64_t copied = 0;
    std::vector<unsigned char> cluster;
    const int capacity = buffer ? length : 0;

    if (!node) {
        result = 87;
    } else if (node->nClusterBytes == 0 || node->nClusterBytes % m_nBytesPerSector != 0) {
        result = 87;
    } else {
        char ext[256] = {0};
        bool fileMode = false;
        if (tempPath && std::strlen(node->szFileName) < sizeof ext && GetExtendName(node->szFileName, ext) == 0 &&
            ext[0] != 0) {
            GetCharLowerA(ext);
            if (std::strstr(g_szPhotoTypes, ext)) {
                std::string dir = GetScanLogDirPath();
                MakeDirectories(dir);
                std::string path = dir + "tmp." + ext;
                if (path.size() < 256) {
                    fileMode = true;
                    tempFile = path;
                    std::wstring wide = Utf8ToWide(path.c_str());
                    std::wcsncpy(tempPath, wide.c_str(), 255);
                    tempPath[255] = 0;
                    ::unlink(path.c_str());
                    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
                    if (fd < 0) result = errno;
                }
            }
        }
        if (result == 0 && node->nClusterBytes > kMaxClusterBytes) result = 29;
        uint64_t total = node->u64FileSize;
        if (!fileMode && total > uint64_t(capacity > 0 ? capacity : 0)) total = uint64_t(capacity > 0 ? capacity : 0);
        if (result == 0 && total == 0) {
            report(100, 0);
        } else if (result == 0) {
            cluster.resize(node->nClusterBytes);
            uint64_t done = 0;
            uint32_t c = node->nClusterNO;
            std::unordered_set<uint32_t> visited;
            while (done < total) {
                if (!visited.insert(c).second) {
                    result = kChainEndedEarly; // a chain that loops holds no more of this file
                    break;
                }
                uint32_t bytes = 0;
                result = ReadFileCluster(node, c, cluster.data(), bytes);
                if (result != 0) break;
                const uint64_t take = bytes < total - done ? bytes : total - done;
                int ret;
                if (fileMode) {
                    int err = WriteAll(fd, cluster.data(), size_t(take));
                    done += take;
                    ret = report(int(done * 100 / total), err);
                    if (ret == 0 && err != 0 && !cb) ret = err;
                } else {
                    std::memcpy(buffer + copied, cluster.data(), size_t(take));
                    copied += take;
                    done += take;
                    ret = report(int(copied * 100 / total), 0);
                }
                if (ret != 0) {
                    result = ret;
                    break;
                }
                if (bytes < node->nClusterBytes && done < total) {
                    result = 30; // the device ended inside this cluster
                    break;
                }
                if (done >= total) break;
                uint32_t next = 0;
                result = FindNextClusterNO(c, next);
                if (result != 0) break;
                c = next;
            }
        }
    }
    report(100, result);
    if (fd >= 0) {
        ::close(fd);
        if (result != 0) ::unlink(tempFile.c_str());
    }
    length = int(copied);
    return result;
}

int CFastFatRecovery::SaveDataToTargetFile(_FILE_NODE_* node, const wchar_t* targetPath) {
    if (!node || !targetPath) {
        ReportRecovery(100, 87, targetPath);
        return 87;
    }
    int result = 0;
    std::string path = WideToUtf8(targetPath);
    // Truncate: a longer file already at the target would otherwise keep its old tail.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        result = errno;
    } else if (node->nClusterBytes > kMaxClusterBytes) {
        result = 29;
    } else if (node->nClusterBytes == 0 || node->nClusterBytes % m_nBytesPerSector != 0) {
        result = 87;
    } else if (node->u64FileSize == 0) {
        ReportRecovery(100, 0, targetPath);
        ::close(fd);
        return 0;
    } else {
        // Clusters that follow each other on the disk are read and written as one
        // run, so a large file costs a few system calls per MiB, not two per cluster.
        const uint64_t cb = node->nClusterBytes;
        const uint64_t runBytes = std::max<uint64_t>(cb, 1 << 20);
        std::vector<unsigned char> run(runBytes);
        const uint64_t total = node->u64FileSize;
        const uint32_t spc = node->nClusterBytes / m_nBytesPerSector;
        uint64_t done = 0;
        uint32_t c = node->nClusterNO;
        std::unordered_set<uint32_t> visited;
        while (result == 0 && done < total) {
            uint32_t n = 0, next = 0;
            int chain = 0; // why the chain ended before the file did
            for (uint32_t at = c;; at = next) {
                if (!IsDataCluster(at) || !visited.insert(at).second) {
                    chain = kChainEndedEarly; // or it loops: it holds no more of this file
                    break;
                }
                ++n;
                if (done + n * cb >= total) break;
                chain = FindNextClusterNO(at, next);
                if (chain != 0 || next != at + 1 || (n + 1) * cb > runBytes) break;
            }
            if (n == 0) {
                result = chain;
                break;
            }
            const uint64_t sector = FatClusterSector(node->u64PartitionStartSector + node->u64DataStartSector, c, spc);
            unsigned got = 0;
            const int rc = m_DiskReader.ReadData(run.data(), int(n * spc), (long long)sector, int(m_nBytesPerSector), &got);
            const uint64_t bytes = uint64_t(got) * m_nBytesPerSector;
            if (got == 0) {
                result = rc != 0 ? rc : 30;
                break;
            }
            const uint64_t take = std::min(bytes, total - done);
            int err = WriteAll(fd, run.data(), size_t(take));
            if (err == 0) done += take;
            if (m_pRecoveryCallBack) {
                int ret = ReportRecovery(int(done * 100 / total), err, targetPath);
                if (ret != 0) {
                    result = ret;
                    break;
                }
            } else if (err != 0) {
                result = err;
                break;
            }
            if (bytes < n * cb && done < total) {
                result = 30; // the device ended inside this run
                break;
            }
            if (done >= total) break;
            result = chain;
            c = next;
        }
    }
    if (result > 0) ReportRecovery(100, result, targetPath);
    if (fd >= 0) ::close(fd);
    return result;
}

int CFastFatRecovery::SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int baseDepth) {
    if (!node || !targetPath) {
        ReportRecovery(100, 87, targetPath);
        return 87;
    }
    if (!node->bIsDir) {
        wchar_t path[kMaxTargetPathChars + 1];
        std::wcsncpy(path, targetPath, kMaxTargetPathChars);
        path[kMaxTargetPathChars] = 0;
        return SaveDataToTargetFile(node, path);
    }
    return SaveFolderTree(
        *node, targetPath, baseDepth,
        [&](_FILE_NODE_& folder, int depth, std::vector<_FILE_NODE_>& out) {
            return depth < 0 ? 87 : GetChildrenFileNode(&folder, unsigned(depth), out);
        },
        [&](_FILE_NODE_& file, const std::wstring& target) { return SaveDataToTargetFile(&file, target.c_str()); });
}

int CFastFatRecovery::BuildBitMapInfo() {
    if (!m_bGeometryValid) return 87;
    const uint32_t clusters = m_Geometry.nClusterCount;
    m_nBitMapBytes = (clusters + 7) / 8;
    m_pBitMap.reset(new (std::nothrow) uint8_t[m_nBitMapBytes ? m_nBitMapBytes : 1]());
    if (!m_pBitMap) {
        m_nBitMapBytes = 0;
        return 8;
    }
    uint8_t* bits = m_pBitMap.get();
    const bool fat16 = m_nFatType == 0;
    const uint32_t endMark = fat16 ? 0xFFF8 : 0x0FFFFFF8;
    const uint32_t badMark = fat16 ? 0xFFF7 : 0x0FFFFFF7;
    for (uint32_t i = 0; i < clusters; ++i) {
        uint32_t v = 0;
        if (GetNextClusterNO(i + 2, v) != 0) continue;
        v = fat16 ? (v & 0xFFFF) : (v & 0x0FFFFFFF);
        if (v == 0) continue;
        bits[i / 8] |= uint8_t(1u << (i % 8));
        if (v >= endMark || v == badMark) continue;
        // A successor past the bitmap means the FAT cannot be trusted from here on.
        const uint32_t j = v - 2;
        if (v < 2 || j / 8 >= m_nBitMapBytes) break;
        bits[j / 8] |= uint8_t(1u << (j % 8));
    }
    return 0;
}

int CFastFatRecovery::GetUnUsedSectorCount(uint64_t& sector, uint64_t& count) {
    if (!m_pBitMap) return 0;
    CLUSTER_BITMAP_VIEW view;
    view.pBits = m_pBitMap.get();
    view.nBytes = m_nBitMapBytes;
    view.nClusterCount = m_Geometry.nClusterCount;
    view.nSectorsPerCluster = m_nSectorsPerCluster;
    view.nDataStartSector = m_nDataStartSector;
    view.u64SectorCount = m_u64SectorCount < m_Geometry.u64TotalSectors ? m_u64SectorCount : m_Geometry.u64TotalSectors;
    return NextFreeClusterRun(view, sector, count);
}
