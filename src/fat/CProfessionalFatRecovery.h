#pragma once
// Deep FAT engine: rebuilds lost FAT volumes from directory sectors found
// anywhere on a disk area. The deep-scan pass hands it every sector that looks
// like a directory; it works out the cluster geometry of the volumes they
// belong to, files every entry under its directory, and at the end builds the
// folder tree (with "LostFolder%d" for directories known only by number).
// File data is read as a contiguous run of clusters: no FAT is needed.
#include "engine/CScanResultFileManager.h"
#include "engine/IDeepEngine.h"
#include "fat/FatStructures.h"
#include "fat/ProfessionalFatTree.h"
#include "fat/ProfessionalFatTypes.h"
#include "fat/VirtualDbr.h"
#include "platform/CDiskReader.h"

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

class CProfessionalFatRecovery : public IDeepEngine, private FatTreeDisk {
public:
    CProfessionalFatRecovery();
    ~CProfessionalFatRecovery() override;
    CProfessionalFatRecovery(const CProfessionalFatRecovery&) = delete;
    CProfessionalFatRecovery& operator=(const CProfessionalFatRecovery&) = delete;

    // IDeepEngine: directory sectors and boot sectors are this engine's.
    const char* StorePrefix() const override { return "Pro_Fat_"; }
    int BeginDeepPass(wchar_t* storeName) override;
    int OfferSector(const DeepSector& sector, uint64_t& used, uint64_t& findFileCount) override;
    int EndDeepPass() override { return DealProfessionalRecordVec(); }
    bool OwnsRecordType(uint32_t type) const override { return type == FS_TYPE_PRO_FAT; }
    int GetFileDataStartSector(_FILE_NODE_* node, uint64_t& absoluteSector) override;

    // IFileRecoveryParse
    int Init(int diskNo, long long startSector, long long sectorCount, wchar_t driveLetter) override;
    int Init(wchar_t* devicePath, wchar_t driveLetter) override;
    int InitCallBack(ScanCallBack scanCb, RecoveryCallBack recoveryCb, void* pParam, int nPercent) override;
    // The deep pass drives this engine sector by sector; there is nothing to scan on its own.
    int ScanDevice(wchar_t*) override { return 0; }
    int GetChildrenFileNode(_FILE_NODE_* parent, unsigned group, std::vector<_FILE_NODE_>& out) override;
    int GetChildrenFileCount(_FILE_NODE_* parent, unsigned group, unsigned& count) override;
    int GetLostFileCount() override;
    int GetFileNodeParentDirPath(_FILE_NODE_* node, wchar_t* path, int size) override;
    int SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int baseDepth) override;
    int GetUnUsedSectorCount(uint64_t&, uint64_t&) override { return 0; }
    int InitSearchCallBack(SearchCallBack cb, void* pParam) override;
    int SearchFileNode(wchar_t* key, std::vector<__SEARCH_FILE_INFO__>& out) override;
    int BuildBitMapInfo() override { return 0; }
    int PreView(_FILE_NODE_* node, wchar_t* tmpPath, unsigned char* buf, int& len, PreViewCallBack cb,
                void* pParam) override;

    // Deep-scan protocol: reset (null or empty name: a new "Pro_Fat_" store;
    // otherwise that stored result is reopened), the area's own boot sector,
    // the sectors in increasing order, then the final tree building.
    int ClearProfessionalVec(wchar_t* resultName);
    int InitVirtualDbrInfo();
    // A sector that begins with the "." and ".." entries: a directory's first sector.
    int ParseFatFileRecord(unsigned char* buf, uint64_t sector);
    // Any other sector that passes the directory-table test.
    int ParseFDTFileRecord(unsigned char* buf, uint64_t sector);
    int DealProfessionalRecordVec();

    // One file: writes its data to targetPath, or creates the folder and queues it.
    int SaveDataToTargetFile(_FILE_NODE_* node, wchar_t* targetPath);
    // 1 when the file's first sector matches its extension's signature or nothing can be judged.
    int IsFileDataHealth(const _FILE_NODE_* node, unsigned sectorsPerCluster);

    // State exposed for tests and diagnostics.
    const std::vector<__VIRTUAL_DBR_INFO__>& GetVirtualDbrVec() const { return m_VirtualDbrVec; }
    bool HasRealDbr() const { return m_bHasRealDbr != 0; }
    uint32_t GetRootClusterNO() const { return m_nRootClusterNO; }
    size_t GetHeldSectorCount() const { return m_UnDealFileMap.size(); }
    size_t GetHeldFileCount() const { return m_Tree.HeldFileCount(); }
    size_t GetPendingLongNameCount() const { return m_LongFileInfoVec.size(); }
    CScanResultFileManager* GetScanResult() const { return m_pScanResult; }

    // Geometry from two directory anchors; appended to the known ones. 1 when derived.
    int CalcVirtualDbr(uint32_t c1, uint64_t s1, uint32_t c2, uint64_t s2);

