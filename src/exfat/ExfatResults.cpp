#include "exfat/ExfatResults.h"

#include "carving/CFileTypeJudge.h"
#include "engine/CLogFileManager.h"
#include "engine/FileCategories.h"
#include "engine/FolderSave.h"
#include "platform/CDiskReader.h"
#include "platform/DeviceMap.h"
#include "platform/PathHelpers.h"
#include "platform/Portability.h"
#include "platform/TextCodec.h"
#include "platform/TextHelpers.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr size_t kMaxTargetPathChars = 512;
constexpr uint32_t kMaxClusterBytes = 32u << 20;

bool CanJudge(const char* ext) {
    for (const EXTEND_NAME_ROW* row = CFileTypeJudge::szExtendNameAndType; row->type != TYPE_UNKNOWN; ++row)
        if (strcasecmp(row->szExtendName, ext) == 0) return true;
    return false;
}
} // namespace

int ExfatResults::OpenStore(const char* prefix, uint64_t startSector, const wchar_t* resumeName) {
    m_pStore.reset(new CScanResultFileManager());
    m_pStore->InitSearchCallBack(m_pSearchCallBack, m_pSearchParam);
    if (resumeName && resumeName[0]) return m_pStore->Init(resumeName);
    SYSTEMTIME st;
    std::memset(&st, 0, sizeof st);
    rsb_getSystemTime(&st);
    char name[128];
    std::snprintf(name, sizeof name, "%s%lld_%d%d%d%d%2d", prefix, (long long)startSector, st.wYear, st.wMonth, st.wDay,
                  st.wHour, st.wMinute);
    // A result left under the same name (same area, same minute) would otherwise be appended to.
    char logDir[256] = {0};
    CLogFileManager::GetInstance()->GetLogFileDirPath(logDir);
    for (const char* suffix : {"", "_Relation", "_DirInfo"}) ::unlink((std::string(logDir) + name + suffix).c_str());
    return m_pStore->Init(Ansi2Unicode(name).c_str());
}

void ExfatResults::SetSearchCallBack(SearchCallBack cb, void* pParam) {
    m_pSearchCallBack = cb;
    m_pSearchParam = pParam;
    if (m_pStore) m_pStore->InitSearchCallBack(cb, pParam);
}

ExfatVolume* ExfatResults::AddVolume(std::unique_ptr<ExfatVolume> volume) {
    m_Volumes.push_back(std::move(volume));
    return m_Volumes.back().get();
}

ExfatVolume* ExfatResults::VolumeOf(const _FILE_NODE_& node) {
    for (auto& v : m_Volumes)
        if (v->StartSector() == node.u64PartitionStartSector && v->Geometry().HeapSector() == node.u64DataStartSector &&
            v->Geometry().ClusterBytes() == node.nClusterBytes)
            return v.get();
    if (node.nClusterBytes < 512 || node.nClusterBytes > kMaxClusterBytes || node.nClusterBytes % 512 != 0 ||
        node.u64DataStartSector > UINT32_MAX || !m_pReader)
        return nullptr;
    EXFAT_GEOMETRY g;
    g.nSectorsPerCluster = node.nClusterBytes / 512;
    g.nHeapOffset = uint32_t(node.u64DataStartSector);
    const uint64_t limit = m_pReader->GetSectorLimit();
    const uint64_t heap = node.u64PartitionStartSector + g.nHeapOffset;
    const uint64_t clusters = limit > heap ? (limit - heap) / g.nSectorsPerCluster : 0;
    g.nClusterCount = uint32_t(std::min<uint64_t>(clusters, 0xFFFFFFF5u));
    g.u64VolumeSectors = g.nHeapOffset + uint64_t(g.nClusterCount) * g.nSectorsPerCluster;
    return AddVolume(std::unique_ptr<ExfatVolume>(new ExfatVolume(m_pReader, node.u64PartitionStartSector, g, false)));
}

