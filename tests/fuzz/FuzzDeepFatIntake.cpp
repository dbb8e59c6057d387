// The deep FAT engine's intake: every sector of the input offered the way the
// deep-scan pass offers it ("." entries first, then directory tables), then the
// final tree building and a walk of what it built.
#include "FuzzEnvironment.h"

#include "engine/CLogFileManager.h"
#include "fat/CProfessionalFatRecovery.h"
#include "fat/FatStructures.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {
void Walk(CProfessionalFatRecovery& engine, _FILE_NODE_* parent, unsigned level) {
    if (level > 8) return;
    std::vector<_FILE_NODE_> kids;
    if (engine.GetChildrenFileNode(parent, level, kids) != 0) return;
    for (_FILE_NODE_& k : kids) {
        wchar_t path[512];
        engine.GetFileNodeParentDirPath(&k, path, 512);
        if (k.bIsDir) Walk(engine, &k, level + 1);
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironmentDir();
    CLogFileManager::GetInstance()->Reload();
    CProfessionalFatRecovery engine;
    if (engine.Init(kFuzzBlankDisk, 0, kFuzzBlankSectors, L'C') != 0) return 0;
    if (engine.ClearProfessionalVec(nullptr) != 0) return 0;
    engine.InitVirtualDbrInfo();
    // The first 8 bytes place the input on the disk, so cluster arithmetic sees varied sectors.
    uint64_t base = 0;
    if (size >= 8) {
        std::memcpy(&base, data, 8);
        base %= uint64_t(kFuzzBlankSectors) * 4;
        data += 8;
        size -= 8;
    }
    std::vector<unsigned char> sector(512);
    for (size_t off = 0; off < size; off += 512) {
        std::memset(sector.data(), 0, sector.size());
        std::memcpy(sector.data(), data + off, std::min<size_t>(512, size - off));
        const uint64_t at = base + off / 512;
        if (IsFatFileRecord(sector.data())) engine.ParseFatFileRecord(sector.data(), at);
        else if (IsFatFDTRecord(sector.data(), 512)) engine.ParseFDTFileRecord(sector.data(), at);
    }
    engine.DealProfessionalRecordVec();
    Walk(engine, nullptr, 0);
    return 0;
}
