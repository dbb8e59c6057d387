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

template <class Sink> int CProfessionalFatRecovery::StreamData(const _FILE_NODE_& node, uint64_t total, Sink sink) {
    if (node.nClusterBytes >= kMaxClusterBytes) return 29;
    const unsigned spc = node.nClusterBytes / m_nBytesPerSector;
    if (spc == 0) return 87;
    if (total == 0) return 0;
    // Whole clusters, up to 1 MiB a read.
    const unsigned piece = std::max(spc, (1u << 20) / m_nBytesPerSector / spc * spc);
    std::vector<unsigned char> run(size_t(piece) * m_nBytesPerSector);
    uint64_t at = RecordClusterSector(node, node.nClusterNO, spc);
    if (at == UINT64_MAX) return 30;
    for (uint64_t done = 0; done < total;) {
        const uint64_t clustersLeft = (total - done + node.nClusterBytes - 1) / node.nClusterBytes;
        const unsigned want = unsigned(std::min<uint64_t>(piece, clustersLeft * spc));
        const unsigned got = ReadSectors(run.data(), want, at);
        if (got == 0) return 30;
        const uint64_t take = std::min<uint64_t>(uint64_t(got) * m_nBytesPerSector, total - done);
        done += take;
        if (int r = sink(run.data(), size_t(take), done)) return r;
        // A sector that cannot be read ends the data: going on would shift the rest of the file.
        if (got < want && done < total) return 30;
        at += want;
    }
    return 0;
}

int CProfessionalFatRecovery::PreView(_FILE_NODE_* node, wchar_t* tmpPath, unsigned char* buffer, int& len,
                                      PreViewCallBack cb, void* pParam) {
    const int bufferLen = len < 0 ? 0 : len;
    int fd = -1;
    std::string tmpFile;
    size_t copied = 0;
    bool fileMode = false;

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
    uint64_t total = node->u64FileSize;
    if (!fileMode && total > uint64_t(bufferLen)) total = uint64_t(bufferLen);
    return finish(StreamData(*node, total, [&](const unsigned char* p, size_t n, uint64_t done) {
        if (fileMode) {
            // A failed write ends the preview: a short picture must not be shown as complete.
            if (int werr = WriteAll(fd, p, n)) return werr;
        } else {
            std::memcpy(buffer + copied, p, n);
            copied += n;
        }
        return cb ? cb(pParam, static_cast<int>(done * 100 / total), 0) : 0;
    }));
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
    const uint64_t size = node->u64FileSize;
    uint64_t written = 0;
    const int result = StreamData(*node, size, [&](const unsigned char* p, size_t n, uint64_t done) {
        const int werr = WriteAll(fd, p, n);
        if (!werr) written = done;
        const int r = report(static_cast<int>(written * 100 / size), werr);
        // A failed write ends the copy whatever the callback says: the file would be short.
        return r ? r : werr;
    });
    if (result == 0 && size == 0) report(100, 0);
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
