// The deep FAT engine's intake: every sector offered as the deep pass offers it
// ("." entries first, then directory tables), then the tree building and a walk.
#include "FuzzSupport.h"
#include "fat/CProfessionalFatRecovery.h"
#include "fat/FatStructures.h"

ORVALE_FUZZ_TARGET {
    FuzzFreshLog();
    CProfessionalFatRecovery engine;
    if (engine.Init(kFuzzBlankDisk, 0, kFuzzBlankSectors, L'C') != 0 || engine.ClearProfessionalVec(nullptr) != 0) return;
    engine.InitVirtualDbrInfo();
    // The first 8 bytes place the input on the disk, so cluster arithmetic sees varied sectors.
    uint64_t base = 0;
    if (size >= 8) std::memcpy(&base, data, 8), base %= uint64_t(kFuzzBlankSectors) * 4, data += 8, size -= 8;
    for (size_t off = 0; off < size; off += 512) {
        std::vector<unsigned char> sector(data + off, data + std::min(size, off + 512));
        sector.resize(512, 0);
        if (IsFatFileRecord(sector.data())) engine.ParseFatFileRecord(sector.data(), base + off / 512);
        else if (IsFatFDTRecord(sector.data(), 512)) engine.ParseFDTFileRecord(sector.data(), base + off / 512);
    }
    engine.DealProfessionalRecordVec();
    FuzzWalk(engine, "");
}
