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

inline FastFatOpened OpenFastFat(const std::string& imagePath, int diskNo = 77) {
    RegisterDiskPath(diskNo, imagePath);
    struct stat st;
    const long long sectors = ::stat(imagePath.c_str(), &st) == 0 ? (long long)(st.st_size / 512) : 0;
    FastFatOpened o;
    o.engine.reset(new CFastFatRecovery());
    o.initResult = o.engine->Init(diskNo, 0, sectors, L'C');
    return o;
}
