#include "carving/CFileTypeRecovery.h"

#include "carving/formats/CarvedFormat.h"

#include "engine/CScanResultFileManager.h"
#include "engine/FileCategories.h"
#include "platform/DeviceMap.h"
#include "platform/Log.h"
#include "platform/PathHelpers.h"
#include "platform/Portability.h"
#include "platform/TextCodec.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr int kPieceBytes = 65536;

// Types whose files may contain other files (an Office 97 document holds pictures,
// an AVI holds JPEG frames): the scan goes on at the next sector after them.
bool ResumesInside(EXTEND_NAME_TYPE t) {
    switch (t) {
    case TYPE_DOC: case TYPE_OLE: case TYPE_XLS: case TYPE_PPT: case TYPE_WAV: case TYPE_AVI: case TYPE_ASF:
    case TYPE_SWF: case TYPE_BMP: case TYPE_CAB: case TYPE_TTF: case TYPE_ICO:
        return true;
    default:
        return false;
    }
}

// Sectors of the device or image at path (0 when it cannot be measured).
uint64_t DeviceSectors(const wchar_t* path) {
    uint64_t bytes = 0;
    if (!path || GetDeviceSize(WideToUtf8(path), bytes) != 0) return 0;
    return bytes / 512;
}
} // namespace

CFileTypeRecovery::CFileTypeRecovery() = default;

CFileTypeRecovery::~CFileTypeRecovery() { m_pStore.reset(); }

std::wstring CFileTypeRecovery::MakeStoreName(long long startSector) {
    SYSTEMTIME st{};
    rsb_getLocalTime(&st);
    char name[128];
    std::snprintf(name, sizeof name, "File_Type_%lld_%d%d%d%d%2d", startSector, st.wYear, st.wMonth, st.wDay, st.wHour,
                  st.wMinute);
    return Ansi2Unicode(name);
}

int CFileTypeRecovery::OpenStore(const wchar_t* name) {
    m_pStore.reset(new CScanResultFileManager());
    int rc = m_pStore->Init(name);
    if (m_pSearchCallBack) m_pStore->InitSearchCallBack(m_pSearchCallBack, m_pSearchParam);
    if (rc) OrvaleLog("carving store init failed %d\n", rc);
    return rc;
}

// A new area: transport streams measured on an earlier one say nothing about it.
int CFileTypeRecovery::Init(int diskNo, long long startSector, long long sectorCount, wchar_t driveLetter) {
    CFileTypeJudge::m_tsFileRangeVec.clear();
    m_nDriveLetter = static_cast<uint32_t>(driveLetter);
    m_llStartSector = startSector;
    m_llSectorCount = sectorCount;
    m_pStore.reset();
    return m_DiskReader.Init(diskNo, static_cast<uint64_t>(startSector + sectorCount));
}

int CFileTypeRecovery::Init(wchar_t* devicePath, wchar_t driveLetter) {
    CFileTypeJudge::m_tsFileRangeVec.clear();
    m_nDriveLetter = static_cast<uint32_t>(driveLetter);
    m_llStartSector = 0;
    // A bound of 0 would refuse every read: the whole device is the area.
    uint64_t sectors = DeviceSectors(devicePath);
    m_llSectorCount = static_cast<long long>(sectors);
    m_pStore.reset();
    return m_DiskReader.Init(devicePath, sectors);
}

int CFileTypeRecovery::BeginDeepPass(wchar_t* storeName) {
    return OpenStore(storeName ? storeName : MakeStoreName(m_llStartSector).c_str());
}

int CFileTypeRecovery::OfferSector(const DeepSector& s, uint64_t& used, uint64_t& findFileCount) {
    used = 1;
    int rc = ParseFileBuf(const_cast<unsigned char*>(s.data), 512, s.absolute, s.scanned, s.total, s.remainingSeconds,
                          s.reader, 512, used, findFileCount);
    if (rc == RECOVERY_STOPPED) return rc;
    if (used == 0) used = 1;
    return 1;
}

int CFileTypeRecovery::EndDeepPass() {
    if (m_pStore) m_pStore->FlushBufToFile();
    return 0;
}

int CFileTypeRecovery::InitCallBack(ScanCallBack scanCb, RecoveryCallBack recoveryCb, void* pParam, int nPercent) {
    m_pScanCallBack = scanCb;
    m_pRecoveryCallBack = recoveryCb;
    m_pParam = pParam;
    m_nPercent = nPercent;
    CFileTypeJudge::InitCallBack(scanCb, recoveryCb, pParam, nPercent);
    return 0;
}

