#include "FastNtfsTestSupport.h"

#include "platform/TextCodec.h"

#include <memory>

const NtfsImageScenario* SharedNtfsScenario(std::string& error) {
    static std::unique_ptr<TempDir> dir;
    static std::unique_ptr<NtfsImageScenario> scenario;
    static std::string failure;
    static bool tried = false;
    if (!tried) {
        tried = true;
        dir.reset(new TempDir("orvale-ntfs"));
        scenario.reset(new NtfsImageScenario());
        if (!BuildNtfsImageScenario(dir->path(), *scenario, failure)) scenario.reset();
    }
    error = failure;
    return scenario.get();
}

std::string NodeNameUtf8(const _FILE_NODE_& node) {
    char name[sizeof node.szFileName + 1] = {0};
    std::copy(node.szFileName, node.szFileName + sizeof node.szFileName, name);
    return WideToUtf8(Ansi2Unicode(name).c_str());
}

void WalkResultTree(IFileRecoveryParse& engine, _FILE_NODE_* parent, unsigned level, const std::string& prefix,
                    std::vector<ListedNode>& files, std::vector<ListedNode>& folders) {
    std::vector<_FILE_NODE_> children;
    if (engine.GetChildrenFileNode(parent, level, children) != 0) return;
    for (_FILE_NODE_& child : children) {
        ListedNode listed{prefix + NodeNameUtf8(child), child};
        if (child.bIsDir) {
            folders.push_back(listed);
            if (level < 64) WalkResultTree(engine, &child, level + 1, listed.path + "/", files, folders);
        } else {
            files.push_back(listed);
        }
    }
}