private:
    // Look-ups over m_VirtualDbrVec (null when none fits).
    const __VIRTUAL_DBR_INFO__* GetVirtualDbrInfo(uint64_t sector, uint32_t cluster) const;
    const __VIRTUAL_DBR_INFO__* GetNearestVirtualDbrInfo(uint64_t sector, uint32_t cluster) const;
    const __VIRTUAL_DBR_INFO__* GetBestVirtalDbr(uint64_t sector) const;

    // Intake of directory sectors.
    void ContinuePendingLongName(__LONG_FILE_INFO__& pending, uint64_t sector, uint32_t cluster,
                                 const __VIRTUAL_DBR_INFO__* d);
    bool GetParentDirCluster(const unsigned char* buf, uint64_t sector, std::vector<uint8_t>& joined,
                             uint64_t& outSector, uint32_t& outCluster, __VIRTUAL_DBR_INFO__* outDbr);
    void DoParseFileOrAddUndelFileMap(const unsigned char* buf, int len, uint64_t sector);
    void ParseFatFDTRecord(const unsigned char* buf, int len, uint64_t sector, uint32_t cluster,
                           const __VIRTUAL_DBR_INFO__* d);
    void ParseUnDealFileMap();
    uint32_t RootClusterOf(uint32_t parentFromDotDot) const { return parentFromDotDot ? parentFromDotDot : m_nRootClusterNO; }

    // Entries of one directory buffer.
    void DealProfessionalFatFileEntry(const unsigned char* buf, int len, uint64_t sector, uint32_t cluster,
                                      __LONG_FILE_INFO__* pending, const __VIRTUAL_DBR_INFO__* d);
    void GetParentClusterNO(const unsigned char* buf, int len, uint64_t& sector, const __VIRTUAL_DBR_INFO__* d,
                            uint32_t& cluster);
    int GetParentClusterNO(const __VIRTUAL_DBR_INFO__* d, uint32_t cluster, uint32_t& parent);
    int GetRootParentDirIndex(const __VIRTUAL_DBR_INFO__* d, uint32_t cluster, unsigned& depth,
                              std::set<uint32_t>& visited);
    unsigned DepthOf(const __VIRTUAL_DBR_INFO__* d, uint32_t cluster);
    // parent: the folder that listed the entry, kUnknownParent when not known.
    static constexpr uint32_t kUnknownParent = 0xFFFFFFFFu;
    int GetDirRealHighClusterNO(uint16_t low, uint16_t& high, const __VIRTUAL_DBR_INFO__* d,
                                uint32_t parent = kUnknownParent);
    int GetFileRealHighClusterNO(uint16_t low, uint16_t& high, const char* name, const __VIRTUAL_DBR_INFO__* d);

    // What the folder tree asks of the disk, and where it files.
    int ParentOf(const __VIRTUAL_DBR_INFO__& d, uint32_t cluster, uint32_t& parent) override {
        return GetParentClusterNO(&d, cluster, parent);
    }
    unsigned DepthOf(const __VIRTUAL_DBR_INFO__& d, uint32_t cluster) override { return DepthOf(&d, cluster); }
    int Health(const _FILE_NODE_& node, unsigned sectorsPerCluster) override {
        return IsFileDataHealth(&node, sectorsPerCluster);
    }
    FatTreeTarget TreeTarget() const;

    // Data access.
    // Reads up to count sectors at an absolute sector, never past the area's end.
    // Sectors delivered (0 on failure); the rest of buf is zeroed.
    unsigned ReadSectors(unsigned char* buf, unsigned count, uint64_t sector);
    uint64_t AreaEnd() const { return m_u64StartSector + m_u64SectorCount; }
    uint64_t RecordClusterSector(const _FILE_NODE_& node, uint32_t cluster, unsigned spc) const;
    // Hands the first `total` bytes of a found file to sink(bytes, n, doneSoFar) in
    // pieces of whole clusters; a non-zero sink result ends it with that result.
    template <class Sink> int StreamData(const _FILE_NODE_& node, uint64_t total, Sink sink);
    // The signature judge's verdict on a first data sector for an extension (without the dot).
    bool SectorMatchesExtension(const unsigned char* sector, const char* ext, uint64_t sectorNo);

    int m_hDevice;
    uint32_t m_nDiskNo;
    uint64_t m_u64StartSector;
    uint64_t m_u64SectorCount;
    uint32_t m_nDriveLetter;
    uint32_t m_nDotClusterNO;
    uint64_t m_u64DotSector;
    std::vector<__VIRTUAL_DBR_INFO__> m_VirtualDbrVec;
    std::vector<__FAT_SECTOR_OFFSET__> m_FatSectorOffsetVec;
    std::vector<__LONG_FILE_INFO__> m_LongFileInfoVec;
    std::map<uint64_t, __UNDEAL_FILE__> m_UnDealFileMap;
    ProfessionalFatTree m_Tree;
    CDiskReader m_DiskReader;
    CScanResultFileManager* m_pScanResult;
    int m_nPercent;
    ScanCallBack m_pScanCallBack;
    RecoveryCallBack m_pRecoveryCallBack;
    void* m_pParam;
    SearchCallBack m_pSearchCallBack;
    void* m_pSearchParam;
    uint32_t m_nFileSystemType;
    uint32_t m_bHasRealDbr;
    __LAST_PLACED_DBR__ m_LastUnDealDbr;
    __LAST_PLACED_DBR__ m_LastFdtDbr;
    uint32_t m_nRootClusterNO;
    uint32_t m_nBytesPerSector;

    // Depth of a directory under a geometry: the disk does not change during a scan, so each is walked once.
    std::map<std::tuple<uint64_t, uint32_t, uint32_t, uint32_t>, unsigned> m_DepthCache;

};
