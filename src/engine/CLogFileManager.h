#pragma once
// The scan log: the index "config" of earlier deep scans and the numbered
// result folders in the scan-log folder.
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#pragma pack(push, 4)
struct _LOG_FILE_INFO_ {
    uint32_t nDiskNo;
    uint32_t nReserved;
    uint64_t u64StartSector;
    uint64_t u64SectorCount;
    uint64_t u64ExtentStart;
    uint64_t u64ExtentLength;
    uint64_t u64ExtentOffset;
    uint64_t u64ScannedSectors;
    uint64_t u64FindFileCount;
    uint64_t u64FreeSpace;
    uint64_t u64Reserved;          // records of the carver's store the position covers (0: unknown)
    char szDevicePath[256];
    char szLogDirPath[256];
};
#pragma pack(pop)
static_assert(sizeof(_LOG_FILE_INFO_) == 592, "_LOG_FILE_INFO_ is a 592-byte file format");

class CLogFileManager {
public:
    static CLogFileManager* GetInstance();

    // The current scan's result folder (256 bytes), with a trailing '/'. A process
    // that has not begun a folder yet gets one of its own here.
    void GetLogFileDirPath(char* out);
    // Begins a fresh result folder, created exclusively: never one that another
    // process (or an earlier scan) holds.
    void AddDirIndex();
    // Gives up the folder AddDirIndex began (removed when still empty).
    void ReduceDirIndex();
    // Names the folders AddDirIndex begins after the scanned area ("<id>-<n>").
    void SetScanAreaId(const std::string& id);
    int LoadRecoveryLogInfo(const char* devicePath, int diskNo, unsigned long long startSector,
                            unsigned long long sectorCount, _LOG_FILE_INFO_* out);
    int SaveLogFileInfo(const char* devicePath, int diskNo, uint64_t startSector, uint64_t sectorCount,
                        uint64_t extentStart, uint64_t extentLength, uint64_t extentOffset, uint64_t scannedSectors,
                        uint64_t findFileCount, const char* logDirPath, const char* scanPath,
                        uint64_t carvedRecords = 0);
    int GetLogFileNameByFileType(const char* dirPath, const char* prefix, char* out);
    int DeleteLogFileDir(const char* dirPath);
    int SaveLogConfigFile();

    // Forgets everything and loads the log again from the scan-log folder of the
    // current environment (ORVALE_SUPPORT_DIR); GetInstance does this by itself
    // when that folder has changed. Returns what loading returned: 0, 87 (no or
    // empty "config"), 30 or errno.
    int Reload();

    // Read-only views, for callers that show or check the log.
    std::vector<_LOG_FILE_INFO_> GetLogRecords();
    uint64_t GetDirIndex();
    std::string GetLogDirPath();

private:
    CLogFileManager();
    int Load();
    int FindRecord(int diskNo, uint64_t startSector, uint64_t sectorCount) const;
    int SaveLogConfigFileLocked();
    int DeleteLogFileDirLocked(const char* dirPath);
    void BeginOwnDirLocked();

    // The instance is shared by the user-interface thread and the scan worker;
    // the lock is re-entrant because adding a folder deletes a leftover one.
    std::recursive_mutex m_mutex;
    std::vector<_LOG_FILE_INFO_> m_vecLogFileInfo;
    std::string m_strLogDir;
    uint64_t m_u64DirIndex = 0;
    int m_bUseFindLogDir = 0;
    std::string m_strFindLogDir;
    std::string m_strOwnDir;          // the folder this process began, "" before the first
    std::string m_strAreaId;
    std::set<std::string> m_setDeleted; // folders whose records this process dropped
};

// Holds the lock of one scanned area (device or image, its size, first sector and
// count) while it lives, so that two processes never write results of one area.
class CScanAreaLock {
public:
    CScanAreaLock() = default;
    ~CScanAreaLock();
    CScanAreaLock(const CScanAreaLock&) = delete;
    CScanAreaLock& operator=(const CScanAreaLock&) = delete;

    // 0; EWOULDBLOCK while another process holds the area; else the errno met
    // creating the lock in the scan-log folder (the folder is unusable).
    int Acquire(const std::string& devicePath, uint64_t deviceBytes, uint64_t startSector, uint64_t sectorCount);
    // Hex identity of the area, the same in every process.
    const std::string& Id() const { return m_strId; }
    // Process that holds the area when Acquire returned EWOULDBLOCK (0 if unknown).
    long Holder() const { return m_lHolder; }

private:
    int m_fd = -1;
    long m_lHolder = 0;
    std::string m_strId;
};

// Deletes path and everything below it, by full paths; symbolic links are
// removed, never followed. 0 or the first errno met.
int remove_dir(const char* path);
// Deletes everything below the current working directory (the directory itself stays).
int dfs_remove_dir();
// Makes the files of a result folder and the folder itself durable (fsync), so that a
// position written after them never covers records a crash could still lose. 0 or errno.
int SyncFolder(const char* path);
