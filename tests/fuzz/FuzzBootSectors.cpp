// Boot-sector and record recognisers: those that take no length get the sizes their callers guarantee.
#include "FuzzSupport.h"
#include "disk/VolumeRecognizers.h"
#include "fat/FatStructures.h"

ORVALE_FUZZ_TARGET {
    std::vector<unsigned char> sector(4096, 0), exact(data, data + size);
    std::memcpy(sector.data(), data, std::min(size, sector.size()));
    const unsigned char* p = sector.data();
    IsNtfs(p), IsFat(p), IsFullValidFAT16DBR(p), IsFullValidFAT32DBR(p), IsBitlockerDBR(p), IsExt(p);
    IsNtfsFileRecord(p, 1024), IsNtfsFileRecord(p, 4096), IsFatFileRecord(p);
    IsFatFileRecord(exact.data(), exact.size());
    IsFatFDTRecord(exact.data(), static_cast<int>(exact.size()));
}
