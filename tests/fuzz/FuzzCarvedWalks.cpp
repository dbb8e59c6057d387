// The structure walks of every carved format over a disk image whose bytes are
// the input: each format's length rule measures a file starting at sector 0 with
// a disk reader attached, as a carving step does. The first input byte picks the
// format, so every walk is driven however the data begins.
#include "FuzzEnvironment.h"

#include "carving/CFileTypeJudge.h"
#include "carving/formats/CarvedFormat.h"
#include "platform/CDiskReader.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static const std::string path = FuzzEnvironmentDir() + "/walk.img";
    const auto& formats = CarvedFormats();
    const CarvedFormat& format = *formats[data[0] % formats.size()];
    std::vector<unsigned char> image(data + 1, data + size);
    image.resize((image.size() + 511) / 512 * 512, 0);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(image.data(), 1, image.size(), f);
    std::fclose(f);

    CDiskReader reader;
    std::wstring wide(path.begin(), path.end());
    if (reader.Init(wide.c_str(), image.size() / 512) != 0) return 0;
    CFileTypeJudge judge;
    CFileTypeJudge::m_pDiskReader = &reader;
    CFileTypeJudge::m_nBytesPerSector = 512;
    CFileTypeJudge::m_u64StartSector = CFileTypeJudge::m_u64CurrentSector = 0;
    CFileTypeJudge::m_bIsNeedCheckTsFileRange = 0;
    if (format.length) {
        uint64_t length = format.length(image.data(), 512);
        if (length > (64ull << 30)) __builtin_trap(); // every rule is capped
    }
    if (format.test) format.test(image.data(), 512);
    return 0;
}
