#pragma once
// The interface behind which every scan method works, its callbacks and modes.
#include "engine/FileNode.h"

#include <cstdint>
#include <vector>

enum RECOVERY_TYPE {
    RECOVERY_TYPE_FAST = 0,
    RECOVERY_TYPE_PROFESSIONAL = 1,
};

// Stop code of a user's stop request, everywhere.
constexpr int RECOVERY_STOPPED = -9527;

// Each callback gets back its registered context; a non-zero return asks the engine to stop.
typedef int (*ScanCallBack)(void* pParam, int nProgress, int nPercent, int nRemaindSecond, uint64_t u64CurSector,
                            uint64_t u64SectorCount, uint64_t u64FindFileCount, wchar_t* pRecoveryFileName);
typedef int (*RecoveryCallBack)(void* pParam, int nProgress, int nPercent, int nErrorCode, wchar_t* pRecoveryFileName);
typedef int (*SearchCallBack)(void* pParam, int nProgress, wchar_t* pRecoveryFileName);
typedef int (*PreViewCallBack)(void* pParam, int nProgress, int nRet);

class IFileRecoveryParse {
public:
    virtual int Init(int diskNo, long long startSector, long long sectorCount, wchar_t driveLetter) = 0;
    virtual int Init(wchar_t* devicePath, wchar_t driveLetter) = 0;
    virtual int InitCallBack(ScanCallBack scanCb, RecoveryCallBack recoveryCb, void* pParam, int nPercent) = 0;
    virtual int ScanDevice(wchar_t* path) = 0;
    virtual int GetChildrenFileNode(_FILE_NODE_* parent, unsigned group, std::vector<_FILE_NODE_>& out) = 0;
    virtual int GetChildrenFileCount(_FILE_NODE_* parent, unsigned group, unsigned& count) = 0;
    virtual int GetLostFileCount() = 0;
    virtual int GetFileNodeParentDirPath(_FILE_NODE_* node, wchar_t* path, int size) = 0;
    virtual int SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int dirIndex) = 0;
    virtual int GetUnUsedSectorCount(uint64_t& sector, uint64_t& count) = 0;
    virtual int InitSearchCallBack(SearchCallBack cb, void* pParam) = 0;
    virtual int SearchFileNode(wchar_t* key, std::vector<__SEARCH_FILE_INFO__>& out) = 0;
    virtual int BuildBitMapInfo() = 0;
    virtual int PreView(_FILE_NODE_* node, wchar_t* tmpPath, unsigned char* buf, int& len, PreViewCallBack cb,
                        void* pParam) = 0;
    // Absolute first sector of a found file's data (0), or 1 when the engine cannot tell:
    // the composite drops carved copies of files a file system already found.
    virtual int GetFileDataStartSector(_FILE_NODE_* node, uint64_t& absoluteSector) {
        (void)node;
        (void)absoluteSector;
        return 1;
    }
    virtual ~IFileRecoveryParse() = default;
};
