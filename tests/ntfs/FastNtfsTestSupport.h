#pragma once
// Shared by the quick NTFS engine's tests: the standard volume, built once per
// test program, and a walk over an engine's result tree.
#include "engine/FileNode.h"
#include "engine/IFileRecoveryParse.h"

#include "fixtures/NtfsImageScenario.h"
#include "fixtures/SkipUnless.h"
#include "fixtures/TempDir.h"

#include <string>
#include <vector>

// The standard volume, or null with the reason when it cannot be built. It is built
// once into a folder of $TMPDIR and reused by later test processes (read only).
const NtfsImageScenario* SharedNtfsScenario(std::string& error);

struct ListedNode {
    std::string path; // folders joined with '/', UTF-8
    _FILE_NODE_ node;
};
// Every node below parent (null: the root) in tree order.
void WalkResultTree(IFileRecoveryParse& engine, _FILE_NODE_* parent, unsigned level, const std::string& prefix,
                    std::vector<ListedNode>& files, std::vector<ListedNode>& folders);
std::string NodeNameUtf8(const _FILE_NODE_& node);

// Skips the test when the NTFS tools are missing; fails it when the volume cannot be built.
#define ORVALE_REQUIRE_NTFS_SCENARIO(var)                                                   \
    ORVALE_REQUIRE_TOOL("mkntfs");                                                          \
    ORVALE_REQUIRE_TOOL("ntfs-3g");                                                         \
    std::string var##Error;                                                                 \
    const NtfsImageScenario* var = SharedNtfsScenario(var##Error);                          \
    ASSERT_NE(nullptr, var) << var##Error
