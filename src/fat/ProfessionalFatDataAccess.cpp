// Deep FAT engine: health, preview and recovery of found files. No FAT is
// left to follow, so a file is read as the run of clusters that begins at its
// first cluster, under the geometry stored in its record.
#include "fat/CProfessionalFatRecovery.h"

#include "carving/CFileTypeJudge.h"
#include "engine/FileCategories.h"
#include "engine/FolderSave.h"
#include "platform/DeviceMap.h"
#include "platform/PathHelpers.h"
#include "platform/Portability.h"
#include "platform/TextCodec.h"
#include "platform/TextHelpers.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {
constexpr uint32_t kMaxClusterBytes = 0x6400001; // clusters of 100 MiB or more are refused

} // namespace

uint64_t CProfessionalFatRecovery::RecordClusterSector(const _FILE_NODE_& node, uint32_t cluster, unsigned spc) const {
    return FatClusterSector(node.u64PartitionStartSector + node.u64DataStartSector, cluster, spc);
}

bool CProfessionalFatRecovery::SectorMatchesExtension(const unsigned char* sector, const char* ext, uint64_t sectorNo) {
    unsigned char copy[512];
    char extCopy[256];
    std::memcpy(copy, sector, sizeof copy);
    std::snprintf(extCopy, sizeof extCopy, "%s", ext);
    return CFileTypeJudge::IsFileTypeMatching(copy, int(sizeof copy), extCopy, &m_DiskReader, int(m_nBytesPerSector),
                                              sectorNo);
}

int CProfessionalFatRecovery::IsFileDataHealth(const _FILE_NODE_* node, unsigned sectorsPerCluster) {
    if (!node) return 1;
    char ext[256];
    if (GetExtendName(node->szFileName, ext) != 0) return 1;
    uint64_t s = RecordClusterSector(*node, node->nClusterNO, sectorsPerCluster);
    if (s == UINT64_MAX) return 1;
    // Data the area cannot hold past its first sector marks a damaged entry, whatever that sector shows.
    const uint64_t end = std::min(AreaEnd(), m_DiskReader.GetDeviceSectorCount());
    if (node->u64FileSize > 0 && (s >= end || (node->u64FileSize + 511) / 512 > end - s)) return 0;
    unsigned char sector[512];
    if (ReadSectors(sector, 1, s) == 0) return 1;
    return SectorMatchesExtension(sector, ext, s) ? 1 : 0;
}

int CProfessionalFatRecovery::PreView(_FILE_NODE_* node, wchar_t* tmpPath, unsigned char* buffer, int& len,
                                      PreViewCallBack cb, void* pParam) {
    const int bufferLen = len < 0 ? 0 : len;
    int result = 0;
    int fd = -1;
    std::string tmpFile;
    size_t copied = 0;
    bool fileMode = false;
    std::vector<unsigned char> cluster;

    auto finish = [&](int rc) {
        if (cb) cb(pParam, 100, rc);
        if (fd >= 0) {
            ::close(fd);
            if (rc != 0) ::unlink(tmpFile.c_str());
        }
        len = fileMode ? 0 : static_cast<int>(copied);
        return rc;
    };
    if (!node) return finish(87);

    char ext[256];
    if (GetExtendName(node->szFileName, ext) == 0) {
        GetCharLowerA(ext);
        if (ext[0] && std::strstr(g_szPhotoTypes, ext)) {
            std::string dir = GetScanLogDirPath();
            MakeDirectories(dir);
            std::string path = dir + "tmp." + ext;
            if (path.size() < 256 && tmpPath) {
                fileMode = true;
                tmpFile = path;
                std::wstring wide = Utf8ToWide(path.c_str());
                std::wcsncpy(tmpPath, wide.c_str(), 256);
                tmpPath[255] = 0;
                ::unlink(path.c_str());
                fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
                if (fd < 0) return finish(errno);
            }
        }
    }
    if (node->nClusterBytes >= kMaxClusterBytes) return finish(29);
    const unsigned spc = node->nClusterBytes / m_nBytesPerSector;
    if (spc == 0) return finish(87);
    uint64_t total = node->u64FileSize;
    if (!fileMode && total > uint64_t(bufferLen)) total = uint64_t(bufferLen);
    if (total == 0) return finish(0);

    cluster.resize(size_t(spc) * m_nBytesPerSector);
    uint64_t first = RecordClusterSector(*node, node->nClusterNO, spc);
    if (first == UINT64_MAX) return finish(30);
    uint64_t done = 0;
    for (uint64_t k = 0; done < total; ++k) {
        unsigned got = ReadSectors(cluster.data(), spc, first + k * spc);
        if (got == 0) {
            result = 30;
            break;
        }
        uint64_t take = uint64_t(got) * m_nBytesPerSector;
        if (take > total - done) take = total - done;
        if (fileMode) {
            int werr = WriteAll(fd, cluster.data(), size_t(take));
            done += take;
            // A failed write ends the preview: a short picture must not be shown as complete.
            if (werr) {
                result = werr;
                break;
            }
            if (cb) {
                int r = cb(pParam, static_cast<int>(done * 100 / total), 0);
                if (r) {
                    result = r;
                    break;
                }
            }
        } else {
            size_t room = size_t(bufferLen) - copied;
            size_t n = take < room ? size_t(take) : room;
            std::memcpy(buffer + copied, cluster.data(), n);
            copied += n;
            done += take;
            if (cb) {
                int r = cb(pParam, static_cast<int>(copied * 100 / total), 0);
                if (r) {
                    result = r;
                    break;
                }
            }
        }
        // The rest of a cluster with an unreadable sector would shift everything after it.
        if (got < spc && done < total) {
            result = 30;
            break;
        }
    }
    return finish(result);
}

