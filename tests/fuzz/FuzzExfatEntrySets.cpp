// exFAT entry sets with their checksums, the root's system entries, and the boot region.
#include "FuzzSupport.h"
#include "exfat/ExfatStructures.h"

ORVALE_FUZZ_TARGET {
    std::vector<EXFAT_ENTRY_SET> sets;
    EXFAT_ROOT_ENTRIES root;
    EXFAT_GEOMETRY g;
    char name[256];
    ParseExfatDirectory(ByteView(data, size), sets, &root);
    for (const EXFAT_ENTRY_SET& set : sets) ExfatNameToAnsi(set, name, sizeof name);
    ParseExfatBootRegion(ByteView(data, size), g);
}
