#include "fat/FastFatSignature.h"

#include "carving/CFileTypeJudge.h"

#include <cstring>
#include <strings.h>

bool FastFatCanJudge(const char* ext) {
    if (!ext) return false;
    for (const EXTEND_NAME_ROW* row = CFileTypeJudge::szExtendNameAndType; row->type != TYPE_UNKNOWN; ++row)
        if (strcasecmp(row->szExtendName, ext) == 0) return true;
    return false;
}

bool FastFatMatchesSignature(unsigned char* buf, int len, const char* ext, CDiskReader* reader, int bytesPerSector,
                             uint64_t sector) {
    if (!ext) return true;
    char copy[256];
    std::strncpy(copy, ext, sizeof copy - 1);
    copy[sizeof copy - 1] = 0;
    return CFileTypeJudge::IsFileTypeMatching(buf, len, copy, reader, bytesPerSector, sector);
}
