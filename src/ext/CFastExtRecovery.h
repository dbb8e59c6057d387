#pragma once
// The quick ext2/ext3/ext4 engine: reads the superblock (or a backup) and the
// group descriptors, walks the folder tree from the root and records every
// deleted file whose name still stands in a folder block's slack or in an old
// copy of a folder block in the journal, with the inode that still maps its
// data (on disk, or an older copy of its inode-table block in the journal).
// The block bitmaps give the free extents the deep pass carves.
#include "engine/IFileRecoveryParse.h"
#include "ext/ExtBlockMap.h"
#include "ext/ExtStructures.h"
#include "platform/CDiskReader.h"

#include <cstdint>
#include <map>
#include <memory>
#include <queue>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

class CScanResultFileManager;

class CFastExtRecovery : public IFileRecoveryParse {
public:
    // Result of a save whose map ended before the file's size was reached.
    static constexpr int kMapEndedEarly = 30;
    // nReserved of a file known by its name alone: its inode keeps no map.
    static constexpr uint32_t kNameOnly = 2;

    CFastExtRecovery();
    ~CFastExtRecovery() override;
    CFastExtRecovery(const CFastExtRecovery&) = delete;
    CFastExtRecovery& operator=(const CFastExtRecovery&) = delete;

    int Init(int diskNo, long long startSector, long long sectorCount, wchar_t driveLetter) override;
    int Init(wchar_t* devicePath, wchar_t driveLetter) override;
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
    int GetFileDataStartSector(_FILE_NODE_* node, uint64_t& absoluteSector) override;

    const EXT_SUPERBLOCK& Superblock() const { return m_Sb; }
    bool IsOpen() const { return m_bGeometryValid; }
    // Whether block b is in use by the bitmaps (false before BuildBitMapInfo).
    bool IsBlockInUse(uint64_t b) const;
    // The runs of a found file's data, read along the inode its record points at
    // (or, for a file the deep pass rebuilt, along the map its record carries).
    int MapNode(const _FILE_NODE_* node, std::vector<EXT_RUN>& runs, uint64_t& blocks);
    bool ReadBlocks(uint64_t block, uint32_t count, std::vector<uint8_t>& out);
    // A map block from the disk, or its newest sound copy in the journal.
    bool FetchMapBlock(uint64_t block, std::vector<uint8_t>& out);
    uint64_t StartSector() const { return m_u64StartSector; }

private:
    struct Candidate {
        uint32_t nInode = 0;
        uint32_t nParent = 0;
        std::string strName;
        bool bDir = false;
        uint64_t u64Rank = 0;  // newer names win: journal sequence + 1, 0 for the disk's own slack
    };
    struct InodeSource {
        EXT_INODE inode;
        uint64_t u64Sector = 0;  // absolute sector holding the inode bytes
        uint32_t nOffset = 0;    // their offset inside that sector
    };

    int OpenGeometry(uint64_t volumeBytes);
    bool LoadGroups();
    int Report(int progress, int remaindSecond);
    bool InodeLocation(uint32_t ino, uint64_t& block, uint32_t& offsetInBlock) const;
    bool ReadInode(uint32_t ino, InodeSource& src);
    static bool InodeInUse(const EXT_INODE& n) { return n.nMode != 0 && n.nLinks != 0 && n.nDtime == 0; }
    // The newest copy of an inode from before its deletion, in the journal.
    bool JournalInode(uint32_t ino, InodeSource& src);
    void LoadJournal();
    uint64_t JournalCopySector(const JBD2_COPY& c) const;
    void WalkFolder(uint32_t dirIno, const EXT_INODE& dir, bool dirDeleted);
    void TakeEntries(uint32_t dirIno, const std::vector<EXT_DIR_ENTRY>& entries, bool dirDeleted, uint64_t rank);
    void RecordCandidates();
    std::string OrphanExtension(const InodeSource& src);
    void MarkFolderChain(uint32_t dir);
    unsigned Depth(uint32_t dir);
    void FillNode(_FILE_NODE_& node, uint32_t ino, const InodeSource& src, const std::string& name, bool dir) const;
    bool JudgeHealth(const _FILE_NODE_& node);
    int SaveDataToTargetFile(_FILE_NODE_* node, const wchar_t* targetPath);
    int ReportRecovery(int progress, int error, const wchar_t* path);

    uint64_t m_u64StartSector = 0;
    uint64_t m_u64SectorCount = 0;
    uint32_t m_nDriveLetter = 0;
    CDiskReader m_DiskReader;
    EXT_SUPERBLOCK m_Sb;
    uint64_t m_u64SbOffset = 0;  // byte offset of the superblock that was believed
    bool m_bGeometryValid = false;
    std::vector<EXT_GROUP_DESC> m_Groups;
    std::vector<bool> m_GroupSound;

    bool m_bJournalLoaded = false;
    JBD2_SUPERBLOCK m_Jsb;
    std::vector<uint64_t> m_JournalDiskBlocks;  // journal block index -> file-system block
    std::unordered_map<uint64_t, std::vector<JBD2_COPY>> m_JournalCopies;  // newest first

    std::vector<uint8_t> m_BitMap;  // one bit per block, 1 = in use
    bool m_bBitMapValid = false;

    std::unique_ptr<CScanResultFileManager> m_pScanResult;
    std::map<uint32_t, uint32_t> m_DirParent;             // folder inode -> parent folder inode
    std::map<uint32_t, std::string> m_DirName;
    std::set<uint32_t> m_DeletedDirs;
    std::set<uint32_t> m_WalkedDirs;
    std::queue<uint32_t> m_DirQueue;
    std::map<uint32_t, Candidate> m_Candidates;           // deleted inode -> its best name
    std::map<uint64_t, uint32_t> m_BlockOwner;            // folder block -> folder inode
    std::set<uint32_t> m_LiveInodes;                      // named by a live entry
    std::map<uint32_t, unsigned> m_DepthCache;
    std::vector<uint32_t> m_FoundDirs;
    std::set<uint32_t> m_FoundDirSet;
    std::map<uint32_t, InodeSource> m_DirSources;

    ScanCallBack m_pScanCallBack = nullptr;
    RecoveryCallBack m_pRecoveryCallBack = nullptr;
    void* m_pParam = nullptr;
    int m_nPercent = 100;
    SearchCallBack m_pSearchCallBack = nullptr;
    void* m_pSearchParam = nullptr;
};
