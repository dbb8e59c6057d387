#include "engine/CLogFileManager.h"

#include "platform/DeviceMap.h"
#include "platform/Log.h"
#include "platform/Portability.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr size_t kCounterBytes = 8;
constexpr size_t kRecordBytes = sizeof(_LOG_FILE_INFO_);

void CopyText(char* dst, size_t dstSize, const char* src) {
    if (!dst || dstSize == 0) return;
    size_t n = src ? strnlen(src, dstSize - 1) : 0;
    if (n) std::memcpy(dst, src, n);
    dst[n] = 0;
}

uint64_t FreeSpaceOf(const char* devicePath) {
    if (!devicePath || !*devicePath) return 0;
    std::string copy = devicePath; // the query cuts the path in place
    unsigned high = 0, low = 0;
    if (rsb_getFreeSpace(&copy[0], 0, &high, &low) != 0) return 0;
    return (uint64_t(high) << 32) | low;
}

int WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

// A scan-log record names the folder it may delete; a damaged or foreign
// "config" must not be able to point that deletion outside the log folder.
bool IsInsideFolder(const std::string& folder, const std::string& path) {
    if (folder.empty() || path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0) return false;
    std::string rest = path.substr(folder.size());
    size_t pos = 0;
    while (pos <= rest.size()) {
        size_t slash = rest.find('/', pos);
        std::string part = rest.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
        if (part == "..") return false;
        if (slash == std::string::npos) break;
        pos = slash + 1;
    }
    return rest.find_first_not_of('/') != std::string::npos;
}
} // namespace

int remove_dir(const char* path) {
    if (!path || !*path) return EINVAL;
    struct stat st;
    if (::lstat(path, &st) != 0) return errno;
    if (!S_ISDIR(st.st_mode)) return ::unlink(path) == 0 ? 0 : errno;
    int result = 0;
    if (DIR* dir = ::opendir(path)) {
        std::string base = path;
        if (base.back() != '/') base += '/';
        while (dirent* e = ::readdir(dir)) {
            if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
            int r = remove_dir((base + e->d_name).c_str());
            if (r && !result) result = r;
        }
        ::closedir(dir);
    } else {
        result = errno;
    }
    if (::rmdir(path) != 0 && !result) result = errno;
    return result;
}

int dfs_remove_dir() {
    char cwd[4096];
    if (!::getcwd(cwd, sizeof cwd)) return errno;
    DIR* dir = ::opendir(cwd);
    if (!dir) return errno;
    std::vector<std::string> names;
    while (dirent* e = ::readdir(dir))
        if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.push_back(e->d_name);
    ::closedir(dir);
    int result = 0;
    for (const std::string& name : names) {
        int r = remove_dir((std::string(cwd) + "/" + name).c_str());
        if (r && !result) result = r;
    }
    return result;
}

CLogFileManager* CLogFileManager::GetInstance() {
    static CLogFileManager instance;
    // The support folder may change while the process runs; the log follows it
    // rather than keeping the first folder it saw.
    std::lock_guard<std::recursive_mutex> lock(instance.m_mutex);
    if (instance.m_strLogDir != GetScanLogDirPath()) instance.Load();
    return &instance;
}

CLogFileManager::CLogFileManager() { Load(); }

int CLogFileManager::Reload() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return Load();
}

