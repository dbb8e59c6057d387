#pragma once
// Shared by the quick FAT engine tests: an engine opened on an image file and
// the result tree read back as folder paths.
#include "engine/FileNode.h"
#include "fat/CFastFatRecovery.h"
#include "platform/DeviceMap.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

// Disk number the tests give their image (kept apart from other test programs' numbers).
constexpr int kFastFatTestDisk = 77;

struct FastFatOpened {
    std::unique_ptr<CFastFatRecovery> engine;
    int initResult = -1;
};

inline FastFatOpened OpenFastFat(const std::string& imagePath, long long startSector = 0, long long sectorCount = -1) {
    RegisterDiskPath(kFastFatTestDisk, imagePath);
    if (sectorCount < 0) {
        struct stat st;
        sectorCount = ::stat(imagePath.c_str(), &st) == 0 ? (long long)(st.st_size / 512) - startSector : 0;
    }
    FastFatOpened o;
    o.engine.reset(new CFastFatRecovery());
    o.initResult = o.engine->Init(kFastFatTestDisk, startSector, sectorCount, L'C');
    return o;
}

// Every node of the result tree by folder path + name (folders end without '/').
inline void CollectFastFatTree(CFastFatRecovery& engine, _FILE_NODE_* parent, unsigned depth,
                               const std::string& prefix, std::map<std::string, _FILE_NODE_>& out) {
    std::vector<_FILE_NODE_> children;
    ASSERT_EQ(engine.GetChildrenFileNode(parent, depth, children), 0);
    for (_FILE_NODE_& child : children) {
        std::string path = prefix + child.szFileName;
        EXPECT_EQ(out.count(path), 0u) << "listed twice: " << path;
        out[path] = child;
        if (child.bIsDir) CollectFastFatTree(engine, &child, depth + 1, path + "/", out);
    }
}

inline std::map<std::string, _FILE_NODE_> FastFatTree(CFastFatRecovery& engine) {
    std::map<std::string, _FILE_NODE_> out;
    CollectFastFatTree(engine, nullptr, 0, "", out);
    return out;
}
