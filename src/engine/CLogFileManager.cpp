#include "engine/CLogFileManager.h"

#include "platform/DeviceMap.h"
#include "platform/Log.h"
#include "platform/Portability.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
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

// Serialises the read-merge-replace of "config" between processes.
class ConfigLock {
public:
    explicit ConfigLock(const std::string& logDir)
        : m_fd(::open((logDir + "config.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
        // Held for a moment only; a holder that was suspended (Ctrl-Z) must not
        // hang every other scan, which then go on unserialised after a while.
        for (int tries = 0; m_fd >= 0 && tries < 500; ++tries) {
            if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) return;
            ::usleep(10000);
        }
    }
    ~ConfigLock() {
        if (m_fd >= 0) ::close(m_fd);
    }
    ConfigLock(const ConfigLock&) = delete;
    ConfigLock& operator=(const ConfigLock&) = delete;

private:
    int m_fd;
};

// Reads the counter and whole records of a "config" file: 0, 87 (missing or
// empty), 30 (shorter than the counter) or errno.
int ReadConfig(const std::string& path, uint64_t& counter, std::vector<_LOG_FILE_INFO_>& records) {
    counter = 0;
    records.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? 87 : errno;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        int err = errno;
        ::close(fd);
        return err;
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
    if (st.st_size == 0) return 87;
    if (got == 0) return err ? err : 30;
    if (got < kCounterBytes) return 30;
    std::memcpy(&counter, data.data(), kCounterBytes);
    for (size_t off = kCounterBytes; off + kRecordBytes <= got; off += kRecordBytes) {
        _LOG_FILE_INFO_ info;
        std::memcpy(&info, data.data() + off, kRecordBytes);
        info.szDevicePath[sizeof info.szDevicePath - 1] = 0;
        info.szLogDirPath[sizeof info.szLogDirPath - 1] = 0;
        records.push_back(info);
    }
    return 0;
}

bool SameArea(const _LOG_FILE_INFO_& a, const _LOG_FILE_INFO_& b) {
    return a.nDiskNo == b.nDiskNo && a.u64StartSector == b.u64StartSector && a.u64SectorCount == b.u64SectorCount;
}

uint64_t Fnv1a64(const std::string& text) {
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
    return h;
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

int SyncFolder(const char* path) {
    if (!path || !*path) return EINVAL;
    DIR* dir = ::opendir(path);
    if (!dir) return errno;
    int result = 0;
    std::string base = path;
    if (base.back() != '/') base += '/';
    while (dirent* e = ::readdir(dir)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
        int fd = ::open((base + e->d_name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) continue;
        struct stat st;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::fsync(fd) != 0 && !result) result = errno;
        ::close(fd);
    }
    if (::fsync(::dirfd(dir)) != 0 && !result && errno != EINVAL) result = errno;
    ::closedir(dir);
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
    m_strOwnDir.clear();
    m_setDeleted.clear();
    m_strLogDir = GetScanLogDirPath();
    MakeDirectories(m_strLogDir);

    const std::string config = m_strLogDir + "config";
    const std::string tmp = m_strLogDir + "config.tmp";
    ConfigLock guard(m_strLogDir);
    // A save that stopped before its copy replaced the index left only the copy
    // (an empty index holds nothing worth keeping over it).
    struct stat st;
    bool noIndex = ::stat(config.c_str(), &st) != 0 || st.st_size == 0;
    if (noIndex && ::stat(tmp.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        ::rename(tmp.c_str(), config.c_str());
    int rc = ReadConfig(config, m_u64DirIndex, m_vecLogFileInfo);
    if (rc != 0) m_u64DirIndex = 0;
    return rc;
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
    if (!m_bUseFindLogDir && m_strOwnDir.empty()) BeginOwnDirLocked();
    CopyText(out, 256, (m_bUseFindLogDir ? m_strFindLogDir : m_strOwnDir).c_str());
}

void CLogFileManager::BeginOwnDirLocked() {
    m_bUseFindLogDir = 0;
    MakeDirectories(m_strLogDir);
    // Other processes count on from what they saved; a folder that exists
    // belongs to someone (or to a scan that was killed) and is passed over.
    uint64_t counter = 0;
    std::vector<_LOG_FILE_INFO_> ignored;
    if (ReadConfig(m_strLogDir + "config", counter, ignored) == 0 && counter > m_u64DirIndex) m_u64DirIndex = counter;
    for (int tries = 0;; ++tries) {
        ++m_u64DirIndex;
        std::string name = (m_strAreaId.empty() ? "" : m_strAreaId + "-") + std::to_string(m_u64DirIndex);
        m_strOwnDir = m_strLogDir + name + "/";
        if (::mkdir(m_strOwnDir.c_str(), 0755) == 0 || errno != EEXIST || tries >= 100000) break;
    }
    SaveLogConfigFileLocked();
}

void CLogFileManager::AddDirIndex() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    BeginOwnDirLocked();
}

void CLogFileManager::ReduceDirIndex() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (m_strOwnDir.empty()) return;
    bool recorded = false;
    for (const _LOG_FILE_INFO_& r : m_vecLogFileInfo) recorded |= m_strOwnDir == r.szLogDirPath;
    if (!recorded) remove_dir(m_strOwnDir.c_str());
    m_strOwnDir.clear();
    if (m_u64DirIndex > 0) --m_u64DirIndex;
}

void CLogFileManager::SetScanAreaId(const std::string& id) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_strAreaId = id;
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
                                     const char* scanPath, uint64_t carvedRecords) {
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
            r.u64Reserved = carvedRecords;
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
    r.u64Reserved = carvedRecords;
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
    m_setDeleted.insert(dirPath);
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
    ConfigLock guard(m_strLogDir);
    // Records other processes saved since this one loaded are kept, unless this
    // process holds a newer one of their area or dropped their folder.
    uint64_t counter = 0;
    std::vector<_LOG_FILE_INFO_> onDisk;
    if (ReadConfig(config, counter, onDisk) == 0) {
        if (counter > m_u64DirIndex) m_u64DirIndex = counter;
        for (const _LOG_FILE_INFO_& r : onDisk) {
            bool superseded = m_setDeleted.count(r.szLogDirPath) > 0;
            for (const _LOG_FILE_INFO_& mine : m_vecLogFileInfo)
                superseded |= std::strcmp(mine.szLogDirPath, r.szLogDirPath) == 0 ||
                              (!r.szDevicePath[0] && !mine.szDevicePath[0] && SameArea(mine, r));
            if (!superseded) m_vecLogFileInfo.push_back(r);
        }
    }
    int fd = ::open(tmp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    std::vector<char> data(kCounterBytes + m_vecLogFileInfo.size() * kRecordBytes);
    std::memcpy(data.data(), &m_u64DirIndex, kCounterBytes);
    if (!m_vecLogFileInfo.empty())
        std::memcpy(data.data() + kCounterBytes, m_vecLogFileInfo.data(), m_vecLogFileInfo.size() * kRecordBytes);
    int err = WriteAll(fd, data.data(), data.size());
    if (!err && ::fsync(fd) != 0) err = errno;
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

CScanAreaLock::~CScanAreaLock() {
    if (m_fd >= 0) ::close(m_fd);
}

int CScanAreaLock::Acquire(const std::string& devicePath, uint64_t deviceBytes, uint64_t startSector,
                           uint64_t sectorCount) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_lHolder = 0;
    char real[PATH_MAX];
    std::string identity = ::realpath(devicePath.c_str(), real) ? real : devicePath;
    identity += "|" + std::to_string(deviceBytes) + "|" + std::to_string(startSector) + "|" + std::to_string(sectorCount);
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(Fnv1a64(identity)));
    m_strId = hex;

    const std::string logDir = GetScanLogDirPath();
    if (int rc = MakeDirectories(logDir)) return rc;
    const std::string path = logDir + "area-" + m_strId + ".lock";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int err = errno == EWOULDBLOCK ? EWOULDBLOCK : errno;
        char pid[32] = {0};
        if (::pread(fd, pid, sizeof pid - 1, 0) > 0) m_lHolder = std::strtol(pid, nullptr, 10);
        ::close(fd);
        return err;
    }
    // The holder's number, for the message a second scan of the area shows.
    std::string pid = std::to_string(static_cast<long>(::getpid())) + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        int err = errno ? errno : EIO;
        ::close(fd);
        return err;
    }
    m_fd = fd;
    return 0;
}
