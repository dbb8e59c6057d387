// The carving pass over a disk made of the input: a signature near the end of
// what was read makes the carver read ahead through its reader, bounded by the disk.
#include "FuzzSupport.h"
#include "carving/CFileTypeJudge.h"
#include "carving/CFileTypeRecovery.h"

ORVALE_FUZZ_TARGET {
    if (size == 0) return;
    FuzzFreshLog();
    const size_t sectors = (size + 511) / 512;
    std::vector<unsigned char> disk(data, data + size);
    disk.resize(sectors * 512, 0);
    if (FuzzDisk("carve.img", 4245, disk.data(), disk.size()).empty()) return;
    CFileTypeJudge::m_tsFileRangeVec.clear();
    CFileTypeRecovery engine;
    if (engine.Init(4245, 0, (long long)sectors, L'C') != 0) return;
    // Every sector offered as the pass offers it: the sector alone, the rest through the reader.
    uint64_t found = 0;
    for (uint64_t s = 0, used = 1; s < sectors; s += used ? used : 1, used = 1)
        if (engine.ParseFileBuf(&disk[s * 512], 512, s, s, sectors, -1, &engine.GetDiskReader(), 512, used, found) == -9527)
            break;
    FuzzWalk(engine, "");
}