int ExfatResults::Runs(const _FILE_NODE_& node, std::vector<EXFAT_RUN>& runs) {
    runs.clear();
    ExfatVolume* v = VolumeOf(node);
    if (!v) return 87;
    const EXFAT_LAYOUT layout = node.bIsDir || node.nReserved > EXFAT_LAYOUT_FREE_CLUSTERS ? EXFAT_LAYOUT_CONTIGUOUS
                                                                                         : EXFAT_LAYOUT(node.nReserved);
    return ExfatMapRuns(v->Geometry(), node.nClusterNO, node.u64FileSize, layout, v->FatLookup(), v->Bitmap(), runs);
}

uint32_t ExfatResults::JudgeHealth(ExfatVolume& volume, const _FILE_NODE_& node, const std::vector<EXFAT_RUN>& runs,
                                   bool checkBitmap) {
    if (checkBitmap && ExfatRunsInUse(runs, volume.Bitmap())) return 0;
    char ext[256];
    if (std::strlen(node.szFileName) >= sizeof ext || GetExtendName(node.szFileName, ext) != 0 || !CanJudge(ext))
        return 1;
    const uint32_t bps = 512;
    std::vector<uint8_t> sector(bps, 0);
    uint64_t abs = 0;
    if (!runs.empty()) {
        abs = volume.ClusterSector(runs[0].nCluster);
        unsigned got = 0;
        m_pReader->ReadData(sector.data(), 1, (long long)abs, int(bps), &got);
        if (got == 0) return 1;
    }
    return CFileTypeJudge::IsFileTypeMatching(sector.data(), int(sector.size()), ext, m_pReader, int(bps), abs) ? 1 : 0;
}

uint64_t ExfatResults::Key(const _FILE_NODE_* parent, unsigned depth) const {
    return (uint64_t(depth) << 32) | (parent ? parent->nClusterNO : m_nRootKey);
}

int ExfatResults::GetChildrenFileNode(_FILE_NODE_* parent, unsigned depth, std::vector<_FILE_NODE_>& out) {
    if (!parent && depth != 0) return 87;
    if (!m_pStore) return 0;
    m_pStore->FlushBufToFile();
    return m_pStore->GetChildrenFileNode(Key(parent, depth), out);
}

int ExfatResults::GetChildrenFileCount(_FILE_NODE_* parent, unsigned depth, unsigned& count) {
    if (!parent && depth != 0) return 87;
    if (!m_pStore) return 0;
    m_pStore->FlushBufToFile();
    return m_pStore->GetChildrenFileCount(Key(parent, depth), count);
}

int ExfatResults::GetParentDirPath(_FILE_NODE_* node, wchar_t* path, int size) {
    if (!m_pStore) return 87;
    m_pStore->FlushBufToFile();
    return m_pStore->GetParentDirPath(node, path, size);
}

int ExfatResults::SearchFileNode(wchar_t* key, std::vector<__SEARCH_FILE_INFO__>& out) {
    return m_pStore ? m_pStore->SearchFileNodeInfo(key, out) : 0;
}

int ExfatResults::GetFileDataStartSector(_FILE_NODE_* node, uint64_t& absoluteSector) {
    if (!node || node->bIsDir || node->u64FileSize == 0) return 1;
    std::vector<EXFAT_RUN> runs;
    Runs(*node, runs);
    ExfatVolume* v = VolumeOf(*node);
    if (runs.empty() || !v) return 1;
    absoluteSector = v->ClusterSector(runs[0].nCluster);
    return 0;
}

template <class Sink> int ExfatResults::StreamData(const _FILE_NODE_& node, uint64_t limit, Sink sink) {
    ExfatVolume* v = VolumeOf(node);
    if (!v) return 87;
    const uint32_t cb = v->Geometry().ClusterBytes();
    if (cb == 0 || cb > kMaxClusterBytes) return 29;
    std::vector<EXFAT_RUN> runs;
    const int mapped = Runs(node, runs);
    std::vector<unsigned char> cluster(cb);
    uint64_t done = 0;
    for (const EXFAT_RUN& r : runs) {
        for (uint32_t i = 0; i < r.nCount && done < limit; ++i) {
            uint32_t bytes = 0;
            int rc = v->ReadCluster(r.nCluster + i, cluster.data(), bytes);
            const uint64_t take = std::min<uint64_t>(bytes, limit - done);
            if (take) {
                int s = sink(cluster.data(), size_t(take));
                if (s != 0) return s;
                done += take;
            }
            if (rc != 0) return rc;
            if (bytes < cb && done < limit) return 30; // the device ended inside this cluster
        }
    }
    return done < limit ? (mapped ? mapped : kDataEndedEarly) : 0;
}

