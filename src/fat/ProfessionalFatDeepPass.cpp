// The deep FAT engine's part of the deep pass.
#include "fat/CProfessionalFatRecovery.h"
#include "fat/FatNodeSectors.h"

int CProfessionalFatRecovery::BeginDeepPass(wchar_t* storeName) {
    int rc = ClearProfessionalVec(storeName);
    InitVirtualDbrInfo();
    return rc;
}

int CProfessionalFatRecovery::OfferSector(const DeepSector& s, uint64_t& used, uint64_t&) {
    unsigned char* p = const_cast<unsigned char*>(s.data);
    used = 1;
    if (IsFatFileRecord(p, s.available)) {
        ParseFatFileRecord(p, s.absolute);
        return 1;
    }
    if (IsFatFDTRecord(p, 512)) {
        ParseFDTFileRecord(p, s.absolute);
        return 1;
    }
    return 0;
}

int CProfessionalFatRecovery::GetFileDataStartSector(_FILE_NODE_* node, uint64_t& absoluteSector) {
    if (!node) return 87;
    absoluteSector = FatNodeFirstSector(*node);
    return absoluteSector == UINT64_MAX ? 1 : 0;
}
