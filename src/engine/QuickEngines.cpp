#include "engine/QuickEngines.h"

#include "disk/VolumeRecognizers.h"
#include "exfat/CFastExfatRecovery.h"
#include "ext/CFastExtRecovery.h"
#include "fat/CFastFatRecovery.h"
#include "ntfs/CFastNtfsRecovery.h"
#include "platform/CDiskReader.h"
#include "platform/DeviceMap.h"
#include "platform/Log.h"
#include "platform/TextCodec.h"

#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {
// Reads the boot area of an area; false on a failed open, seek or short read.
bool ReadBootArea(const char* path, long long byteOffset, unsigned char* buf, bool logFailures) {
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (logFailures) OrvaleLog("Open Failed\n");
        return false;
    }
    bool ok = false;
    if (::lseek(fd, byteOffset, SEEK_SET) == static_cast<off_t>(-1)) {
        if (logFailures) OrvaleLog("lseek Failed\n");
    } else {
        unsigned got = 0;
        // An area near the device's end holds less than a boot area; the rest reads as zeros.
        ReadData(fd, buf, kBootAreaBytes, &got);
        if (got < static_cast<unsigned>(kBootAreaBytes)) std::memset(buf + got, 0, kBootAreaBytes - got);
        ok = got >= 512;
        if (!ok && logFailures) OrvaleLog("read Failed\n");
    }
    ::close(fd);
    return ok;
}
} // namespace

ENGINE_KIND ChooseQuickEngineKind(const unsigned char* bootArea) {
    if (IsNtfs(bootArea)) return ENGINE_KIND_NTFS;
    if (IsFat(bootArea)) return ENGINE_KIND_FAT;
    if (IsExfat(bootArea)) return ENGINE_KIND_EXFAT;
    if (IsExt(bootArea)) return ENGINE_KIND_EXT;
    return ENGINE_KIND_NONE;
}

IFileRecoveryParse* NewQuickEngine(ENGINE_KIND kind) {
    switch (kind) {
    case ENGINE_KIND_NTFS: return new CFastNtfsRecovery();
    case ENGINE_KIND_FAT: return new CFastFatRecovery();
    case ENGINE_KIND_EXT: return new CFastExtRecovery();
    case ENGINE_KIND_EXFAT: return new CFastExfatRecovery();
    case ENGINE_KIND_NONE: break;
    }
    return nullptr;
}

bool ReadAreaBootArea(int diskNo, long long startSector, unsigned char* buf) {
    return ReadBootArea(GetDiskDevicePath(diskNo).c_str(), startSector * 512, buf, true);
}

bool ReadDeviceBootArea(wchar_t* devicePath, unsigned char* buf) {
    if (!devicePath) return false;
    char path[256];
    inner_uni2str(path, devicePath, sizeof path, -1);
    return ReadBootArea(path, 0, buf, false);
}

IFileRecoveryParse* CreateQuickEngine(int diskNo, long long startSector, long long sectorCount, wchar_t driveLetter) {
    std::vector<unsigned char> buf(kBootAreaBytes);
    if (!ReadAreaBootArea(diskNo, startSector, buf.data())) return nullptr;
    IFileRecoveryParse* engine = NewQuickEngine(ChooseQuickEngineKind(buf.data()));
    if (engine) engine->Init(diskNo, startSector, sectorCount, driveLetter);
    return engine;
}

IFileRecoveryParse* CreateQuickEngine(wchar_t* devicePath, wchar_t driveLetter) {
    std::vector<unsigned char> buf(kBootAreaBytes);
    if (!ReadDeviceBootArea(devicePath, buf.data())) return nullptr;
    IFileRecoveryParse* engine = NewQuickEngine(ChooseQuickEngineKind(buf.data()));
    if (engine) engine->Init(devicePath, driveLetter);
    return engine;
}
