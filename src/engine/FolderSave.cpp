#include "engine/FolderSave.h"

#include "engine/IFileRecoveryParse.h"
#include "platform/DeviceMap.h"
#include "platform/PathHelpers.h"
#include "platform/TextCodec.h"

#include <queue>
#include <utility>

int SaveFolderTree(const _FILE_NODE_& top, const std::wstring& target, int baseDepth, const ListFolder& list,
                   const SaveOneFile& save) {
    int result = MakeDirectories(WideToUtf8(target.c_str()));
    if (result != 0) return result;
    auto keep = [&](int rc) {
        if (result == 0) result = rc;
    };
    std::queue<std::pair<_FILE_NODE_, std::wstring>> folders;
    folders.push({top, target});
    while (!folders.empty()) {
        std::pair<_FILE_NODE_, std::wstring> folder = std::move(folders.front());
        folders.pop();
        int separators = 0;
        GetPathDirIndex(folder.second.c_str(), separators);
        std::vector<_FILE_NODE_> children;
        int rc = list(folder.first, separators - baseDepth, children);
        if (rc != 0) {
            keep(rc);
            continue;
        }
        for (_FILE_NODE_& child : children) {
            std::wstring path = folder.second + L"/" + SafePathComponent(child.szFileName);
            if (child.bIsDir) {
                // Queued even when it could not be made: its files then fail one
                // by one, each reported as it is tried.
                keep(MakeFolder(path));
                folders.push({child, std::move(path)});
                continue;
            }
            rc = save(child, path);
            if (rc == RECOVERY_STOPPED) return rc;
            keep(rc);
        }
    }
    return result;
}
