#include "FastNtfsTestSupport.h"

#include "fixtures/TestFiles.h"
#include "platform/TextCodec.h"

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Bump when the scenario changes: the volume is built once and shared by every
// test process of a run (and later runs) through this folder.
const char* const kScenarioVersion = "v2";

std::string CacheDir() {
    const char* base = std::getenv("TMPDIR");
    return std::string(base && *base ? base : "/tmp") + "/orvale-ntfs-scenario-" + kScenarioVersion + "-" +
           std::to_string(::getuid());
}

void SaveManifest(const std::string& path, const NtfsImageScenario& sc) {
    std::ofstream out(path + ".tmp");
    out << "image\t" << sc.imagePath << "\nbytes\t" << sc.imageBytes << "\nfiller\t" << sc.fillerFolder
        << "\nfrag\t" << sc.fragmentedPath << "\nlost\t" << sc.lostFolderRecord << "\n";
    for (const auto& l : sc.liveFiles) out << "live\t" << l << "\n";
    for (const auto& d : sc.deleted)
        out << "deleted\t" << (d.visible ? 1 : 0) << "\t" << d.size << "\t" << d.sha256 << "\t" << d.path << "\n";
    out.close();
    ::rename((path + ".tmp").c_str(), path.c_str());
}

bool LoadManifest(const std::string& path, NtfsImageScenario& sc) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string key;
        std::getline(fields, key, '\t');
        std::string rest;
        if (key == "deleted") {
            NtfsImageDeletedFile d;
            std::string visible, size;
            std::getline(fields, visible, '\t');
            std::getline(fields, size, '\t');
            std::getline(fields, d.sha256, '\t');
            std::getline(fields, d.path);
            d.visible = visible == "1";
            d.size = std::stoull(size);
            sc.deleted.push_back(d);
            continue;
        }
        std::getline(fields, rest);
        if (key == "image") sc.imagePath = rest;
        else if (key == "bytes") sc.imageBytes = std::stoull(rest);
        else if (key == "filler") sc.fillerFolder = rest;
        else if (key == "frag") sc.fragmentedPath = rest;
        else if (key == "lost") sc.lostFolderRecord = static_cast<uint32_t>(std::stoul(rest));
        else if (key == "live") sc.liveFiles.push_back(rest);
    }
    return !sc.imagePath.empty() && !sc.deleted.empty() && FileExists(sc.imagePath);
}
} // namespace

const NtfsImageScenario* SharedNtfsScenario(std::string& error) {
    static std::unique_ptr<NtfsImageScenario> scenario;
    static std::string failure;
    static bool tried = false;
    if (!tried) {
        tried = true;
        const std::string dir = CacheDir();
        const std::string manifest = dir + "/manifest";
        int lock = ::open((dir + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (lock >= 0) ::flock(lock, LOCK_EX);
        scenario.reset(new NtfsImageScenario());
        if (!LoadManifest(manifest, *scenario)) {
            *scenario = NtfsImageScenario();
            RunCommand("rm -rf '" + dir + "' && mkdir -p '" + dir + "'");
            if (BuildNtfsImageScenario(dir, *scenario, failure)) SaveManifest(manifest, *scenario);
            else scenario.reset();
            RunCommand("rmdir '" + dir + "/mnt' 2>/dev/null || true");
        }
        if (lock >= 0) ::close(lock);
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
