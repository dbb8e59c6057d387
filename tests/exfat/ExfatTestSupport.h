#pragma once
// Shared by the exFAT tests: the scenario image built once per run, an engine
// opened on an image, and a result tree read back as folder paths.
#include "engine/IFileRecoveryParse.h"
#include "fixtures/ExfatImage.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

// Deleted files (with Unicode names, a fragmented one, a deleted folder tree)
// and live ones on a 32 MiB volume with 4 KiB clusters.
struct ExfatScenario {
    std::string image;                                 // empty when it could not be built
    std::map<std::string, std::vector<uint8_t>> deleted; // UTF-8 path -> content
    std::set<std::string> folders;                     // folders leading to deleted files
    std::set<std::string> deletedFolders;
    static const ExfatScenario& Shared();
};

// Every file and folder below parent, by UTF-8 path (folders without a trailing '/').
void CollectExfatTree(IFileRecoveryParse& engine, _FILE_NODE_* parent, unsigned depth, const std::string& prefix,
                      std::map<std::string, _FILE_NODE_>& out);
std::map<std::string, _FILE_NODE_> ExfatTree(IFileRecoveryParse& engine);
// The engine's save of node into a file; its bytes, or empty on failure.
std::vector<uint8_t> ExfatSaved(IFileRecoveryParse& engine, _FILE_NODE_ node, const std::string& target);
// A quick engine opened through the factory on an image file (null when refused).
std::unique_ptr<IFileRecoveryParse> OpenExfatQuick(const std::string& image);
