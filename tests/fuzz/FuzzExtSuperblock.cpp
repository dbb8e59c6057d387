// The ext superblock and group-descriptor parsers, and the descriptor placement
// they lead to: the first 1024 bytes are a superblock, the rest descriptors.
#include "FuzzSupport.h"

#include "ext/ExtStructures.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    EXT_SUPERBLOCK sb;
    if (size < 1024 || !ParseExtSuperblock(ByteView(data, 1024), sb)) return 0;
    ExtVersionName(sb);
    ByteView rest(data + 1024, size - 1024);
    for (uint32_t g = 0; g < sb.nGroupCount && g < 64; ++g) {
        ExtGroupHasSuper(sb, g);
        ExtDescriptorBlock(sb, g);
        EXT_GROUP_DESC gd;
        ParseExtGroupDesc(rest.from(size_t(g) * sb.nDescSize), sb, gd);
    }
    return 0;
}
