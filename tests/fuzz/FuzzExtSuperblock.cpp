// The ext superblock (the first 1024 bytes), the group descriptors after it and their placement.
#include "FuzzSupport.h"
#include "ext/ExtStructures.h"

ORVALE_FUZZ_TARGET {
    EXT_SUPERBLOCK sb;
    if (size < 1024 || !ParseExtSuperblock(ByteView(data, 1024), sb)) return;
    ExtVersionName(sb);
    ByteView rest(data + 1024, size - 1024);
    for (uint32_t g = 0; g < sb.nGroupCount && g < 64; ++g) {
        ExtGroupHasSuper(sb, g), ExtDescriptorBlock(sb, g);
        EXT_GROUP_DESC gd;
        ParseExtGroupDesc(rest.from(size_t(g) * sb.nDescSize), sb, gd);
    }
}
