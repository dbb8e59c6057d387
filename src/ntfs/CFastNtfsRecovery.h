#pragma once
// Quick scan of an intact NTFS volume: reads the whole $MFT through its own
// runlist, lists every record that is neither in use nor a directory as a deleted
// file, then adds the folders on their parent chains so the files keep their old
// paths. Also previews and saves found files and offers the volume's free extents.
#include "engine/IFileRecoveryParse.h"
#include "ntfs/CNtfsParse.h"
#include "ntfs/NtfsRecordAccess.h"
#include "ntfs/NtfsStructures.h"
#include "platform/CDiskReader.h"

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class CScanResultFileManager;

class CFastNtfsRecovery : public IFileRecoveryParse {
public:
    CFastNtfsRecovery();
    ~CFastNtfsRecovery() override;
    CFastNtfsRecovery(const CFastNtfsRecovery&) = delete;
    CFastNtfsRecovery& operator=(const CFastNtfsRecovery&) = delete;

    int Init(int diskNo, long long startSector, long long sectorCount, wchar_t driveLetter) override;
    int Init(wchar_t* devicePath, wchar_t driveLetter) override;
    int InitCallBack(ScanCallBack scanCb, RecoveryCallBack recoveryCb, void* pParam, int nPercent) override;
    int ScanDevice(wchar_t* logName) override;
    int GetChildrenFileNode(_FILE_NODE_* parent, unsigned level, std::vector<_FILE_NODE_>& out) override;
    int GetChildrenFileCount(_FILE_NODE_* parent, unsigned level, unsigned& count) override;
    int GetLostFileCount() override;
    int GetFileNodeParentDirPath(_FILE_NODE_* node, wchar_t* path, int size) override;
    int SaveFileData(_FILE_NODE_* node, wchar_t* target, int baseLevel) override;
    int GetUnUsedSectorCount(uint64_t& sector, uint64_t& count) override;
    int InitSearchCallBack(SearchCallBack cb, void* pParam) override;
    int SearchFileNode(wchar_t* key, std::vector<__SEARCH_FILE_INFO__>& out) override;
    int BuildBitMapInfo() override;
    int PreView(_FILE_NODE_* node, wchar_t* tmpPath, unsigned char* buffer, int& length, PreViewCallBack cb,
                void* param) override;

    // Record access (reads through the engine's reader; parsing is NtfsRecordAccess).
    unsigned long long GetFileRecordIndexSectorOffset(unsigned long long recordIndex) const;
    // Reads the record into buffer (at least 8192 bytes). 0 or the read's error.
    int GetFileRecordBuf(unsigned int recordIndex, unsigned char* buffer);
    int GetRunListInfo(long long sector, int attributeType, std::vector<__RUNLIST__>& runs);
    int GetFileDataStartSector(_FILE_NODE_* node, uint64_t& absoluteSector) override;
    int Get0X20RunList(unsigned char* attributeList, std::vector<__RUNLIST__>& runs);
    int GetAttr0x80Data(long long sector, unsigned char* out, unsigned int& length);
    int GetBitMapRealBytesSize(long long sector, unsigned long long& size);

    int SaveDataToTargetFile(_FILE_NODE_* node, wchar_t* path);
    int IsFileDataHealth(_FILE_NODE_* node, unsigned sectorsPerCluster);

    // Geometry, for callers and tests.
    int GetBytesPerSector() const { return m_nBytesPerSector; }
    int GetSectorsPerCluster() const { return m_nSectorsPerCluster; }
    uint64_t GetStartSector() const { return m_u64StartSector; }
    uint64_t GetSectorCount() const { return m_u64SectorCount; }
    const std::vector<__RUNLIST__>& GetMftRunList() const { return m_vecMftRunList; }

private:
    int InitGeometry(const unsigned char* boot);
    int FastScanDevice();
    int ReadFileAndParseRecordInfo(long long sector, int sectorCount);
    int ParseRecordInfo(unsigned char* record, int pass, unsigned int dirIndex, uint64_t recordSector);
    _FILE_NODE_* FillFileNode(const unsigned char* fileNameAttribute, size_t attrLength, int isDir);
    void AddLostFolder(uint32_t number);
    int GetRootParentDirIndex(unsigned int dirIndex, int& depth, std::map<unsigned, unsigned>& seen);
    int ParentDepth(unsigned int parent);

    int ReadRecord(uint64_t sector, std::vector<unsigned char>& record);
    int FollowAttrList(const unsigned char* record, size_t recordLen, size_t attrPos, uint32_t type, std::vector<__RUNLIST__>& runs);
    // The real size of $DATA kept in another record, found through a resident list.
    void ListedDataSize(const unsigned char* record, size_t recordLen, size_t attrPos, uint64_t& size);
    int JoinListedExtents(const std::vector<NTFS_ATTR_LIST_ENTRY>& entries, uint32_t type,
                          std::vector<__RUNLIST__>& runs);
    int HealthOfRecord(_FILE_NODE_* node, const unsigned char* record);
    bool SignatureMatches(unsigned char* data, int len, const char* ext, uint64_t sector);

    // Copies `amount` bytes of a non-resident file to a file descriptor or a buffer.
    struct CopyTarget;
    int CopyRunData(const _FILE_NODE_& node, const std::vector<__RUNLIST__>& runs, uint64_t amount, CopyTarget& target);

    int m_hDevice;
    uint64_t m_u64StartSector;
    uint64_t m_u64SectorCount;
    uint64_t m_u64MftStartSector;
    uint32_t m_nDriveLetter;
    int m_nBytesPerSector;
    int m_nFileRecordSize;
    int m_nSectorsPerFileRecord;
    int m_nSectorsPerCluster;
    int m_nRecordBufSize;
    std::vector<unsigned char> m_pRecordBuf;
    uint64_t m_nBitMapBytes;
    std::vector<unsigned char> m_pBitMap;
    uint32_t m_nFileSystemType;
    std::vector<__RUNLIST__> m_vecMftRunList;
    std::vector<uint32_t> m_vecDirIndex;
    CDiskReader m_DiskReader;
    CNtfsParse m_NtfsParse;
    CScanResultFileManager* m_pScanResult;
    int m_nPercent;
    ScanCallBack m_pScanCallBack;
    RecoveryCallBack m_pRecoveryCallBack;
    SearchCallBack m_pSearchCallBack;
    void* m_pSearchParam;
    void* m_pParam;

    // Folders already listed (m_vecDirIndex, by number) and the depth of each
    // folder's chain: a chain is read from disk once, not once per file.
    std::unordered_map<uint32_t, int> m_mapDirDepth;
    std::unordered_set<uint32_t> m_setDirIndex;
};
