// The carving pass over a disk made of the input, with the engine's disk reader
// attached: a signature near the end of what was read makes the carver read
// ahead through the reader, bounded by the end of the disk.
#include "FuzzEnvironment.h"

#include "carving/CFileTypeJudge.h"
#include "carving/CFileTypeRecovery.h"
#include "engine/CLogFileManager.h"

#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string& dir = FuzzEnvironmentDir();
    CLogFileManager::GetInstance()->Reload();
    const size_t sectors = (size + 511) / 512;
    std::vector<unsigned char> disk(sectors * 512, 0);
    std::memcpy(disk.data(), data, size);
    const std::string path = dir + "/carve.img";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return 0;
    const bool written = ::write(fd, disk.data(), disk.size()) == ssize_t(disk.size());
    ::close(fd);
    if (!written) return 0;
    constexpr int kDisk = 4245;
    RegisterDiskPath(kDisk, path);
    CFileTypeJudge::m_tsFileRangeVec.clear();
    CFileTypeRecovery engine;
    if (engine.Init(kDisk, 0, (long long)sectors, L'C') != 0) return 0;
    uint64_t found = 0;
    // Every sector is offered as the pass offers it: the sector alone, the rest through the reader.
    for (uint64_t s = 0; s < sectors;) {
        uint64_t used = 1;
        if (engine.ParseFileBuf(disk.data() + s * 512, 512, s, s, sectors, -1, &engine.GetDiskReader(), 512, used, found) ==
            -9527)
            break;
        s += used ? used : 1;
    }
    std::vector<_FILE_NODE_> files;
    engine.GetChildrenFileNode(nullptr, 0, files);
    return 0;
}
