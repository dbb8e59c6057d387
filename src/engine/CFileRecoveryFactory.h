#pragma once
// Picks and initialises the engine for a disk area from its first 16 KiB.
#include "engine/IFileRecoveryParse.h"

enum ENGINE_KIND {
    ENGINE_KIND_NONE = 0,
    ENGINE_KIND_NTFS,
    ENGINE_KIND_FAT,
    ENGINE_KIND_EXT,
};

class CFileRecoveryFactory {
public:
    static CFileRecoveryFactory* GetInstance();

    IFileRecoveryParse* CreateFileRecoveryInstance(wchar_t* devicePath, wchar_t driveLetter, RECOVERY_TYPE type);
    IFileRecoveryParse* CreateFileRecoveryInstance(int diskNo, long long startSector, long long sectorCount,
                                                   wchar_t driveLetter, RECOVERY_TYPE type);

    // The file system a 16384-byte boot area holds, tested NTFS, FAT, ext in that order.
    static ENGINE_KIND ChooseEngineKind(const unsigned char* bootArea);
    // A new, uninitialised engine for the kind and mode; null when there is none.
    static IFileRecoveryParse* NewEngine(ENGINE_KIND kind, RECOVERY_TYPE type);

private:
    CFileRecoveryFactory() = default;
};
