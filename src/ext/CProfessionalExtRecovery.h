#pragma once
// The deep ext engine: takes the pointer blocks and extent-tree nodes the deep
// pass meets in free space, links them into the maps of deleted files and
// rebuilds each file along its map, so a fragmented file comes back whole.
// The file's kind and exact length come from the carving judge, asked over the
// rebuilt bytes rather than over the disk.
#include "engine/IDeepEngine.h"
#include "ext/CFastExtRecovery.h"
#include "ext/ExtMapLinker.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class CScanResultFileManager;

class CProfessionalExtRecovery : public IDeepEngine {
public:
    CProfessionalExtRecovery();
    ~CProfessionalExtRecovery() override;
    CProfessionalExtRecovery(const CProfessionalExtRecovery&) = delete;
    CProfessionalExtRecovery& operator=(const CProfessionalExtRecovery&) = delete;

    const char* StorePrefix() const override { return "Pro_Ext_"; }
    int BeginDeepPass(wchar_t* storeName) override;
    int OfferSector(const DeepSector& sector, uint64_t& used, uint64_t& findFileCount) override;
    int EndDeepPass() override;
    bool OwnsRecordType(uint32_t type) const override { return type == FS_TYPE_PRO_EXT; }
    int GetFileDataStartSector(_FILE_NODE_* node, uint64_t& absoluteSector) override;

    int Init(int diskNo, long long startSector, long long sectorCount, wchar_t driveLetter) override;
    int Init(wchar_t* devicePath, wchar_t driveLetter) override;
    int InitCallBack(ScanCallBack scanCb, RecoveryCallBack recoveryCb, void* pParam, int nPercent) override;
    int ScanDevice(wchar_t*) override { return 0; }
    int GetChildrenFileNode(_FILE_NODE_* parent, unsigned depth, std::vector<_FILE_NODE_>& out) override;
    int GetChildrenFileCount(_FILE_NODE_* parent, unsigned depth, unsigned& count) override;
    int GetLostFileCount() override;
    int GetFileNodeParentDirPath(_FILE_NODE_*, wchar_t* path, int size) override;
    int SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int baseDepth) override;
    int GetUnUsedSectorCount(uint64_t&, uint64_t&) override { return 0; }
    int InitSearchCallBack(SearchCallBack cb, void* pParam) override;
    int SearchFileNode(wchar_t* key, std::vector<__SEARCH_FILE_INFO__>& out) override;
    int BuildBitMapInfo() override { return 0; }
    int PreView(_FILE_NODE_* node, wchar_t* tempPath, unsigned char* buffer, int& length, PreViewCallBack cb,
                void* pParam) override;

    // Map blocks taken during the pass (pointer blocks, extent nodes).
    size_t FoundMapBlockCount() const { return m_PointerBlocks.size() + m_ExtentNodes.size(); }

private:
    void RecordLinked(const EXT_LINKED_FILE& f);
    bool WriteRuns(const std::vector<EXT_RUN>& runs, const std::string& path, uint64_t blocks);

    CFastExtRecovery m_Volume;
    bool m_bOpen = false;
    uint64_t m_u64StartSector = 0;
    uint32_t m_nDriveLetter = 0;
    std::unique_ptr<CScanResultFileManager> m_pScanResult;
    std::map<uint64_t, std::vector<uint32_t>> m_PointerBlocks;
    std::map<uint64_t, EXT_EXTENT_NODE> m_ExtentNodes;
    // Blocks shaped like pointer blocks but out of order or with one entry: upper
    // levels, once every block they name proves to be a pointer block.
    std::map<uint64_t, std::vector<uint32_t>> m_UpperCandidates;
    SearchCallBack m_pSearchCallBack = nullptr;
    void* m_pSearchParam = nullptr;
};
