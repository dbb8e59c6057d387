// The deep NTFS engine's intake: MFT records found anywhere on a disk, then the
// final tree building and a walk of what it built.
#include "FuzzEnvironment.h"

#include "engine/CLogFileManager.h"
#include "ntfs/CProfessionalNtfsRecovery.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {
void Walk(CProfessionalNtfsRecovery& engine, _FILE_NODE_* parent, unsigned level) {
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
    CProfessionalNtfsRecovery engine;
    if (engine.Init(kFuzzBlankDisk, 0, kFuzzBlankSectors, L'C') != 0) return 0;
    if (engine.InitProfessionalScan(nullptr) != 0) return 0;
    // Each 1024 bytes are one record, handed over in the 8 KiB zero-padded copy the pass gives.
    std::vector<unsigned char> record(8192);
    for (size_t off = 0, n = 0; off < size; off += 1024, ++n) {
        std::memset(record.data(), 0, record.size());
        std::memcpy(record.data(), data + off, std::min<size_t>(1024, size - off));
        engine.ParseNtfsFileRecord(record.data(), 64 + n * 2);
    }
    engine.ParseProfessionalRecordVec();
    Walk(engine, nullptr, 0);
    return 0;
}
