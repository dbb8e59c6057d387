// A result store reopened from files found in the scan-log folder: two 16-bit
// lengths cut the input into the node file, the relation file and the folder list.
#include "FuzzSupport.h"
#include "engine/CScanResultFileManager.h"
#include "engine/FileCategories.h"
#include "platform/PathHelpers.h"

ORVALE_FUZZ_TARGET {
    if (size < 4) return;
    FuzzFreshLog();
    char dir[256];
    CLogFileManager::GetInstance()->GetLogFileDirPath(dir);
    MakeDirectories(dir);
    const size_t nodeBytes = std::min<size_t>(size - 4, data[0] | (data[1] << 8));
    const size_t relationBytes = std::min<size_t>(size - 4 - nodeBytes, data[2] | (data[3] << 8));
    const uint8_t* p = data + 4;
    const std::string base = std::string(dir) + "Fuzz_store";
    FuzzWriteFile(base, p, nodeBytes);
    FuzzWriteFile(base + "_Relation", p + nodeBytes, relationBytes);
    FuzzWriteFile(base + "_DirInfo", p + nodeBytes + relationBytes, size - 4 - nodeBytes - relationBytes);
    CScanResultFileManager store;
    if (store.Init(L"Fuzz_store") != 0) return;
    std::vector<_FILE_NODE_> top, kids, chain;
    wchar_t path[512];
    store.GetChildrenFileNode(0, top);
    for (size_t i = 0; i < top.size() && i < 16; ++i) {
        store.GetChildrenFileNode((uint64_t(1) << 32) | top[i].nClusterNO, kids);
        store.GetParentFileNode(&top[i], chain);
        store.GetParentDirPath(&top[i], path, 512);
    }
    _FILE_NODE_ node;
    store.GetFileNodeByClusterNO(5, &node);
    std::vector<__SEARCH_FILE_INFO__> hits;
    store.SearchFileNodeInfo(BuildSearchKey(CATEGORY_ALL).c_str(), hits);
    // New records go after what was loaded.
    if (unsigned char* rec = store.CreateFileNode(sizeof(_FILE_NODE_))) {
        std::memset(rec, 0, sizeof(_FILE_NODE_));
        store.AddChildren(0, 0, store.GetFileIndex(), 0, nullptr);
    }
    store.FlushBufToFile();
}
