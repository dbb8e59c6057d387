#pragma once
// Deep NTFS engine: rebuilds file trees from MFT records found anywhere on a
// disk, for volumes whose boot sector, partition entry or $MFT location is
// lost. The deep-scan pass offers it every sector that looks like an MFT
// record; it lists every file record, live or deleted, works out record by
// record the cluster size and volume start, follows parent chains on disk and,
// after the pass, turns the folders met on those chains into folder nodes.
#include "carving/CFileTypeJudge.h"
#include "engine/CScanResultFileManager.h"
#include "engine/IDeepEngine.h"
#include "ntfs/CNtfsParse.h"
#include "ntfs/NtfsRecordAccess.h"
#include "ntfs/NtfsStructures.h"
#include "platform/CDiskReader.h"

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// One folder met on a parent chain, with what is needed to find its record.
struct __SPECIAL_RECOVERY_DIR__ {
    uint32_t nRecordIndex = 0;
    uint32_t nSectorsPerCluster = 0;
    uint64_t u64PartitionStartSector = 0;
    std::vector<__RUNLIST__> vecMftRunList;
};

class CProfessionalNtfsRecovery : public IDeepEngine {
public:
    // Parent chains longer than this are treated as broken (a real tree is far flatter).
    static constexpr int kMaxChainDepth = 512;

    CProfessionalNtfsRecovery();
    ~CProfessionalNtfsRecovery() override;
    CProfessionalNtfsRecovery(const CProfessionalNtfsRecovery&) = delete;
    CProfessionalNtfsRecovery& operator=(const CProfessionalNtfsRecovery&) = delete;

    // IDeepEngine: sectors that start an MFT record are this engine's.
    const char* StorePrefix() const override { return "Pro_Ntfs_"; }
    int BeginDeepPass(wchar_t* storeName) override { return InitProfessionalScan(storeName); }
    int OfferSector(const DeepSector& sector, uint64_t& used, uint64_t& findFileCount) override;
    int EndDeepPass() override { return ParseProfessionalRecordVec(); }
    bool OwnsRecordType(uint32_t type) const override { return type == FS_TYPE_PRO_NTFS; }
    int GetFileDataStartSector(_FILE_NODE_* node, uint64_t& absoluteSector) override;

    int Init(int diskNo, long long startSector, long long sectorCount, wchar_t driveLetter) override;
    int Init(wchar_t* devicePath, wchar_t driveLetter) override;
    int InitCallBack(ScanCallBack scanCb, RecoveryCallBack recoveryCb, void* pParam, int nPercent) override;
    int ScanDevice(wchar_t*) override { return 0; }
    int GetChildrenFileNode(_FILE_NODE_* parent, unsigned level, std::vector<_FILE_NODE_>& out) override;
    int GetChildrenFileCount(_FILE_NODE_* parent, unsigned level, unsigned& count) override;
    int GetLostFileCount() override;
    int GetFileNodeParentDirPath(_FILE_NODE_* node, wchar_t* path, int size) override;
    int SaveFileData(_FILE_NODE_* node, wchar_t* target, int baseLevel) override;
    int GetUnUsedSectorCount(uint64_t&, uint64_t&) override { return 0; }
    int InitSearchCallBack(SearchCallBack cb, void* pParam) override;
    int SearchFileNode(wchar_t* key, std::vector<__SEARCH_FILE_INFO__>& out) override;
    int BuildBitMapInfo() override { return 0; }
    int PreView(_FILE_NODE_* node, wchar_t* tmpPath, unsigned char* buffer, int& length, PreViewCallBack cb,
                void* param) override;

    // The deep-scan pass: a fresh (or reopened, when logName is non-empty) store,
    // every candidate record in ascending sector order, then the queued folders.
    int InitProfessionalScan(wchar_t* logName);
    // record holds at least 1024 bytes; it is copied, never changed.
    int ParseNtfsFileRecord(unsigned char* record, unsigned long long sector);
    int ParseProfessionalRecordVec();

    // Record access on the record at an absolute sector (walks bounded by the
    // record; attribute lists are not followed: 87).
    int GetRunListInfo(long long sector, int attributeType, std::vector<__RUNLIST__>& runs);
    // Copies the resident value of the first $DATA attribute; out holds at least 1024 bytes.
    int GetAttr0x80Data(long long sector, unsigned char* out, unsigned int& length);
    int GetFileNodeRunListInfo(const _FILE_NODE_* node, std::vector<__RUNLIST__>& runs);
    int GetFileNodeAttr0x80Data(const _FILE_NODE_* node, unsigned char* out, unsigned int& length);

