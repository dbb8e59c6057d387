#pragma once
// What the fuzz targets share: a private support folder and a small blank disk,
// gone when the process exits; inputs written as disks; a bounded walk of what
// an engine built from them.
#include "engine/CLogFileManager.h"
#include "engine/IFileRecoveryParse.h"
#include "platform/ByteView.h"
#include "platform/DeviceMap.h"
#include "platform/TextCodec.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

// A target's body sees `data` and `size`; a return ends the run.
#define ORVALE_FUZZ_TARGET                                                                 \
    static void FuzzOne(const uint8_t* data, size_t size);                                 \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {              \
        FuzzOne(data, size);                                                               \
        return 0;                                                                          \
    }                                                                                      \
    static void FuzzOne(const uint8_t* data, size_t size)

constexpr int kFuzzBlankDisk = 4243;
constexpr long long kFuzzBlankSectors = 8192;

inline bool FuzzWriteFile(const std::string& path, const void* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

inline const std::string& FuzzEnvironmentDir() {
    static const std::string dir = [] {
        char tmpl[] = "/tmp/orvale-fuzz-XXXXXX";
        std::string d = ::mkdtemp(tmpl) ? tmpl : "/tmp";
        ::setenv("ORVALE_SUPPORT_DIR", (d + "/support").c_str(), 1);
        const std::string disk = d + "/blank.img";
        if (FuzzWriteFile(disk, nullptr, 0) && ::truncate(disk.c_str(), kFuzzBlankSectors * 512) == 0)
            RegisterDiskPath(kFuzzBlankDisk, disk);
        static std::string removeCmd = "rm -rf '" + d + "'";
        std::atexit([] { (void)std::system(removeCmd.c_str()); });
        return d;
    }();
    return dir;
}

// The support folder with the scan log reloaded, as each run of an engine starts.
inline const std::string& FuzzFreshLog() {
    const std::string& dir = FuzzEnvironmentDir();
    return CLogFileManager::GetInstance()->Reload(), dir;
}

// The bytes written as the file `name` of the fuzz folder and registered as disk diskNo; "" on failure.
inline std::string FuzzDisk(const char* name, int diskNo, const void* data, size_t size) {
    const std::string path = FuzzEnvironmentDir() + "/" + name;
    if (!FuzzWriteFile(path, data, size)) return "";
    return RegisterDiskPath(diskNo, path), path;
}

// Every node down to depth 8 with its folder path; with saveTo, up to 16 files saved there.
inline int FuzzWalk(IFileRecoveryParse& e, const std::string& saveTo, _FILE_NODE_* parent = nullptr,
                    unsigned level = 0, int saves = 0) {
    std::vector<_FILE_NODE_> kids;
    if (level > 8 || e.GetChildrenFileNode(parent, level, kids) != 0) return saves;
    std::wstring target = Utf8ToWide(saveTo.c_str());
    for (_FILE_NODE_& k : kids) {
        wchar_t path[512];
        e.GetFileNodeParentDirPath(&k, path, 512);
        if (k.bIsDir) saves = FuzzWalk(e, saveTo, &k, level + 1, saves);
        else if (!saveTo.empty() && saves++ < 16) e.SaveFileData(&k, &target[0], 0);
    }
    return saves;
}

// The free-space map and every extent it gives, as the deep pass asks for them.
inline void FuzzFreeExtents(IFileRecoveryParse& e) {
    if (e.BuildBitMapInfo() != 0) return;
    uint64_t sector = 0, count = 1;
    for (int i = 0; i < 100000 && count != 0; ++i, sector += count) e.GetUnUsedSectorCount(sector, count);
}
