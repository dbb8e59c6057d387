#pragma once
// The quick FAT engine: opens an intact FAT16/FAT32 volume, walks its folder
// tree from the root and records every deleted file (and everything inside a
// deleted folder) with the folders that lead to it; then previews and saves
// what it found and maps the volume's free clusters for the deep pass.
#include "engine/IFileRecoveryParse.h"
#include "fat/FastFatDirParser.h"
#include "fat/FastFatGeometry.h"
#include "fat/FatStructures.h"
#include "platform/CDiskReader.h"

#include <cstdint>
#include <map>
#include <memory>
#include <queue>
#include <set>
#include <string>
#include <vector>

class CScanResultFileManager;

class CFastFatRecovery : public IFileRecoveryParse {
public:
    // Result of a save or preview whose cluster chain ended before the file's size
    // was reached: the part that could be found was written, the rest is missing.
    static constexpr int kChainEndedEarly = 30;

    CFastFatRecovery();
    ~CFastFatRecovery() override;
    CFastFatRecovery(const CFastFatRecovery&) = delete;
    CFastFatRecovery& operator=(const CFastFatRecovery&) = delete;

    int Init(int diskNo, long long startSector, long long sectorCount, wchar_t driveLetter) override;
    int Init(wchar_t* devicePath, wchar_t driveLetter) override;
    int GetFileDataStartSector(_FILE_NODE_* node, uint64_t& absoluteSector) override;
    int InitCallBack(ScanCallBack scanCb, RecoveryCallBack recoveryCb, void* pParam, int nPercent) override;
    int ScanDevice(wchar_t* resultName) override;
    int GetChildrenFileNode(_FILE_NODE_* parent, unsigned depth, std::vector<_FILE_NODE_>& out) override;
    int GetChildrenFileCount(_FILE_NODE_* parent, unsigned depth, unsigned& count) override;
    int GetLostFileCount() override;
    int GetFileNodeParentDirPath(_FILE_NODE_* node, wchar_t* path, int size) override;
    int SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int baseDepth) override;
    int GetUnUsedSectorCount(uint64_t& sector, uint64_t& count) override;
    int InitSearchCallBack(SearchCallBack cb, void* pParam) override;
    int SearchFileNode(wchar_t* key, std::vector<__SEARCH_FILE_INFO__>& out) override;
    int BuildBitMapInfo() override;
    int PreView(_FILE_NODE_* node, wchar_t* tempPath, unsigned char* buffer, int& length, PreViewCallBack cb,
                void* pParam) override;

    // 1 when the first data sector matches the extension's signature or no
    // judgement is possible, 0 when the content was overwritten.
    int IsFileDataHealth(const _FILE_NODE_* node, unsigned sectorsPerCluster);
    // Writes one file, or creates one folder and queues it for the breadth-first save.
    int SaveDataToTargetFile(_FILE_NODE_* node, const wchar_t* targetPath);
    int GetDeviceFileSystemType() const { return int(m_nFatType); }

    // Raw FAT entry of a cluster through the FAT cache. 0 or an error number.
    int GetNextClusterNO(uint32_t cluster, uint32_t& next);
    // The next cluster of a chain: 0 at its end; a free entry followed by a free
    // one continues with cluster + 1 (deleted data is taken to be contiguous).
    int FindNextClusterNO(uint32_t cluster, uint32_t& next);
    // High word of a deleted entry's first cluster, probed on the disk.
    int GetDirRealHighClusterNO(uint16_t low, uint32_t& high);
    int GetFileRealHighClusterNO(uint16_t low, uint32_t& high, const char* name);
    // Reads one directory and records what it holds.
    int InitDirInfo(uint32_t dirCluster);
    // Depth of a folder below the root (root 0), climbing the ".." entries.
    int GetRootParentDirIndex(uint32_t cluster, unsigned& depth, std::map<uint32_t, int>& visited);
    int _GetRootParentDirIndex(uint32_t cluster, unsigned& depth);

    // Absolute first sector of a cluster (cluster 0: the FAT16 root area).
    uint64_t ClusterToSector(uint32_t cluster) const;
    const FAST_FAT_GEOMETRY& Geometry() const { return m_Geometry; }
    uint32_t GetBitMapBytes() const { return m_nBitMapBytes; }
    const uint8_t* GetBitMap() const { return m_pBitMap.get(); }

private:
    int OpenGeometry();
    int ReadFatWindow(uint64_t byteOffset);
    bool IsDataCluster(uint32_t cluster) const { return cluster >= 2 && cluster < m_Geometry.nClusterCount + 2; }
    // True when the judge has a row for the extension: without one every content
    // passes, so there is nothing worth reading the disk for.
    static bool JudgeKnows(const char* ext);
    int Report(int progress, int remaindSecond);
    void RecordFile(const FASTFAT_DIR_ITEM& item, uint32_t currentDir, uint64_t entrySector);
    void RecordDir(const FASTFAT_DIR_ITEM& item, uint32_t currentDir, uint64_t entrySector, bool dirDeleted);
    void MarkFoundDirChain(uint32_t dir);
    void FillCommonFields(_FILE_NODE_& node, const FAT32_Entry& e, uint64_t entrySector, const char* name) const;
    int StoreFoundDirs();
    // Reads cluster c of a file into buf; bytes = what arrived. 0, or why nothing more can be read.
    int ReadFileCluster(const _FILE_NODE_* node, uint32_t c, unsigned char* buf, uint32_t& bytes);
    int ReportRecovery(int progress, int error, const wchar_t* path);

    uint64_t m_u64StartSector = 0;
    uint64_t m_u64SectorCount = 0;
    uint32_t m_nDriveLetter = 0;
    uint32_t m_nBytesPerSector = 512;
    int m_hDevice = -1;
    unsigned char m_BootSector[4096];
    uint32_t m_nDataStartSector = 0;
    uint32_t m_nSectorsPerCluster = 0;
    uint32_t m_nRootClusterNO = 0;
    uint32_t m_nFatType = 1;
    uint32_t m_nBitMapBytes = 0;
    std::unique_ptr<uint8_t[]> m_pBitMap;
    uint64_t m_u64FatStartSector = 0;
    uint32_t m_nFatCacheSector = 0;
    uint32_t m_nFatCacheSize = 0x1000000;
    uint32_t m_nFatCacheValid = 0; // bytes of the window actually read
    std::unique_ptr<uint8_t[]> m_pFatCache;
    uint32_t m_nFileSystemType = FS_TYPE_FAST_FAT;
    CDiskReader m_DiskReader;
    std::unique_ptr<CScanResultFileManager> m_pScanResult;
    std::queue<uint32_t> m_DirQueue;
    std::map<uint32_t, _FILE_NODE_> m_DirMap;
    std::vector<uint32_t> m_FoundDirVec;
    ScanCallBack m_pScanCallBack = nullptr;
    RecoveryCallBack m_pRecoveryCallBack = nullptr;
    void* m_pParam = nullptr;
    int m_nPercent = 100;
    SearchCallBack m_pSearchCallBack = nullptr;
    void* m_pSearchParam = nullptr;

    FAST_FAT_GEOMETRY m_Geometry;
    bool m_bGeometryValid = false;
    std::set<uint32_t> m_FoundDirSet;          // membership of m_FoundDirVec
    std::map<uint32_t, unsigned> m_DepthCache; // folder depths met during one scan
};
