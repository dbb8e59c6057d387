// Boot-sector and record recognisers over one sector of arbitrary bytes: those
// that take no length get the sizes their callers guarantee, the rest exactly the input.
#include "FuzzSupport.h"

#include "disk/VolumeRecognizers.h"
#include "fat/FatStructures.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<unsigned char> sector(4096, 0), exact(data, data + size);
    std::memcpy(sector.data(), data, std::min(size, sector.size()));
    const unsigned char* p = sector.data();
    IsNtfs(p), IsFat(p), IsFullValidFAT16DBR(p), IsFullValidFAT32DBR(p), IsBitlockerDBR(p), IsExt(p);
    IsNtfsFileRecord(p, 1024), IsNtfsFileRecord(p, 4096), IsFatFileRecord(p);
    IsFatFileRecord(exact.data(), exact.size());
    IsFatFDTRecord(exact.data(), static_cast<int>(exact.size()));
    return 0;
}