int CFileTypeRecovery::ParseFileBuf(unsigned char* buf, int len, uint64_t sector, uint64_t scannedSectors,
                                    uint64_t totalSectors, int remainSeconds, CDiskReader* reader, int bytesPerSector,
                                    uint64_t& sectorsUsed, uint64_t& fileCount) {
    m_nBytesPerSector = bytesPerSector > 0 ? bytesPerSector : 512;
    char name[256] = {0};
    EXTEND_NAME_TYPE type = TYPE_UNKNOWN;
    uint64_t length = 0;
    // Inside a file that may hold others, printable bytes are its data, not a text file.
    int rc = m_FileTypeJudge.ParseFileBuf(buf, len, sector, scannedSectors, totalSectors, remainSeconds, fileCount,
                                          reader, m_nBytesPerSector, name, type, length, sector >= m_u64InsideEnd);
    if (rc != 0) return rc;
    if (!m_pStore) OpenStore(MakeStoreName(m_llStartSector).c_str());

    _FILE_NODE_* node = reinterpret_cast<_FILE_NODE_*>(m_pStore->CreateFileNode(sizeof(_FILE_NODE_)));
    if (!node) return 8;
    std::memset(node, 0, sizeof *node);
    node->bIsHealth = 1;
    node->nFileSystemType = FS_TYPE_FILE_TYPE;
    node->nDriveLetter = m_nDriveLetter;
    node->nClusterBytes = 0xFFFFFFFF;
    node->nFileIndex = m_pStore->GetFileIndex();
    node->u64FileSize = length;
    node->u64RecordSector = sector;
    std::snprintf(node->szFileName, sizeof node->szFileName, "%s", name);
    m_pStore->AddChildren(0, 0, node->nFileIndex, 0, nullptr);

    uint64_t bps = static_cast<uint64_t>(m_nBytesPerSector);
    sectorsUsed = ResumesInside(type) ? 1 : std::max<uint64_t>(1, (length + bps - 1) / bps);
    if (ResumesInside(type)) m_u64InsideEnd = std::max(m_u64InsideEnd, sector + (length + bps - 1) / bps);
    ++fileCount;
    return 0;
}

int CFileTypeRecovery::ParseFileBuf(unsigned char* buf, int len, uint64_t sector, uint64_t scannedSectors,
                                    uint64_t totalSectors, int remainSeconds, CDiskReader* reader, int bytesPerSector,
                                    int& sectorsUsed, uint64_t& fileCount) {
    uint64_t used = static_cast<uint64_t>(std::max(sectorsUsed, 0));
    int rc = ParseFileBuf(buf, len, sector, scannedSectors, totalSectors, remainSeconds, reader, bytesPerSector, used,
                          fileCount);
    sectorsUsed = static_cast<int>(std::min<uint64_t>(used, 0x7FFFFFFF));
    return rc;
}

int CFileTypeRecovery::GetChildrenFileNode(_FILE_NODE_* parent, unsigned group, std::vector<_FILE_NODE_>& out) {
    if (!m_pStore) return 0;
    m_pStore->FlushBufToFile();
    if (parent || group != 0) return 0;
    return m_pStore->GetChildrenFileNode(0, out);
}

int CFileTypeRecovery::GetChildrenFileCount(_FILE_NODE_* parent, unsigned group, unsigned& count) {
    if (!m_pStore) return 0;
    m_pStore->FlushBufToFile();
    if (parent || group != 0) return 0;
    return m_pStore->GetChildrenFileCount(0, count);
}

int CFileTypeRecovery::GetLostFileCount() { return m_pStore ? static_cast<int>(m_pStore->GetFileIndex()) : 0; }

int CFileTypeRecovery::InitSearchCallBack(SearchCallBack cb, void* pParam) {
    m_pSearchCallBack = cb;
    m_pSearchParam = pParam;
    if (!m_pStore) return 87;
    m_pStore->InitSearchCallBack(cb, pParam);
    return 0;
}

int CFileTypeRecovery::SearchFileNode(wchar_t* key, std::vector<__SEARCH_FILE_INFO__>& out) {
    if (!m_pStore) return 0;
    return m_pStore->SearchFileNodeInfo(key, out);
}

