#include "engine/CFileRecoveryFactory.h"

#include "engine/CProfessionalRecovery.h"

#include <vector>

CFileRecoveryFactory* CFileRecoveryFactory::GetInstance() {
    static CFileRecoveryFactory instance;
    return &instance;
}

IFileRecoveryParse* CFileRecoveryFactory::NewEngine(ENGINE_KIND kind, RECOVERY_TYPE type) {
    // Deep scans run on any area through the composite engine.
    if (type != RECOVERY_TYPE_FAST) return new CProfessionalRecovery();
    return NewQuickEngine(kind);
}

IFileRecoveryParse* CFileRecoveryFactory::CreateFileRecoveryInstance(wchar_t* devicePath, wchar_t driveLetter,
                                                                     RECOVERY_TYPE type) {
    if (type == RECOVERY_TYPE_FAST) return CreateQuickEngine(devicePath, driveLetter);
    std::vector<unsigned char> boot(kBootAreaBytes);
    if (!ReadDeviceBootArea(devicePath, boot.data())) return nullptr;
    IFileRecoveryParse* engine = new CProfessionalRecovery();
    engine->Init(devicePath, driveLetter);
    return engine;
}

IFileRecoveryParse* CFileRecoveryFactory::CreateFileRecoveryInstance(int diskNo, long long startSector,
                                                                     long long sectorCount, wchar_t driveLetter,
                                                                     RECOVERY_TYPE type) {
    if (type == RECOVERY_TYPE_FAST) return CreateQuickEngine(diskNo, startSector, sectorCount, driveLetter);
    std::vector<unsigned char> boot(kBootAreaBytes);
    if (!ReadAreaBootArea(diskNo, startSector, boot.data())) return nullptr;
    IFileRecoveryParse* engine = new CProfessionalRecovery();
    engine->Init(diskNo, startSector, sectorCount, driveLetter);
    return engine;
}
