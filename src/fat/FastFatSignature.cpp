#include "fat/FastFatSignature.h"

bool FastFatMatchesSignature(unsigned char* buf, int len, const char* ext, CDiskReader* reader, int bytesPerSector,
                             uint64_t sector) {
    // Until the signature judge is available every extension is undecidable.
    (void)buf, (void)len, (void)ext, (void)reader, (void)bytesPerSector, (void)sector;
    return true;
}
