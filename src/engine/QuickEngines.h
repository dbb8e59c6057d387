#pragma once
// The quick engines: which file system an area holds, and its engine. The deep
// composite asks here for the quick engine of its area; the factory adds the
// composite on top.
#include "engine/IFileRecoveryParse.h"

enum ENGINE_KIND {
    ENGINE_KIND_NONE = 0,
    ENGINE_KIND_NTFS,
    ENGINE_KIND_FAT,
    ENGINE_KIND_EXT,
    ENGINE_KIND_EXFAT,
};

// Bytes of an area's start that tell its file system.
constexpr int kBootAreaBytes = 16384;

// The file system a kBootAreaBytes boot area holds; the first recogniser that
// matches wins.
ENGINE_KIND ChooseQuickEngineKind(const unsigned char* bootArea);
// A new, uninitialised quick engine for the kind; null when there is none.
IFileRecoveryParse* NewQuickEngine(ENGINE_KIND kind);
// Reads the boot area of a disk's area or of a device; false when it cannot be read.
bool ReadAreaBootArea(int diskNo, long long startSector, unsigned char* buf);
bool ReadDeviceBootArea(wchar_t* devicePath, unsigned char* buf);
// The initialised quick engine of an area or a device; null when its boot area
// cannot be read or holds no known file system.
IFileRecoveryParse* CreateQuickEngine(int diskNo, long long startSector, long long sectorCount, wchar_t driveLetter);
IFileRecoveryParse* CreateQuickEngine(wchar_t* devicePath, wchar_t driveLetter);
