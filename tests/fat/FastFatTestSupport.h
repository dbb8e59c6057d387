#pragma once
// The quick FAT engine opened on an image file (as a registered disk).
#include "fat/CFastFatRecovery.h"
#include "platform/DeviceMap.h"

#include <memory>
#include <string>
#include <sys/stat.h>

struct FastFatOpened {
    std::unique_ptr<CFastFatRecovery> engine;
    int initResult = -1;
};

// sectors < 0: the image's own size.
inline FastFatOpened OpenFastFat(const std::string& imagePath, int diskNo = 77, long long sectors = -1) {
    RegisterDiskPath(diskNo, imagePath);
    struct stat st;
    if (sectors < 0) sectors = ::stat(imagePath.c_str(), &st) == 0 ? (long long)(st.st_size / 512) : 0;
    FastFatOpened o;
    o.engine.reset(new CFastFatRecovery());
    o.initResult = o.engine->Init(diskNo, 0, sectors, L'C');
    return o;
}
