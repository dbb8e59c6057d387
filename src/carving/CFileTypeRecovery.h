#pragma once
// The engine that finds files without a file system: the deep scan offers it one
// sector at a time; where the signature judge sees a file start, the type's
// length rule measures the file and a node "<start sector>.<ext>" is stored
// under relation key 0. Carved files have no folders. Its store is opened when a
// pass begins (or by the first file found), not at Init, so a resumed scan
// reopens its store instead of starting another.
#include "carving/CFileTypeJudge.h"
#include "engine/IDeepEngine.h"
#include "platform/CDiskReader.h"

#include <cstdint>
#include <memory>
#include <string>

class CScanResultFileManager;

class CFileTypeRecovery : public IDeepEngine {
public:
    CFileTypeRecovery();
    ~CFileTypeRecovery() override;

    int Init(int diskNo, long long startSector, long long sectorCount, wchar_t driveLetter) override;
    int Init(wchar_t* devicePath, wchar_t driveLetter) override;

    // IDeepEngine: last in the pass, it takes every sector nobody claimed.
    const char* StorePrefix() const override { return "File_Type_"; }
    int BeginDeepPass(wchar_t* storeName) override;
    int OfferSector(const DeepSector& sector, uint64_t& used, uint64_t& findFileCount) override;
    int EndDeepPass() override;
    bool OwnsRecordType(uint32_t type) const override { return type == FS_TYPE_FILE_TYPE; }
    int InitCallBack(ScanCallBack scanCb, RecoveryCallBack recoveryCb, void* pParam, int nPercent) override;

    // One carving step at an absolute sector: 0 with sectorsUsed set (1 for types
    // that may hold other files), 87 when no carvable file starts here, -9527
    // when the user stopped during the measurement.
    int ParseFileBuf(unsigned char* buf, int len, uint64_t sector, uint64_t scannedSectors, uint64_t totalSectors,
                     int remainSeconds, CDiskReader* reader, int bytesPerSector, uint64_t& sectorsUsed,
                     uint64_t& fileCount);
    // The same for callers that keep the step in an int.
    int ParseFileBuf(unsigned char* buf, int len, uint64_t sector, uint64_t scannedSectors, uint64_t totalSectors,
                     int remainSeconds, CDiskReader* reader, int bytesPerSector, int& sectorsUsed, uint64_t& fileCount);

    int ScanDevice(wchar_t*) override { return 0; }
    int GetChildrenFileNode(_FILE_NODE_* parent, unsigned group, std::vector<_FILE_NODE_>& out) override;
    int GetChildrenFileCount(_FILE_NODE_* parent, unsigned group, unsigned& count) override;
    int GetLostFileCount() override;
    int GetFileNodeParentDirPath(_FILE_NODE_*, wchar_t*, int) override { return 0; }
    int SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int dirIndex) override;
    int GetUnUsedSectorCount(uint64_t&, uint64_t&) override { return 0; }
    int InitSearchCallBack(SearchCallBack cb, void* pParam) override;
    int SearchFileNode(wchar_t* key, std::vector<__SEARCH_FILE_INFO__>& out) override;
    int BuildBitMapInfo() override { return 0; }
    int PreView(_FILE_NODE_* node, wchar_t* tmpPath, unsigned char* buf, int& len, PreViewCallBack cb,
                void* pParam) override;

    int SaveDataToTargetFile(_FILE_NODE_* node, const wchar_t* targetPath);
    CDiskReader& GetDiskReader() { return m_DiskReader; }
    int GetBytesPerSector() const { return m_nBytesPerSector; }

private:
    // A new store named name. 0, or the store's error.
    int OpenStore(const wchar_t* name);
    // The store name for an area starting at startSector, stamped with the local time.
    static std::wstring MakeStoreName(long long startSector);
    // Copies size bytes of the file starting at sector, 64 KiB at a time, into fd
    // (when >= 0) and/or buf (up to bufLen). progress is called after each piece.
    template <typename Progress>
    int CopyData(uint64_t sector, uint64_t size, int fd, unsigned char* buf, int bufLen, int& copied, Progress progress);

    uint32_t m_nDriveLetter = 0;
    long long m_llStartSector = 0;
    long long m_llSectorCount = 0;
    int m_nBytesPerSector = 512;
    CDiskReader m_DiskReader;
    CFileTypeJudge m_FileTypeJudge;
    std::unique_ptr<CScanResultFileManager> m_pStore;
    ScanCallBack m_pScanCallBack = nullptr;
    RecoveryCallBack m_pRecoveryCallBack = nullptr;
    void* m_pParam = nullptr;
    int m_nPercent = 100;
    uint64_t m_u64InsideEnd = 0; // end sector of the last file the scan goes on inside
    SearchCallBack m_pSearchCallBack = nullptr;
    void* m_pSearchParam = nullptr;
};
