// CFastExtRecovery: everything that reads file data after a scan (map of a
// found file, preview, save, the block-use bitmap and its free-run iterator).
#include "ext/CFastExtRecovery.h"

#include "engine/FileCategories.h"
#include "engine/FolderSave.h"
#include "ext/ExtMapLinker.h"
#include "platform/DeviceMap.h"
#include "platform/PathHelpers.h"
#include "platform/Portability.h"
#include "platform/TextCodec.h"
#include "platform/TextHelpers.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr size_t kMaxTargetPathChars = 512;
constexpr uint64_t kChunkBlocksBytes = 1 << 20;

} // namespace

int CFastExtRecovery::MapNode(const _FILE_NODE_* node, std::vector<EXT_RUN>& runs, uint64_t& blocks) {
    runs.clear();
    blocks = 0;
    if (!node || !m_bGeometryValid || node->bIsDir || node->u64DataStartSector >= 512) return 87;
    if (node->nFileSystemType == FS_TYPE_FAST_EXT && node->nReserved == kNameOnly) return ENODATA;
    if (node->nClusterBytes != m_Sb.nBlockSize) return 87;
    EXT_INODE inode;
    if (node->nFileSystemType == FS_TYPE_PRO_EXT) {
        if (!LoadExtMapFromNode(*node, inode)) return 87;
    } else {
        unsigned char sector[512];
        unsigned got = 0;
        m_DiskReader.ReadData(sector, 1, (long long)node->u64RecordSector, 512, &got);
        if (got != 1) return 30;
        const size_t off = size_t(node->u64DataStartSector);
        if (!ParseExtInode(ByteView(sector + off, 512 - off), inode)) return 87;
    }
    blocks = (node->u64FileSize + m_Sb.nBlockSize - 1) / m_Sb.nBlockSize;
    ExtBlockFetch fetch = [this](uint64_t b, std::vector<uint8_t>& out) { return FetchMapBlock(b, out); };
    const uint64_t covered = BuildExtBlockRuns(inode, m_Sb, blocks, fetch, runs);
    return covered < blocks ? kMapEndedEarly : 0;
}

int CFastExtRecovery::GetFileDataStartSector(_FILE_NODE_* node, uint64_t& absoluteSector) {
    std::vector<EXT_RUN> runs;
    uint64_t blocks = 0;
    MapNode(node, runs, blocks);
    if (runs.empty() || runs[0].u64Logical != 0 || runs[0].u64Physical == 0) return 1;
    absoluteSector = m_u64StartSector + runs[0].u64Physical * (m_Sb.nBlockSize / 512);
    return 0;
}

int CFastExtRecovery::ReportRecovery(int progress, int error, const wchar_t* path) {
    if (!m_pRecoveryCallBack) return 0;
    return m_pRecoveryCallBack(m_pParam, progress, 100, error, const_cast<wchar_t*>(path));
}

int CFastExtRecovery::PreView(_FILE_NODE_* node, wchar_t* tempPath, unsigned char* buffer, int& length,
                              PreViewCallBack cb, void* pParam) {
    auto report = [&](int progress, int ret) { return cb ? cb(pParam, progress, ret) : 0; };
    const int capacity = buffer ? length : 0;
    length = 0;
    std::vector<EXT_RUN> runs;
    uint64_t blocks = 0;
    int result = node && !node->bIsDir ? MapNode(node, runs, blocks) : 87;
    if (result == 87 || result == ENODATA) {
        report(100, result);
        return result;
    }
    const int mapResult = result;
    result = 0;
    // Pictures are previewed from a file; everything else from the caller's buffer.
    int fd = -1;
    std::string tempFile;
    char ext[256] = {0};
    if (tempPath && std::strlen(node->szFileName) < sizeof ext && GetExtendName(node->szFileName, ext) == 0 && ext[0]) {
        GetCharLowerA(ext);
        if (std::strstr(g_szPhotoTypes, ext)) {
            std::string dir = GetScanLogDirPath();
            MakeDirectories(dir);
            tempFile = dir + "tmp." + ext;
            std::wstring wide = Utf8ToWide(tempFile.c_str());
            std::wcsncpy(tempPath, wide.c_str(), 255);
            tempPath[255] = 0;
            ::unlink(tempFile.c_str());
            fd = ::open(tempFile.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0) result = errno;
        }
    }
    uint64_t total = node->u64FileSize;
    if (fd < 0 && total > uint64_t(capacity > 0 ? capacity : 0)) total = uint64_t(capacity > 0 ? capacity : 0);
    const uint64_t bs = m_Sb.nBlockSize;
    uint64_t done = 0;
    std::vector<uint8_t> chunk;
    for (const EXT_RUN& r : runs) {
        if (result != 0 || done >= total) break;
        for (uint64_t i = 0; i < r.u64Length && done < total && result == 0;) {
            const uint32_t n = uint32_t(std::min<uint64_t>(r.u64Length - i, kChunkBlocksBytes / bs));
            if (r.u64Physical) {
                if (!ReadBlocks(r.u64Physical + i, n, chunk)) result = 30;
            } else {
                chunk.assign(size_t(n) * bs, 0);
            }
            const uint64_t take = std::min<uint64_t>(chunk.size(), total - done);
            if (result == 0) {
                if (fd >= 0) result = WriteAll(fd, chunk.data(), size_t(take));
                else std::memcpy(buffer + done, chunk.data(), size_t(take));
                done += take;
                if (report(int(done * 100 / (total ? total : 1)), 0) != 0) result = RECOVERY_STOPPED;
            }
            i += n;
        }
    }
    if (result == 0 && done < total) result = mapResult ? mapResult : kMapEndedEarly;
    report(100, result);
    if (fd >= 0) {
        ::close(fd);
        if (result != 0) ::unlink(tempFile.c_str());
    } else {
        length = int(done);
    }
    return result;
}

