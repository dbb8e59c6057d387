#include "fat/FastFatSignature.h"

#include "carving/CFileTypeJudge.h"

#include <cstring>

bool FastFatMatchesSignature(unsigned char* buf, int len, const char* ext, CDiskReader* reader, int bytesPerSector,
                             uint64_t sector) {
    if (!ext) return true;
    char copy[256];
    std::strncpy(copy, ext, sizeof copy - 1);
    copy[sizeof copy - 1] = 0;
    return CFileTypeJudge::IsFileTypeMatching(buf, len, copy, reader, bytesPerSector, sector);
}