template <typename Progress>
int CFileTypeRecovery::CopyData(uint64_t sector, uint64_t size, int fd, unsigned char* buf, int bufLen, int& copied,
                                Progress progress) {
    copied = 0;
    const int bps = m_nBytesPerSector > 0 ? m_nBytesPerSector : 512;
    const int pieceSectors = std::max(1, kPieceBytes / bps);
    std::vector<unsigned char> piece(static_cast<size_t>(pieceSectors) * bps);
    uint64_t sectorsLeft = (size + bps - 1) / bps;
    uint64_t left = size;
    uint64_t at = sector;
    // Straight from the device to the file where the kernel can; from the first
    // piece it cannot, through the reads below, which find and report what failed.
    const off_t base = fd >= 0 && !buf && bps == 512 ? ::lseek(fd, 0, SEEK_CUR) : -1;
    while (base >= 0 && left > 0) {
        const uint64_t want = std::min<uint64_t>(left, 4 * kMiB);
        uint64_t written = 0;
        const int rc = m_DiskReader.CopyToFile(fd, at, want, &written);
        const uint64_t whole = rc == 0 ? written : written / 512 * 512;
        left -= whole;
        at += whole / 512;
        sectorsLeft = (left + 511) / 512;
        if (rc != 0) {
            const off_t end = base + static_cast<off_t>(size - left);
            if (::ftruncate(fd, end) != 0 || ::lseek(fd, end, SEEK_SET) < 0) return errno;
            break;
        }
        if (int stop = progress(size - left, size)) return stop;
    }
    while (sectorsLeft > 0 && left > 0) {
        int want = static_cast<int>(std::min<uint64_t>(pieceSectors, sectorsLeft));
        unsigned got = 0;
        int rc = m_DiskReader.ReadData(piece.data(), want, static_cast<long long>(at), bps, &got);
        if (got == 0) return rc ? rc : 30;
        uint64_t bytes = std::min<uint64_t>(static_cast<uint64_t>(got) * bps, left);
        if (fd >= 0) {
            int w = WriteAll(fd, piece.data(), static_cast<size_t>(bytes));
            if (w) return w;
        }
        if (buf) {
            uint64_t room = static_cast<uint64_t>(bufLen - copied);
            uint64_t n = std::min(bytes, room);
            std::memcpy(buf + copied, piece.data(), static_cast<size_t>(n));
            copied += static_cast<int>(n);
        }
        left -= bytes;
        sectorsLeft -= got;
        at += got;
        int stop = progress(size - left, size);
        if (stop) return stop;
        if (buf && copied >= bufLen) break;
        if (rc) return rc; // the device gave only part of the piece
    }
    return 0;
}

int CFileTypeRecovery::SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int) {
    wchar_t path[1024] = {0};
    if (targetPath) std::wcsncpy(path, targetPath, 1023);
    return SaveDataToTargetFile(node, path);
}

int CFileTypeRecovery::SaveDataToTargetFile(_FILE_NODE_* node, const wchar_t* targetPath) {
    wchar_t* reportPath = const_cast<wchar_t*>(targetPath);
    if (!node || !targetPath) {
        if (m_pRecoveryCallBack) m_pRecoveryCallBack(m_pParam, 100, 100, 87, reportPath);
        return 87;
    }
    std::string utf8 = WideToUtf8(targetPath);
    int fd = ::open(utf8.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        int err = errno;
        OrvaleLog("open Recovery File  erro = %d\n", err);
        if (m_pRecoveryCallBack) m_pRecoveryCallBack(m_pParam, 100, 100, err, reportPath);
        return err;
    }
    int copied = 0;
    int rc = CopyData(node->u64RecordSector, node->u64FileSize, fd, nullptr, 0, copied, [&](uint64_t done, uint64_t size) {
        if (!m_pRecoveryCallBack) return 0;
        return m_pRecoveryCallBack(m_pParam, static_cast<int>(done * 100 / size), 100, 0, reportPath);
    });
    if (rc > 0 && m_pRecoveryCallBack) m_pRecoveryCallBack(m_pParam, 100, 100, rc, reportPath);
    ::close(fd);
    return rc;
}

int CFileTypeRecovery::PreView(_FILE_NODE_* node, wchar_t* tmpPath, unsigned char* buf, int& len, PreViewCallBack cb,
                               void* pParam) {
    if (!node) {
        len = 0;
        return 87;
    }
    char ext[256] = {0};
    bool photo = GetExtendName(node->szFileName, ext) == 0 && ext[0] && IsExtensionInList(ext, g_szPhotoTypes);
    int fd = -1;
    std::string tmp;
    if (photo) {
        std::string dir = GetScanLogDirPath();
        MakeDirectories(dir);
        std::string lower(ext);
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        tmp = dir + "tmp." + lower;
        if (tmp.size() >= 256 || !tmpPath) {
            len = 0;
            return 87;
        }
        std::wstring wide = Utf8ToWide(tmp.c_str());
        std::wcsncpy(tmpPath, wide.c_str(), 255);
        fd = ::open(tmp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            int err = errno;
            len = 0;
            if (cb) cb(pParam, 100, err);
            return err;
        }
    }
    uint64_t size = node->u64FileSize;
    int bufLen = 0;
    if (!photo) {
        if (!buf || len < 0) len = 0;
        bufLen = static_cast<uint64_t>(len) < size ? len : static_cast<int>(size);
        size = static_cast<uint64_t>(bufLen);
    }
    int copied = 0;
    int rc = 0;
    if (size > 0)
        rc = CopyData(node->u64RecordSector, size, fd, photo ? nullptr : buf, bufLen, copied,
                      [&](uint64_t done, uint64_t total) {
                          return cb ? cb(pParam, static_cast<int>(done * 100 / total), 0) : 0;
                      });
    if (cb) cb(pParam, 100, rc);
    if (fd >= 0) {
        ::close(fd);
        if (rc) ::unlink(tmp.c_str());
    }
    len = photo ? 0 : copied;
    return rc;
}
