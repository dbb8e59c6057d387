// The carving pass over a disk made of the input, with the engine's disk reader
// attached: a signature near the end of what was read makes the carver read
// ahead through the reader, bounded by the end of the disk.
#include "FuzzSupport.h"

#include "carving/CFileTypeJudge.h"
#include "carving/CFileTypeRecovery.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string path = FuzzFreshLog() + "/carve.img";
    const size_t sectors = (size + 511) / 512;
    std::vector<unsigned char> disk(data, data + size);
    disk.resize(sectors * 512, 0);
    if (!FuzzWriteFile(path, disk.data(), disk.size())) return 0;
    constexpr int kDisk = 4245;
    RegisterDiskPath(kDisk, path);
    CFileTypeJudge::m_tsFileRangeVec.clear();
    CFileTypeRecovery engine;
    if (engine.Init(kDisk, 0, (long long)sectors, L'C') != 0) return 0;
    // Every sector is offered as the pass offers it: the sector alone, the rest through the reader.
    uint64_t found = 0;
    for (uint64_t s = 0, used = 1; s < sectors; s += used ? used : 1, used = 1)
        if (engine.ParseFileBuf(&disk[s * 512], 512, s, s, sectors, -1, &engine.GetDiskReader(), 512, used, found) == -9527)
            break;
    FuzzWalk(engine, "");
    return 0;
}
