// The quick FAT directory intake: one cluster, then a second continuing the same long-name state.
#include "FuzzSupport.h"
#include "fat/FastFatDirParser.h"

ORVALE_FUZZ_TARGET {
    FASTFAT_LONG_NAME longName;
    std::vector<FASTFAT_DIR_ITEM> items;
    const size_t half = size / 2;
    if (!ParseFastFatDirCluster(ByteView(data, half), longName, items))
        ParseFastFatDirCluster(ByteView(data + half, size - half), longName, items);
}