int CLogFileManager::Load() {
    m_vecLogFileInfo.clear();
    m_u64DirIndex = 0;
    m_bUseFindLogDir = 0;
    m_strFindLogDir.clear();
    m_strLogDir = GetScanLogDirPath();
    MakeDirectories(m_strLogDir);

    const std::string config = m_strLogDir + "config";
    const std::string tmp = m_strLogDir + "config.tmp";
    // A save that stopped before its copy replaced the index left only the copy
    // (an empty index holds nothing worth keeping over it).
    struct stat st;
    bool noIndex = ::stat(config.c_str(), &st) != 0 || st.st_size == 0;
    if (noIndex && ::stat(tmp.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        ::rename(tmp.c_str(), config.c_str());

    int fd = ::open(config.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return 87;
    if (::fstat(fd, &st) != 0) {
        int err = errno;
        ::close(fd);
        return err;
    }
    if (st.st_size == 0) {
        ::close(fd);
        return 87;
    }
    std::vector<char> data(static_cast<size_t>(st.st_size));
    size_t got = 0;
    int err = 0;
    while (got < data.size()) {
        ssize_t n = ::read(fd, data.data() + got, data.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) err = errno;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    if (got == 0) return err ? err : 30;
    if (got < kCounterBytes) return 30;

    std::memcpy(&m_u64DirIndex, data.data(), kCounterBytes);
    for (size_t off = kCounterBytes; off + kRecordBytes <= got; off += kRecordBytes) {
        _LOG_FILE_INFO_ info;
        std::memcpy(&info, data.data() + off, kRecordBytes);
        info.szDevicePath[sizeof info.szDevicePath - 1] = 0;
        info.szLogDirPath[sizeof info.szLogDirPath - 1] = 0;
        m_vecLogFileInfo.push_back(info);
    }
    return 0;
}

std::vector<_LOG_FILE_INFO_> CLogFileManager::GetLogRecords() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_vecLogFileInfo;
}

uint64_t CLogFileManager::GetDirIndex() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_u64DirIndex;
}

std::string CLogFileManager::GetLogDirPath() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_strLogDir;
}

void CLogFileManager::GetLogFileDirPath(char* out) {
    if (!out) return;
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    std::string path = m_bUseFindLogDir ? m_strFindLogDir
                                        : m_strLogDir + std::to_string(static_cast<long long>(m_u64DirIndex)) + "/";
    CopyText(out, 256, path.c_str());
}

void CLogFileManager::AddDirIndex() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    ++m_u64DirIndex;
    m_bUseFindLogDir = 0;
    char path[256];
    GetLogFileDirPath(path);
    DeleteLogFileDirLocked(path);
}

void CLogFileManager::ReduceDirIndex() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (m_u64DirIndex > 0) --m_u64DirIndex;
}

int CLogFileManager::FindRecord(int diskNo, uint64_t startSector, uint64_t sectorCount) const {
    for (size_t i = 0; i < m_vecLogFileInfo.size(); ++i) {
        const _LOG_FILE_INFO_& r = m_vecLogFileInfo[i];
        if (r.nDiskNo == static_cast<uint32_t>(diskNo) && r.u64StartSector == startSector &&
            r.u64SectorCount == sectorCount)
            return static_cast<int>(i);
    }
    return -1;
}

int CLogFileManager::LoadRecoveryLogInfo(const char* devicePath, int diskNo, unsigned long long startSector,
                                         unsigned long long sectorCount, _LOG_FILE_INFO_* out) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    uint64_t freeSpace = FreeSpaceOf(devicePath);
    int i = FindRecord(diskNo, startSector, sectorCount);
    if (i >= 0 && m_vecLogFileInfo[i].u64FreeSpace == freeSpace) {
        m_bUseFindLogDir = 1;
        m_strFindLogDir = m_vecLogFileInfo[i].szLogDirPath;
        if (out) *out = m_vecLogFileInfo[i];
        return 1;
    }
    if (i >= 0) {
        std::string stale = m_vecLogFileInfo[i].szLogDirPath;
        DeleteLogFileDirLocked(stale.c_str());
    }
    m_bUseFindLogDir = 0;
    m_strFindLogDir.clear();
    return 0;
}

