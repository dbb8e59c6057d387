// The deep NTFS engine's intake: MFT records found anywhere, then the tree building and a walk.
#include "FuzzSupport.h"
#include "ntfs/CProfessionalNtfsRecovery.h"

ORVALE_FUZZ_TARGET {
    FuzzFreshLog();
    CProfessionalNtfsRecovery engine;
    if (engine.Init(kFuzzBlankDisk, 0, kFuzzBlankSectors, L'C') != 0 || engine.InitProfessionalScan(nullptr) != 0) return;
    // Each 1024 bytes are one record, in the 8 KiB zero-padded copy the pass gives.
    for (size_t off = 0, n = 0; off < size; off += 1024, ++n) {
        std::vector<unsigned char> record(data + off, data + std::min(size, off + 1024));
        record.resize(8192, 0);
        engine.ParseNtfsFileRecord(record.data(), 64 + n * 2);
    }
    engine.ParseProfessionalRecordVec();
    FuzzWalk(engine, "");
}
