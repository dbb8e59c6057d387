#pragma once
// Placeholder engine for ext2/3/4 volumes: it opens the device and finds nothing.
#include "engine/IFileRecoveryParse.h"

class CFastExtRecovery : public IFileRecoveryParse {
public:
    CFastExtRecovery() = default;
    ~CFastExtRecovery() override;

    int Init(int diskNo, long long startSector, long long sectorCount, wchar_t driveLetter) override;
    int Init(wchar_t* devicePath, wchar_t driveLetter) override;
    int InitCallBack(ScanCallBack, RecoveryCallBack, void*, int) override { return 0; }
    int ScanDevice(wchar_t*) override { return 0; }
    int GetChildrenFileNode(_FILE_NODE_*, unsigned, std::vector<_FILE_NODE_>&) override { return 0; }
    int GetChildrenFileCount(_FILE_NODE_*, unsigned, unsigned&) override { return 0; }
    int GetLostFileCount() override { return 0; }
    int GetFileNodeParentDirPath(_FILE_NODE_*, wchar_t*, int) override { return 0; }
    int SaveFileData(_FILE_NODE_*, wchar_t*, int) override { return 0; }
    int GetUnUsedSectorCount(uint64_t&, uint64_t&) override { return 0; }
    int InitSearchCallBack(SearchCallBack, void*) override { return 0; }
    int SearchFileNode(wchar_t*, std::vector<__SEARCH_FILE_INFO__>&) override { return 0; }
    int BuildBitMapInfo() override { return 0; }
    int PreView(_FILE_NODE_*, wchar_t*, unsigned char*, int&, PreViewCallBack, void*) override { return 0; }

private:
    int m_hDevice = -1;
    long long m_llStartSector = 0;
    long long m_llSectorCount = 0;
};
