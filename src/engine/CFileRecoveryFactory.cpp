#include "engine/CFileRecoveryFactory.h"

#include "disk/VolumeRecognizers.h"
#include "ext/CFastExtRecovery.h"
#include "engine/CProfessionalRecovery.h"
#include "fat/CFastFatRecovery.h"
#include "ntfs/CFastNtfsRecovery.h"
#include "platform/CDiskReader.h"
#include "platform/DeviceMap.h"
#include "platform/Log.h"
#include "platform/TextCodec.h"

#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr int kBootAreaBytes = 16384;

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
        if (ReadData(fd, buf, kBootAreaBytes, &got) == 0 && got == kBootAreaBytes) ok = true;
        else if (logFailures) OrvaleLog("read Failed\n");
    }
    ::close(fd);
    return ok;
}
} // namespace

CFileRecoveryFactory* CFileRecoveryFactory::GetInstance() {
    static CFileRecoveryFactory instance;
    return &instance;
}

ENGINE_KIND CFileRecoveryFactory::ChooseEngineKind(const unsigned char* bootArea) {
    if (IsNtfs(bootArea)) return ENGINE_KIND_NTFS;
    if (IsFat(bootArea)) return ENGINE_KIND_FAT;
    if (IsExt(bootArea)) return ENGINE_KIND_EXT;
    return ENGINE_KIND_NONE;
}

IFileRecoveryParse* CFileRecoveryFactory::NewEngine(ENGINE_KIND kind, RECOVERY_TYPE type) {
    if (type != RECOVERY_TYPE_FAST) {
        // Deep scans run on any area through the composite engine.
        return new CProfessionalRecovery();
    }
    switch (kind) {
    case ENGINE_KIND_NTFS: return new CFastNtfsRecovery();
    case ENGINE_KIND_FAT: return new CFastFatRecovery();
    case ENGINE_KIND_EXT: return new CFastExtRecovery();
    case ENGINE_KIND_NONE: break;
    }
    return nullptr;
}

IFileRecoveryParse* CFileRecoveryFactory::CreateFileRecoveryInstance(wchar_t* devicePath, wchar_t driveLetter,
                                                                     RECOVERY_TYPE type) {
    if (!devicePath) return nullptr;
    char path[256];
    inner_uni2str(path, devicePath, sizeof path, -1);
    std::vector<unsigned char> buf(kBootAreaBytes);
    if (!ReadBootArea(path, 0, buf.data(), false)) return nullptr;
    IFileRecoveryParse* engine = NewEngine(ChooseEngineKind(buf.data()), type);
    if (engine) engine->Init(devicePath, driveLetter);
    return engine;
}

IFileRecoveryParse* CFileRecoveryFactory::CreateFileRecoveryInstance(int diskNo, long long startSector,
                                                                     long long sectorCount, wchar_t driveLetter,
                                                                     RECOVERY_TYPE type) {
    std::string path = GetDiskDevicePath(diskNo);
    std::vector<unsigned char> buf(kBootAreaBytes);
    if (!ReadBootArea(path.c_str(), startSector * 512, buf.data(), true)) return nullptr;
    IFileRecoveryParse* engine = NewEngine(ChooseEngineKind(buf.data()), type);
    if (engine) engine->Init(diskNo, startSector, sectorCount, driveLetter);
    return engine;
}