int ExfatResults::ReportRecovery(int progress, int error, const wchar_t* path) {
    if (!m_pRecoveryCallBack) return 0;
    return m_pRecoveryCallBack(m_pParam, progress, 100, error, const_cast<wchar_t*>(path));
}

int ExfatResults::SaveOne(_FILE_NODE_* node, const std::wstring& target) {
    std::string path = WideToUtf8(target.c_str());
    // Truncate: a longer file already at the target would otherwise keep its old tail.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        int err = errno;
        ReportRecovery(100, err, target.c_str());
        return err;
    }
    const uint64_t total = node->u64FileSize;
    uint64_t done = 0;
    int result = total == 0 ? 0 : StreamData(*node, total, [&](const unsigned char* p, size_t n) {
        int err = WriteAll(fd, p, n);
        if (err == 0) done += n;
        if (m_pRecoveryCallBack) {
            int ret = ReportRecovery(int(done * 100 / total), err, target.c_str());
            if (ret != 0) return ret;
        }
        return err;
    });
    if (total == 0) ReportRecovery(100, 0, target.c_str());
    else if (result > 0) ReportRecovery(100, result, target.c_str());
    ::close(fd);
    return result;
}

int ExfatResults::SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int baseDepth) {
    if (!node || !targetPath) {
        ReportRecovery(100, 87, targetPath);
        return 87;
    }
    std::wstring top(targetPath, wcsnlen(targetPath, kMaxTargetPathChars));
    if (!node->bIsDir) return SaveOne(node, top);
    return SaveFolderTree(
        *node, top, baseDepth,
        [&](_FILE_NODE_& folder, int depth, std::vector<_FILE_NODE_>& out) {
            return depth < 0 ? 87 : GetChildrenFileNode(&folder, unsigned(depth), out);
        },
        [&](_FILE_NODE_& file, const std::wstring& target) { return SaveOne(&file, target); });
}

int ExfatResults::PreView(_FILE_NODE_* node, wchar_t* tempPath, unsigned char* buffer, int& length,
                          PreViewCallBack cb, void* pParam) {
    auto report = [&](int progress, int ret) { return cb ? cb(pParam, progress, ret) : 0; };
    const int capacity = buffer && length > 0 ? length : 0;
    length = 0;
    if (!node || node->bIsDir) {
        report(100, 87);
        return 87;
    }
    int fd = -1;
    std::string tempFile;
    char ext[256] = {0};
    if (tempPath && std::strlen(node->szFileName) < sizeof ext && GetExtendName(node->szFileName, ext) == 0 && ext[0]) {
        GetCharLowerA(ext);
        if (std::strstr(g_szPhotoTypes, ext)) {
            std::string dir = GetScanLogDirPath();
            MakeDirectories(dir);
            tempFile = dir + "tmp." + ext;
            if (tempFile.size() < 256) {
                std::wstring wide = Utf8ToWide(tempFile.c_str());
                std::wcsncpy(tempPath, wide.c_str(), 255);
                tempPath[255] = 0;
                fd = ::open(tempFile.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
                if (fd < 0) {
                    int err = errno;
                    report(100, err);
                    return err;
                }
            }
        }
    }
    const uint64_t total = fd >= 0 ? node->u64FileSize : std::min<uint64_t>(node->u64FileSize, uint64_t(capacity));
    uint64_t done = 0;
    int result = total == 0 ? 0 : StreamData(*node, total, [&](const unsigned char* p, size_t n) {
        int err = 0;
        if (fd >= 0) err = WriteAll(fd, p, n);
        else std::memcpy(buffer + done, p, n);
        done += n;
        int ret = report(int(done * 100 / total), err);
        return ret != 0 ? ret : (cb ? 0 : err);
    });
    report(100, result);
    if (fd >= 0) {
        ::close(fd);
        if (result != 0) ::unlink(tempFile.c_str());
    } else {
        length = int(done);
    }
    return result;
}
