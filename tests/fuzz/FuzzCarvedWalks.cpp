// The structure walks of every carved format over a disk image made of the input:
// each format's length rule measures a file at sector 0 with a disk reader
// attached, as a carving step does. The first byte picks the format.
#include "FuzzSupport.h"

#include "carving/CFileTypeJudge.h"
#include "carving/formats/CarvedFormat.h"
#include "platform/CDiskReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static const std::string path = FuzzEnvironmentDir() + "/walk.img";
    const CarvedFormat& format = *CarvedFormats()[data[0] % CarvedFormats().size()];
    std::vector<unsigned char> image(data + 1, data + size);
    image.resize((image.size() + 511) / 512 * 512, 0);
    CDiskReader reader;
    std::wstring wide(path.begin(), path.end());
    if (!FuzzWriteFile(path, image.data(), image.size()) || reader.Init(wide.c_str(), image.size() / 512) != 0) return 0;
    CFileTypeJudge judge;
    CFileTypeJudge::m_pDiskReader = &reader;
    CFileTypeJudge::m_nBytesPerSector = 512;
    CFileTypeJudge::m_u64StartSector = CFileTypeJudge::m_u64CurrentSector = 0;
    CFileTypeJudge::m_bIsNeedCheckTsFileRange = 0;
    if (format.length && format.length(image.data(), 512) > (64ull << 30)) __builtin_trap(); // every rule is capped
    if (format.test) format.test(image.data(), 512);
    return 0;
}
