#pragma once
// Picks and initialises the engine for a disk area: its quick engine, or the
// deep composite. Nothing below includes this file.
#include "engine/IFileRecoveryParse.h"
#include "engine/QuickEngines.h"

class CFileRecoveryFactory {
public:
    static CFileRecoveryFactory* GetInstance();

    IFileRecoveryParse* CreateFileRecoveryInstance(wchar_t* devicePath, wchar_t driveLetter, RECOVERY_TYPE type);
    IFileRecoveryParse* CreateFileRecoveryInstance(int diskNo, long long startSector, long long sectorCount,
                                                   wchar_t driveLetter, RECOVERY_TYPE type);

    // The file system a 16384-byte boot area holds.
    static ENGINE_KIND ChooseEngineKind(const unsigned char* bootArea) { return ChooseQuickEngineKind(bootArea); }
    // A new, uninitialised engine for the kind and mode; null when there is none.
    static IFileRecoveryParse* NewEngine(ENGINE_KIND kind, RECOVERY_TYPE type);

private:
    CFileRecoveryFactory() = default;
};
