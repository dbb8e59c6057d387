// The scan log's index "config" as found on disk: loaded, looked up for resuming and saved again.
#include "FuzzSupport.h"
#include "platform/PathHelpers.h"

ORVALE_FUZZ_TARGET {
    FuzzEnvironmentDir();
    CLogFileManager* log = CLogFileManager::GetInstance();
    const std::string dir = GetScanLogDirPath();
    MakeDirectories(dir);
    FuzzWriteFile(dir + "config", data, size);
    std::remove((dir + "config.tmp").c_str());
    if (log->Reload() != 0) return;
    const std::vector<_LOG_FILE_INFO_> records = log->GetLogRecords();
    char path[256], name[256] = {0}, logDir[256];
    log->GetLogFileDirPath(path);
    if (!records.empty()) {
        _LOG_FILE_INFO_ found;
        const _LOG_FILE_INFO_& r = records.front();
        log->LoadRecoveryLogInfo(r.szDevicePath, static_cast<int>(r.nDiskNo), r.u64StartSector, r.u64SectorCount, &found);
        std::snprintf(logDir, sizeof logDir, "%s", r.szLogDirPath);
        log->GetLogFileNameByFileType(logDir, const_cast<char*>("File_Type_"), name);
    }
    log->SaveLogConfigFile();
}
