#pragma once
// Deep exFAT engine: rebuilds lost or reformatted exFAT volumes from entry
// sets found anywhere in the scanned area (their checksums make them
// unmistakable). Geometry comes from a surviving boot region, else it is
// worked out from the sets themselves; the folder tree is rebuilt from the
// folders' first clusters, with "LostFolder%u" for entries whose folder is unknown.
#include "engine/IDeepEngine.h"
#include "exfat/ExfatResults.h"
#include "exfat/ExfatStructures.h"
#include "platform/CDiskReader.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class CProfessionalExfatRecovery : public IDeepEngine {
public:
    CProfessionalExfatRecovery();
    ~CProfessionalExfatRecovery() override = default;
    CProfessionalExfatRecovery(const CProfessionalExfatRecovery&) = delete;
    CProfessionalExfatRecovery& operator=(const CProfessionalExfatRecovery&) = delete;

    int Init(int diskNo, long long startSector, long long sectorCount, wchar_t driveLetter) override;
    int Init(wchar_t* devicePath, wchar_t driveLetter) override;
    int InitCallBack(ScanCallBack, RecoveryCallBack recoveryCb, void* pParam, int) override {
        m_Results.SetRecoveryCallBack(recoveryCb, pParam);
        return 0;
    }
    // The deep pass drives this engine sector by sector.
    int ScanDevice(wchar_t*) override { return 0; }
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
    int GetUnUsedSectorCount(uint64_t&, uint64_t&) override { return 0; }
    int InitSearchCallBack(SearchCallBack cb, void* pParam) override {
        m_Results.SetSearchCallBack(cb, pParam);
        return 0;
    }
    int SearchFileNode(wchar_t* key, std::vector<__SEARCH_FILE_INFO__>& out) override {
        return m_Results.SearchFileNode(key, out);
    }
    int BuildBitMapInfo() override { return 0; }
    int PreView(_FILE_NODE_* node, wchar_t* tmpPath, unsigned char* buf, int& len, PreViewCallBack cb,
                void* pParam) override {
        return m_Results.PreView(node, tmpPath, buf, len, cb, pParam);
    }
    int GetFileDataStartSector(_FILE_NODE_* node, uint64_t& absoluteSector) override {
        return m_Results.GetFileDataStartSector(node, absoluteSector);
    }

    const char* StorePrefix() const override { return "Pro_Exfat_"; }
    int BeginDeepPass(wchar_t* storeName) override;
    int OfferSector(const DeepSector& sector, uint64_t& used, uint64_t& findFileCount) override;
    int EndDeepPass() override;
    bool OwnsRecordType(uint32_t type) const override { return type == FS_TYPE_PRO_EXFAT; }

    size_t GetFoundSetCount() const { return m_Sets.size(); }

private:
    struct FoundSet {
        uint64_t u64Sector;  // absolute sector of the file entry
        uint32_t nOffset;    // its byte offset in that sector
        EXFAT_ENTRY_SET set;
    };
    struct Volume {
        uint64_t u64Start;   // absolute first sector
        EXFAT_GEOMETRY g;
        bool bFromBoot;
        ExfatVolume* pVolume = nullptr;
        uint64_t u64RootSector = 0; // guessed volumes: where the root's entries were met
    };
    void TakeSets(const unsigned char* p, size_t available, const DeepSector& sector, bool& taken,
                  uint64_t& findFileCount);
    bool RootCheck(uint64_t start, const EXFAT_GEOMETRY& g);
    void AddBootVolume(uint64_t start, const EXFAT_GEOMETRY& g);
    void GuessVolume();
    void LoadBitmap(Volume& v);
    void BuildTree(Volume& v, const std::vector<const FoundSet*>& sets);

    CDiskReader m_DiskReader;
    ExfatResults m_Results;
    uint64_t m_u64StartSector = 0;
    uint64_t m_u64SectorCount = 0;
    uint32_t m_nDriveLetter = 0;
    std::vector<FoundSet> m_Sets;
    std::vector<uint64_t> m_BootSectors;
    std::vector<Volume> m_Volumes;
    // The root's system entries, as met in the pass (for guessing a geometry).
    uint64_t m_u64RootMarkSector = 0;
    EXFAT_ROOT_ENTRIES m_RootMark;
};