int CFastExtRecovery::SaveDataToTargetFile(_FILE_NODE_* node, const wchar_t* targetPath) {
    if (!node || !targetPath) {
        ReportRecovery(100, 87, targetPath);
        return 87;
    }
    std::vector<EXT_RUN> runs;
    uint64_t blocks = 0;
    int result = MapNode(node, runs, blocks);
    // Nothing is written for a file of which nothing is known but its name.
    if (result == 87 || result == ENODATA) {
        ReportRecovery(100, result, targetPath);
        return result;
    }
    const int mapResult = result;
    result = 0;
    std::string path = WideToUtf8(targetPath);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        result = errno;
        ReportRecovery(100, result, targetPath);
        return result;
    }
    const uint64_t total = node->u64FileSize;
    const uint64_t bs = m_Sb.nBlockSize;
    uint64_t done = 0;
    std::vector<uint8_t> chunk;
    for (const EXT_RUN& r : runs) {
        for (uint64_t i = 0; i < r.u64Length && done < total && result == 0;) {
            const uint32_t n = uint32_t(std::min<uint64_t>(r.u64Length - i, kChunkBlocksBytes / bs));
            if (r.u64Physical) {
                if (!ReadBlocks(r.u64Physical + i, n, chunk)) result = 30;
            } else {
                chunk.assign(size_t(n) * bs, 0);
            }
            if (result == 0) {
                const uint64_t take = std::min<uint64_t>(chunk.size(), total - done);
                int err = WriteAll(fd, chunk.data(), size_t(take));
                if (err == 0) done += take;
                if (m_pRecoveryCallBack) {
                    int ret = ReportRecovery(int(done * 100 / total), err, targetPath);
                    if (ret != 0) result = ret;
                } else if (err != 0) {
                    result = err;
                }
            }
            i += n;
        }
        if (result != 0 || done >= total) break;
    }
    // The part that could be found is kept; the caller hears the rest is missing.
    if (result == 0 && done < total) result = mapResult ? mapResult : kMapEndedEarly;
    if (result > 0) ReportRecovery(100, result, targetPath);
    ::close(fd);
    return result;
}

int CFastExtRecovery::SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int baseDepth) {
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

int CFastExtRecovery::BuildBitMapInfo() {
    if (!m_bGeometryValid) return 87;
    const uint64_t count = m_Sb.u64BlockCount;
    m_BitMap.assign((count + 7) / 8, 0);
    for (uint64_t b = 0; b < m_Sb.nFirstDataBlock && b < count; ++b) m_BitMap[b / 8] |= uint8_t(1u << (b % 8));
    std::vector<uint8_t> bits;
    for (uint32_t g = 0; g < m_Groups.size(); ++g) {
        // A group whose map cannot be had is carved whole: better a live file
        // carved twice than a deleted one never looked at.
        if (!m_GroupSound[g] || m_Groups[g].BlockUninit()) continue;
        if (!ReadBlocks(m_Groups[g].u64BlockBitmap, 1, bits)) continue;
        const uint64_t first = uint64_t(m_Sb.nFirstDataBlock) + uint64_t(g) * m_Sb.nBlocksPerGroup;
        const uint64_t n = std::min<uint64_t>(m_Sb.nBlocksPerGroup, count - first);
        for (uint64_t i = 0; i < n; ++i)
            if (bits[i / 8] & (1u << (i % 8))) m_BitMap[(first + i) / 8] |= uint8_t(1u << ((first + i) % 8));
    }
    m_bBitMapValid = true;
    return 0;
}

bool CFastExtRecovery::IsBlockInUse(uint64_t b) const {
    if (!m_bBitMapValid || b >= m_Sb.u64BlockCount) return false;
    return m_BitMap[b / 8] & (1u << (b % 8));
}

int CFastExtRecovery::GetUnUsedSectorCount(uint64_t& sector, uint64_t& count) {
    if (!m_bBitMapValid) return 0;
    const uint64_t spb = m_Sb.nBlockSize / 512;
    const uint64_t blocks = std::min<uint64_t>(m_Sb.u64BlockCount, m_u64SectorCount / spb);
    uint64_t b = (sector + spb - 1) / spb;
    while (b < blocks && ((b % 8 == 0 && m_BitMap[b / 8] == 0xFF && b + 8 <= blocks) || IsBlockInUse(b)))
        b += (b % 8 == 0 && m_BitMap[b / 8] == 0xFF) ? 8 : 1;
    if (b >= blocks) {
        // Sectors past the file system's last block belong to no file of it.
        const uint64_t tail = blocks * spb;
        if (sector <= tail && tail < m_u64SectorCount) {
            sector = tail;
            count = m_u64SectorCount - tail;
        } else {
            sector = std::max(sector, tail);
            count = 0;
        }
        return 1;
    }
    uint64_t e = b;
    while (e < blocks && ((e % 8 == 0 && m_BitMap[e / 8] == 0 && e + 8 <= blocks) || !IsBlockInUse(e)))
        e += (e % 8 == 0 && m_BitMap[e / 8] == 0 && e + 8 <= blocks) ? 8 : 1;
    sector = b * spb;
    count = (e - b) * spb;
    if (e >= blocks && blocks * spb < m_u64SectorCount) count = m_u64SectorCount - sector;
    return 1;
}
