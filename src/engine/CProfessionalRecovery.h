#pragma once
// The deep scan: the quick engine's scan of the file system, then one pass over
// the free extents (or the whole area) offering every sector to the ordered list
// of deep engines (the carver last), with a resumable scan log.
#include "engine/CLogFileManager.h"
#include "engine/IDeepEngine.h"
#include "engine/IFileRecoveryParse.h"
#include "engine/OfferJournal.h"
#include "engine/PassReader.h"
#include "platform/CDiskReader.h"

#include <memory>
#include <string>
#include <vector>

class CProfessionalRecovery : public IFileRecoveryParse {
public:
    CProfessionalRecovery();
    ~CProfessionalRecovery() override;

    int Init(int diskNo, long long startSector, long long sectorCount, wchar_t driveLetter) override;
    int Init(wchar_t* devicePath, wchar_t driveLetter) override;
    int InitCallBack(ScanCallBack scanCb, RecoveryCallBack recoveryCb, void* pParam, int nPercent) override;
    int ScanDevice(wchar_t* path) override;
    int GetChildrenFileNode(_FILE_NODE_* parent, unsigned group, std::vector<_FILE_NODE_>& out) override;
    int GetChildrenFileCount(_FILE_NODE_* parent, unsigned group, unsigned& count) override;
    int GetLostFileCount() override;
    int GetFileNodeParentDirPath(_FILE_NODE_* node, wchar_t* path, int size) override;
    int SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int dirIndex) override;
    int GetUnUsedSectorCount(uint64_t&, uint64_t&) override { return 0; }
    int InitSearchCallBack(SearchCallBack cb, void* pParam) override;
    int SearchFileNode(wchar_t* key, std::vector<__SEARCH_FILE_INFO__>& out) override;
    int BuildBitMapInfo() override { return 0; }
    int PreView(_FILE_NODE_* node, wchar_t* tmpPath, unsigned char* buf, int& len, PreViewCallBack cb,
                void* pParam) override;

    int IsFindLogFile() const { return m_bFindLogFile; }
    // True when the area starts with a file system the quick engine reads.
    bool HasFileSystem() const { return m_pFastRecovery != nullptr; }
    // Discards an earlier result of this area: the next scan starts afresh.
    void SetNotLoadLogFile();
    int GetFileDataStartSector(_FILE_NODE_* node, uint64_t& absoluteSector) override;
    int ParseProfessionalFileInfo(unsigned char* buffer, int bytes, uint64_t firstSector, uint64_t scannedSectors,
                                  uint64_t totalSectors, int remainingSeconds, long long& overshoot,
                                  uint64_t& findFileCount);
    // Sectors of the area the pass could not read (they were skipped).
    uint64_t GetUnreadableSectorCount() const { return m_u64UnreadableSectors; }
    // The kinds the scan's found count counts, as a search key: the count shown
    // during the scan is then the number of files the same search will list.
    void SetFoundCountKey(const std::wstring& key) { m_strFoundKey = key; }
    // The first and the last of them, absolute; 0 when there is none.
    uint64_t GetFirstUnreadableSector() const { return m_u64FirstUnreadable; }
    uint64_t GetLastUnreadableSector() const { return m_u64LastUnreadable; }
    // Reads ahead on a thread of their own (the default), or in turn with the pass.
    void SetOverlappedReads(bool overlapped) { m_bOverlappedReads = overlapped; }

private:
    IFileRecoveryParse* EngineOf(const _FILE_NODE_* node);
    // The last deep engine: the carver.
    IDeepEngine& Carver() { return *m_DeepEngines.back(); }
    // A found file's first data sector and its extension; false when unknown.
    bool DataStartOf(_FILE_NODE_* node, uint64_t& sector, std::string& ext);
    bool CollectFreeExtents(std::vector<PassExtent>& extents, uint64_t& total);
    void BeginDeepEngines(const char* foundDir);
    // Files the search with the found-count key lists now (its progress unreported).
    uint64_t CountFound();
    // Offers the journal's sectors again to the engines before the carver.
    void OfferNotedAgain(uint64_t total);
    static int RelayScan(void* pParam, int nProgress, int nPercent, int nRemaindSecond, uint64_t cur, uint64_t total,
                         uint64_t found, wchar_t* name);
    static int RelayRecovery(void* pParam, int nProgress, int nPercent, int nErrorCode, wchar_t* name);

    int m_hDevice;
    uint32_t m_nDriveLetter;
    int m_nBytesPerSector;
    int m_nDiskNo;
    uint64_t m_u64StartSector;
    uint64_t m_u64SectorCount;
    CDiskReader m_DiskReader;
    std::vector<std::unique_ptr<IDeepEngine>> m_DeepEngines;  // in offer order, the carver last
    IFileRecoveryParse* m_pFastRecovery;
    int m_nPercent;
    ScanCallBack m_pScanCallBack;
    RecoveryCallBack m_pRecoveryCallBack;
    SearchCallBack m_pSearchCallBack;
    void* m_pSearchParam;
    void* m_pParam;
    int m_bFindLogFile;
    _LOG_FILE_INFO_ m_LogFileInfo;
    std::string m_strDevicePath;
    uint64_t m_u64UnreadableSectors;
    uint64_t m_u64FirstUnreadable = 0;
    uint64_t m_u64LastUnreadable = 0;
    bool m_bOverlappedReads = true;
    std::wstring m_strFoundKey;
    uint64_t m_u64FoundShown = 0;
    int m_nPassProgress = 0;
    uint64_t m_u64PassSector = 0;
    OfferJournal m_Offers;
};