int CLogFileManager::SaveLogFileInfo(const char* devicePath, int diskNo, uint64_t startSector, uint64_t sectorCount,
                                     uint64_t extentStart, uint64_t extentLength, uint64_t extentOffset,
                                     uint64_t scannedSectors, uint64_t findFileCount, const char* logDirPath,
                                     const char* scanPath) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    uint64_t freeSpace = 0;
    const bool byPath = scanPath && *scanPath;
    if (!byPath) {
        freeSpace = FreeSpaceOf(devicePath);
        int i = FindRecord(diskNo, startSector, sectorCount);
        if (i >= 0 && m_vecLogFileInfo[i].u64FreeSpace == freeSpace) {
            _LOG_FILE_INFO_& r = m_vecLogFileInfo[i];
            r.u64ExtentStart = extentStart;
            r.u64ExtentLength = extentLength;
            r.u64ExtentOffset = extentOffset;
            r.u64ScannedSectors = scannedSectors;
            r.u64FindFileCount = findFileCount;
            SaveLogConfigFileLocked();
            return 0;
        }
        if (i >= 0) {
            std::string stale = m_vecLogFileInfo[i].szLogDirPath;
            DeleteLogFileDirLocked(stale.c_str());
        }
    }
    _LOG_FILE_INFO_ r;
    std::memset(&r, 0, sizeof r);
    r.nDiskNo = static_cast<uint32_t>(diskNo);
    r.u64StartSector = startSector;
    r.u64SectorCount = sectorCount;
    r.u64ExtentStart = extentStart;
    r.u64ExtentLength = extentLength;
    r.u64ExtentOffset = extentOffset;
    r.u64ScannedSectors = scannedSectors;
    r.u64FindFileCount = findFileCount;
    r.u64FreeSpace = freeSpace;
    CopyText(r.szLogDirPath, sizeof r.szLogDirPath, logDirPath);
    CopyText(r.szDevicePath, sizeof r.szDevicePath, scanPath);
    m_vecLogFileInfo.push_back(r);
    SaveLogConfigFileLocked();
    return 0;
}

static bool EndsWith(const char* text, const char* suffix) {
    size_t n = std::strlen(text), m = std::strlen(suffix);
    return n >= m && std::strcmp(text + n - m, suffix) == 0;
}

int CLogFileManager::GetLogFileNameByFileType(const char* dirPath, const char* prefix, char* out) {
    DIR* dir = dirPath ? ::opendir(dirPath) : nullptr;
    if (!dir) {
        OrvaleLog("open dir failed\n");
        return 0;
    }
    while (dirent* e = ::readdir(dir)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
        // A store is three files; only its node file names the store. Taking a
        // companion file here would reopen "X_Relation" as a store of its own.
        if (EndsWith(e->d_name, "_Relation") || EndsWith(e->d_name, "_DirInfo")) continue;
        if (std::strstr(e->d_name, prefix ? prefix : "")) {
            CopyText(out, 256, e->d_name);
            break;
        }
    }
    ::closedir(dir);
    return 0;
}

int CLogFileManager::DeleteLogFileDir(const char* dirPath) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return DeleteLogFileDirLocked(dirPath);
}

int CLogFileManager::DeleteLogFileDirLocked(const char* dirPath) {
    if (!dirPath) return 0;
    for (auto it = m_vecLogFileInfo.begin(); it != m_vecLogFileInfo.end(); ++it) {
        if (::strcasecmp(it->szLogDirPath, dirPath) == 0) {
            m_vecLogFileInfo.erase(it);
            break;
        }
    }
    if (IsInsideFolder(m_strLogDir, dirPath)) remove_dir(dirPath);
    else OrvaleLog("CLogFileManager: not deleting %s outside the scan log\n", dirPath);
    return 0;
}

int CLogFileManager::SaveLogConfigFile() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return SaveLogConfigFileLocked();
}

int CLogFileManager::SaveLogConfigFileLocked() {
    MakeDirectories(m_strLogDir);
    const std::string config = m_strLogDir + "config";
    const std::string tmp = m_strLogDir + "config.tmp";
    int fd = ::open(tmp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    std::vector<char> data(kCounterBytes + m_vecLogFileInfo.size() * kRecordBytes);
    std::memcpy(data.data(), &m_u64DirIndex, kCounterBytes);
    if (!m_vecLogFileInfo.empty())
        std::memcpy(data.data() + kCounterBytes, m_vecLogFileInfo.data(), m_vecLogFileInfo.size() * kRecordBytes);
    int err = WriteAll(fd, data.data(), data.size());
    if (::close(fd) != 0 && !err) err = errno;
    if (err) {
        // The index on disk stays as it was rather than being replaced by a torn copy.
        ::unlink(tmp.c_str());
        return err;
    }
    // rename replaces "config" in one step: there is never a moment without an index.
    if (::rename(tmp.c_str(), config.c_str()) != 0) return errno;
    return 0;
}
