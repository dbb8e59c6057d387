#pragma once
// On-disk store of the records one engine finds: a node file of 344-byte
// records, the parent-to-children relation ("_Relation") and the folder list
// ("_DirInfo"), all in the current scan-log folder.
#include "engine/FileNode.h"
#include "engine/IFileRecoveryParse.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct _DIR_FILE_INFO_ {
    uint32_t nClusterNO;
    uint32_t nFileIndex;
    char szDirName[256];
};
static_assert(sizeof(_DIR_FILE_INFO_) == 264, "_DIR_FILE_INFO_ is a 264-byte file format");

class CScanResultFileManager {
public:
    static constexpr int kWriteBufferBytes = 68800; // 200 records

    CScanResultFileManager();
    ~CScanResultFileManager();
    CScanResultFileManager(const CScanResultFileManager&) = delete;
    CScanResultFileManager& operator=(const CScanResultFileManager&) = delete;

    // Opens or creates the three files named name in the scan-log folder. 0, 8 or errno.
    int Init(const wchar_t* name);
    // Room for a new record of size bytes in the write buffer (flushing it first when full).
    unsigned char* CreateFileNode(int size);
    // Number of the newest record.
    uint32_t GetFileIndex() const { return m_u32FileIndex; }
    void AddChildren(uint32_t parentClusterNO, uint32_t group, uint32_t fileIndex, uint32_t clusterNO, const char* dirName);

    // Writes buffered records, relations and folders. Returns the first error (0 when all went well).
    int FlushBufToFile();
    int FlushFileNodeToFile();
    int FlushRelationToFile();
    int FlushDirFileInfoVec();

    int GetChildrenFileCount(uint64_t key, unsigned& count);
    int GetChildrenFileNode(uint64_t key, std::vector<_FILE_NODE_>& out);
    int GetParentFileNode(const _FILE_NODE_* node, std::vector<_FILE_NODE_>& chain);
    int GetParentDirPath(const _FILE_NODE_* node, wchar_t* path, int size);
    int GetFileNodeByClusterNO(uint32_t clusterNO, _FILE_NODE_* out);
    void InitSearchCallBack(SearchCallBack cb, void* pParam);
    int SearchFileNodeInfo(const wchar_t* key, std::vector<__SEARCH_FILE_INFO__>& out);

    // The first write error met since Init (0 when none): records that could not
    // be written are reported through it instead of being lost silently.
    int GetWriteError() const { return m_nWriteError; }
    const std::string& GetNodeFilePath() const { return m_strNodePath; }
};