int CProfessionalFatRecovery::SaveDataToTargetFile(_FILE_NODE_* node, wchar_t* targetPath) {
    auto report = [&](int progress, int err) {
        if (!m_pRecoveryCallBack) return 0;
        return m_pRecoveryCallBack(m_pParam, progress, 100, err, targetPath);
    };
    if (!node || !targetPath) {
        report(100, 87);
        return 87;
    }
    std::string path = WideToUtf8(targetPath);
    // Truncated: an older, longer file of that name must not leave its tail behind the copy.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        int e = errno;
        report(100, e);
        return e;
    }
    int result = 0;
    const unsigned spc = node->nClusterBytes / m_nBytesPerSector;
    if (node->nClusterBytes >= kMaxClusterBytes) result = 29;
    else if (spc == 0) result = 87;
    else if (node->u64FileSize == 0) {
        ::close(fd);
        report(100, 0);
        return 0;
    } else {
        // Whole clusters, up to 1 MiB a read.
        const unsigned piece = std::max(spc, (1u << 20) / m_nBytesPerSector / spc * spc);
        std::vector<unsigned char> run(size_t(piece) * m_nBytesPerSector);
        const uint64_t size = node->u64FileSize;
        uint64_t at = RecordClusterSector(*node, node->nClusterNO, spc);
        uint64_t written = 0;
        if (at == UINT64_MAX) result = 30;
        while (result == 0 && written < size) {
            const uint64_t clustersLeft = (size - written + node->nClusterBytes - 1) / node->nClusterBytes;
            const unsigned want = unsigned(std::min<uint64_t>(piece, clustersLeft * spc));
            unsigned got = ReadSectors(run.data(), want, at);
            if (got == 0) {
                result = 30;
                break;
            }
            uint64_t take = uint64_t(got) * m_nBytesPerSector;
            if (take > size - written) take = size - written;
            int werr = WriteAll(fd, run.data(), size_t(take));
            if (!werr) written += take;
            int r = report(static_cast<int>(written * 100 / size), werr);
            if (r) result = r;
            // A failed write ends the copy whatever the callback says: the file would be short.
            else if (werr) result = werr;
            // So does a sector that cannot be read: going on would shift the rest of the file.
            else if (got < want && written < size) result = 30;
            at += want;
        }
    }
    if (result > 0) report(100, result);
    ::close(fd);
    return result;
}

int CProfessionalFatRecovery::SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int baseDepth) {
    if (!node || !targetPath) return 87;
    std::wstring target(targetPath, wcsnlen(targetPath, 512));
    if (!node->bIsDir) {
        std::vector<wchar_t> copy(target.begin(), target.end());
        copy.push_back(0);
        return SaveDataToTargetFile(node, copy.data());
    }
    // Folder relations come from the disk: a folder met twice at the same level is written once.
    std::set<std::pair<unsigned, uint32_t>> done;
    return SaveFolderTree(
        *node, target, baseDepth,
        [&](_FILE_NODE_& folder, int depth, std::vector<_FILE_NODE_>& out) {
            const unsigned level = depth < 0 ? 0u : unsigned(depth);
            if (!done.insert({level, folder.nClusterNO}).second) return 0;
            return GetChildrenFileNode(&folder, level, out);
        },
        [&](_FILE_NODE_& file, const std::wstring& path) {
            std::vector<wchar_t> buf(path.begin(), path.end());
            buf.push_back(0);
            return SaveDataToTargetFile(&file, buf.data());
        });
}
