// Each carved format's length rule and test on a file at sector 0 of a disk made
// of the input, a disk reader attached; the first byte picks the format.
#include "FuzzSupport.h"
#include "carving/CFileTypeJudge.h"
#include "carving/formats/CarvedFormat.h"
#include "platform/CDiskReader.h"

ORVALE_FUZZ_TARGET {
    if (size < 2) return;
    const CarvedFormat& format = *CarvedFormats()[data[0] % CarvedFormats().size()];
    std::vector<unsigned char> image(data + 1, data + size);
    image.resize((image.size() + 511) / 512 * 512, 0);
    static const std::string path = FuzzEnvironmentDir() + "/walk.img";
    const std::wstring wide(path.begin(), path.end());
    CDiskReader reader;
    if (!FuzzWriteFile(path, image.data(), image.size()) || reader.Init(wide.c_str(), image.size() / 512) != 0) return;
    CFileTypeJudge judge;
    CFileTypeJudge::m_pDiskReader = &reader, CFileTypeJudge::m_nBytesPerSector = 512;
    CFileTypeJudge::m_u64StartSector = CFileTypeJudge::m_u64CurrentSector = 0, CFileTypeJudge::m_bIsNeedCheckTsFileRange = 0;
    if (format.length && format.length(image.data(), 512) > (64ull << 30)) __builtin_trap(); // every rule is capped
    if (format.test) format.test(image.data(), 512);
}
