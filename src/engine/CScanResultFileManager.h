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
    // Forgets every record after the first count (written after the last checkpoint
    // of a scan that was killed, and found again when it resumes): the node file is
    // cut there and no list or folder names them any more. 0 or errno.
    int KeepFirstRecords(uint32_t count);

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
    const std::string& GetRelationFilePath() const { return m_strRelationPath; }
    const std::string& GetDirInfoFilePath() const { return m_strDirInfoPath; }
    // Total bytes handed out by CreateFileNode (records restored at Init included).
    uint64_t GetByteCount() const { return m_u64ByteCount; }
    const std::map<uint64_t, std::vector<uint32_t>>& GetRelationMap() const { return m_mapRelation; }
    const std::vector<_DIR_FILE_INFO_>& GetDirInfoList() const { return m_vecDirInfo; }

private:
    void Close();
    // The list a key stands for: key 0 means the list of the smallest key. Null when none.
    const std::vector<uint32_t>* ChooseList(uint64_t key) const;
    // Reads record index (1-based) from the node file or, when not yet written, from
    // the write buffer. 0, 30 when the record does not exist, or errno.
    int ReadRecord(uint32_t index, _FILE_NODE_* out) const;
    bool IsHiddenPhoto(const _FILE_NODE_& node) const;
    // The key of the first list, in key order, holding record index; false when none.
    bool FindParentKey(uint32_t index, uint64_t& key);
    void LoadRelationFile();
    void LoadDirInfoFile();

    unsigned char* m_pBuffer = nullptr;
    int m_nBufCapacity = kWriteBufferBytes;
    int m_nBufUsed = 0;
    uint32_t m_u32FileIndex = 0;
    uint64_t m_u64ByteCount = 0;
    uint64_t m_u64NodeFileBytes = 0; // bytes of records already written (or lost) in the node file
    int m_fdNode = -1;
    int m_fdRelation = -1;
    int m_fdDirInfo = -1;
    std::string m_strNodePath;
    std::string m_strRelationPath;
    std::string m_strDirInfoPath;
    std::map<uint64_t, std::vector<uint32_t>> m_mapRelation;
    std::vector<_DIR_FILE_INFO_> m_vecDirInfo;
    // The companion files are rewritten whole, so only when something changed.
    bool m_bRelationDirty = false;
    bool m_bDirInfoDirty = false;
    // Record number -> 1 + ordinal of the first list holding it, built on the
    // first ancestor query after a change, so that folder paths do not scan
    // every list per step.
    std::vector<uint32_t> m_vecFirstListOf;
    std::vector<uint64_t> m_vecListKeys;
    bool m_bParentIndexValid = false;
    uint64_t m_u64LastKey = ~uint64_t(0);
    std::vector<uint32_t>* m_pLastList = nullptr;
    std::string m_strKnownExtensions;
    SearchCallBack m_pSearchCallBack = nullptr;
    void* m_pSearchParam = nullptr;
    int m_nWriteError = 0;
};
