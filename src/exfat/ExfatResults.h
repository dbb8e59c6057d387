#pragma once
// What the quick and the deep exFAT engine share once files are found: the
// result store, the volumes their records point into, the health judgement,
// and reading a record's data back for preview, saving and dropping carved copies.
#include "engine/CScanResultFileManager.h"
#include "engine/IFileRecoveryParse.h"
#include "exfat/ExfatVolume.h"

#include <cstdint>
#include <memory>
#include <queue>
#include <string>
#include <vector>

class CDiskReader;

// nReserved of an exFAT file record holds its EXFAT_LAYOUT.
// nReserved of an exFAT folder record: deleted, or inside a deleted folder.
constexpr uint32_t EXFAT_NODE_DELETED = 1;

class ExfatResults {
public:
    // Returned when the clusters ended before the file's size was reached: what
    // could be found was written, the rest is missing.
    static constexpr int kDataEndedEarly = 30;

    explicit ExfatResults(CDiskReader* reader) : m_pReader(reader) {}

    // A fresh store "<prefix><start>_<date>" (stale files of that name removed),
    // or the stored result named resumeName.
    int OpenStore(const char* prefix, uint64_t startSector, const wchar_t* resumeName);
    CScanResultFileManager* Store() { return m_pStore.get(); }
    // The list key of the top of the tree (0: the store's first list).
    void SetRootKey(uint32_t key) { m_nRootKey = key; }

    void SetRecoveryCallBack(RecoveryCallBack cb, void* pParam) {
        m_pRecoveryCallBack = cb;
        m_pParam = pParam;
    }
    void SetSearchCallBack(SearchCallBack cb, void* pParam);

    ExfatVolume* AddVolume(std::unique_ptr<ExfatVolume> volume);
    void ClearVolumes() { m_Volumes.clear(); }
    // The volume a record reads from; one without a FAT is made for records
    // of a geometry not met in this session (a reopened result).
    ExfatVolume* VolumeOf(const _FILE_NODE_& node);
    // The clusters of a record's data. 0, or kDataEndedEarly with what exists.
    int Runs(const _FILE_NODE_& node, std::vector<EXFAT_RUN>& runs);
    // 1 when the data was not overwritten: no cluster of it is allocated now
    // (checkBitmap) and its first sector carries its extension's signature.
    uint32_t JudgeHealth(ExfatVolume& volume, const _FILE_NODE_& node, const std::vector<EXFAT_RUN>& runs,
                         bool checkBitmap);

    // IFileRecoveryParse pieces.
    int GetChildrenFileNode(_FILE_NODE_* parent, unsigned depth, std::vector<_FILE_NODE_>& out);
    int GetChildrenFileCount(_FILE_NODE_* parent, unsigned depth, unsigned& count);
    int GetLostFileCount() const { return m_pStore ? int(m_pStore->GetFileIndex()) : 0; }
    int GetParentDirPath(_FILE_NODE_* node, wchar_t* path, int size);
    int SearchFileNode(wchar_t* key, std::vector<__SEARCH_FILE_INFO__>& out);
    int SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int baseDepth);
    int PreView(_FILE_NODE_* node, wchar_t* tempPath, unsigned char* buffer, int& length, PreViewCallBack cb,
                void* pParam);
    int GetFileDataStartSector(_FILE_NODE_* node, uint64_t& absoluteSector);

private:
    uint64_t Key(const _FILE_NODE_* parent, unsigned depth) const;
    int SaveOne(_FILE_NODE_* node, const std::wstring& target);
    // Streams a file's data to sink(bytes, count) in cluster pieces; a non-zero
    // sink result stops it and is returned.
    template <class Sink> int StreamData(const _FILE_NODE_& node, uint64_t limit, Sink sink);
    int ReportRecovery(int progress, int error, const wchar_t* path);

    CDiskReader* m_pReader;
    std::unique_ptr<CScanResultFileManager> m_pStore;
    std::vector<std::unique_ptr<ExfatVolume>> m_Volumes;
    uint32_t m_nRootKey = 0;
    RecoveryCallBack m_pRecoveryCallBack = nullptr;
    void* m_pParam = nullptr;
    SearchCallBack m_pSearchCallBack = nullptr;
    void* m_pSearchParam = nullptr;
};