    // 1 when the file's first data still carries its extension's signature (or
    // no judgement is possible), 0 when it does not.
    int IsFileDataHealth(_FILE_NODE_* node, unsigned sectorsPerCluster);
    int SaveDataToTargetFile(_FILE_NODE_* node, const wchar_t* path);

    // State of the pass, for callers that check what was inferred.
    int GetCurrentSectorsPerCluster() const { return m_nSectorsPerCluster; }
    const std::map<uint64_t, std::vector<__RUNLIST__>>& GetMftRegistry() const { return m_mapMftRunList; }
    const std::vector<__SPECIAL_RECOVERY_DIR__>& GetSpecialRecoveryDirs() const { return m_vecSpecialRecoveryDir; }
    const std::string& GetStoreName() const { return m_strStoreName; }

private:
    std::vector<unsigned char> m_OfferedRecord;  // private copy of an offered record
    int OpenCommon(const char* path, uint64_t startSector, uint64_t sectorCount, bool byDisk, int diskNo);
    void RegisterMftRecord(const unsigned char* record, uint64_t sector);
    void FlushStore();
    int ReadRecord(uint64_t sector, unsigned char* record);
    int ParseProfessionalRecordInfo(unsigned char* record, unsigned long long sector, int pass, unsigned int dirIndex);
    _FILE_NODE_* FillFileNode(const NTFS_FILE_NAME_INFO& fn, int isDir);
    void AddLostFolder(uint32_t number);
    uint64_t GetSpecialFileRecordPartitionStartSector(uint64_t recordSector, uint64_t recordIndex,
                                                      unsigned& sectorsPerCluster, std::vector<__RUNLIST__>& runs);
    bool GetFileRecordIndexMftRunList(uint64_t recordIndex, uint64_t recordSector, unsigned& sectorsPerCluster,
                                      std::vector<__RUNLIST__>& runs, uint64_t& key);
    int GetProfessionalRootParentDirIndex(uint32_t dirIndex, uint64_t partitionStart, unsigned sectorsPerCluster,
                                          const std::vector<__RUNLIST__>& runs, int& depth);
    void QueueSpecialDir(uint32_t dirIndex, unsigned sectorsPerCluster, uint64_t partitionStart,
                         const std::vector<__RUNLIST__>& runs);
    int LocateFolderRecord(uint32_t dirIndex, uint64_t partitionStart, unsigned sectorsPerCluster,
                           const std::vector<__RUNLIST__>& runs, uint64_t& sector);

    // The health test on the node's record, already read and fixed up.
    int HealthOfRecord(const _FILE_NODE_* node, const unsigned char* record);

    // Data access shared by preview and save: the node's data, resident or not,
    // handed piece by piece to sink until amount bytes were delivered.
    struct DataSink;
    int CopyNodeData(const _FILE_NODE_* node, const std::vector<__RUNLIST__>& runs, uint64_t amount, DataSink& sink);

    int m_hDevice;
    int m_nDiskNo;
    uint64_t m_u64StartSector;
    uint64_t m_u64SectorCount;
    uint32_t m_nDriveLetter;
    int m_nBytesPerSector;
    int m_nFileRecordSize;
    int m_nSectorsPerFileRecord;
    std::vector<__SPECIAL_RECOVERY_DIR__> m_vecSpecialRecoveryDir;
    std::unordered_set<uint32_t> m_setQueuedDirs;   // record numbers in m_vecSpecialRecoveryDir
    CDiskReader m_DiskReader;
    CNtfsParse m_NtfsParse;
    CScanResultFileManager* m_pScanResult;
    bool m_bStoreDirty = false;   // records or relations added since the last flush
    std::string m_strStoreName;
    int m_nPercent;
    ScanCallBack m_pScanCallBack;
    RecoveryCallBack m_pRecoveryCallBack;
    SearchCallBack m_pSearchCallBack;
    void* m_pSearchParam;
    void* m_pParam;
    uint32_t m_nFileSystemType;
    std::map<uint64_t, std::vector<__RUNLIST__>> m_mapMftRunList;
    std::map<uint64_t, unsigned> m_mapMftSectorsPerCluster;   // cluster size of each registered $MFT
    int m_nSectorsPerCluster;
    CFileTypeJudge m_FileTypeJudge;
    // Parent links read during the pass, by record sector: a folder shared by
    // many files is read once: its record number and its parent.
    std::unordered_map<uint64_t, uint64_t> m_mapParentBySector;
};
