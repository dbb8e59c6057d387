// The quick FAT engine's directory intake: one cluster of entries and long-name
// pieces, then a second cluster continuing the same long-name state.
#include "FuzzSupport.h"

#include "fat/FastFatDirParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FASTFAT_LONG_NAME longName;
    std::vector<FASTFAT_DIR_ITEM> items;
    const size_t half = size / 2;
    if (!ParseFastFatDirCluster(ByteView(data, half), longName, items))
        ParseFastFatDirCluster(ByteView(data + half, size - half), longName, items);
    return 0;
}
