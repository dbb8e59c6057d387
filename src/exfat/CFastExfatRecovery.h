#pragma once
// The quick exFAT engine: opens an intact exFAT volume, walks its folder tree
// from the root and records every deleted file (and everything inside a
// deleted folder) with the folders that lead to it; maps the free clusters
// from the allocation bitmap for the deep pass.
#include "engine/IFileRecoveryParse.h"
#include "exfat/ExfatResults.h"
#include "exfat/ExfatStructures.h"
#include "exfat/ExfatVolume.h"
#include "platform/CDiskReader.h"

#include <cstdint>
#include <map>
#include <set>
#include <vector>

class CFastExfatRecovery : public IFileRecoveryParse {
public:
    CFastExfatRecovery();
    ~CFastExfatRecovery() override = default;
    CFastExfatRecovery(const CFastExfatRecovery&) = delete;
    CFastExfatRecovery& operator=(const CFastExfatRecovery&) = delete;

    int Init(int diskNo, long long startSector, long long sectorCount, wchar_t driveLetter) override;
    int Init(wchar_t* devicePath, wchar_t driveLetter) override;
    int InitCallBack(ScanCallBack scanCb, RecoveryCallBack recoveryCb, void* pParam, int nPercent) override;
    int ScanDevice(wchar_t* resultName) override;
    int GetChildrenFileNode(_FILE_NODE_* parent, unsigned depth, std::vector<_FILE_NODE_>& out) override {
        return m_Results.GetChildrenFileNode(parent, depth, out);
    }
    int GetChildrenFileCount(_FILE_NODE_* parent, unsigned depth, unsigned& count) override {
        return m_Results.GetChildrenFileCount(parent, depth, count);
    }
    int GetLostFileCount() override { return m_Results.GetLostFileCount(); }
    int GetFileNodeParentDirPath(_FILE_NODE_* node, wchar_t* path, int size) override {
        return m_Results.GetParentDirPath(node, path, size);
    }
    int SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int baseDepth) override {
        return m_Results.SaveFileData(node, targetPath, baseDepth);
    }
    int GetUnUsedSectorCount(uint64_t& sector, uint64_t& count) override;
    int InitSearchCallBack(SearchCallBack cb, void* pParam) override {
        m_Results.SetSearchCallBack(cb, pParam);
        return 0;
    }
    int SearchFileNode(wchar_t* key, std::vector<__SEARCH_FILE_INFO__>& out) override {
        return m_Results.SearchFileNode(key, out);
    }
    int BuildBitMapInfo() override;
    int PreView(_FILE_NODE_* node, wchar_t* tempPath, unsigned char* buffer, int& length, PreViewCallBack cb,
                void* pParam) override {
        return m_Results.PreView(node, tempPath, buffer, length, cb, pParam);
    }
    int GetFileDataStartSector(_FILE_NODE_* node, uint64_t& absoluteSector) override {
        return m_Results.GetFileDataStartSector(node, absoluteSector);
    }

    const EXFAT_GEOMETRY& Geometry() const { return m_Geometry; }
    bool UsedBackupBootRegion() const { return m_bUsedBackup; }

private:
    struct DirToRead {
        uint32_t nCluster;
        uint64_t u64Length; // bytes; the root's is unknown (its chain ends it)
        EXFAT_LAYOUT nLayout;
        bool bDeleted;
        unsigned nDepth;
    };
    int OpenVolume(uint64_t startSector, uint64_t sectorCount);
    int Report(int progress, int remaindSecond);
    int ReadDirectory(const DirToRead& dir, std::vector<uint8_t>& bytes);
    void ReadOneDir(const DirToRead& dir, std::vector<DirToRead>& queue);
    EXFAT_LAYOUT LayoutOf(const EXFAT_ENTRY_SET& set, bool deleted);
    void RecordFile(const EXFAT_ENTRY_SET& set, const DirToRead& dir, uint64_t entrySector);
    void FillNode(_FILE_NODE_& node, const EXFAT_ENTRY_SET& set, uint64_t entrySector) const;
    void MarkFoundDirChain(uint32_t dir);
    void StoreFoundDirs();

    CDiskReader m_DiskReader;
    ExfatResults m_Results;
    ExfatVolume* m_pVolume = nullptr;
    EXFAT_GEOMETRY m_Geometry;
    bool m_bGeometryValid = false;
    bool m_bUsedBackup = false;
    bool m_bBitmapLoaded = false;
    uint64_t m_u64StartSector = 0;
    uint64_t m_u64SectorCount = 0;
    uint32_t m_nDriveLetter = 0;
    ScanCallBack m_pScanCallBack = nullptr;
    void* m_pParam = nullptr;
    int m_nPercent = 100;

    // Folders met during a scan by first cluster: their record (nFileIndex holds
    // the parent's cluster until stored) and depth below the root.
    std::map<uint32_t, _FILE_NODE_> m_DirMap;
    std::map<uint32_t, unsigned> m_DirDepth;
    std::vector<uint32_t> m_FoundDirVec;
    std::set<uint32_t> m_FoundDirSet;
};
