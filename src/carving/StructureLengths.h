#pragma once
// Where a file ends by its own structure, for formats whose length rule has no
// end marker: the chain of top-level boxes, elements, tags or packs is followed
// from the start until it breaks. 0 when the structure gives no answer. The
// judge's context must point at the file's first sector.
//
// The read-ahead still bounds every such length: a structural end is taken only
// when no other file and no file-system metadata starts before it.
#include "carving/ReadAhead.h"

#include <cstdint>

uint64_t IsoBoxesEnd(unsigned char* buf, int len, uint64_t cap);     // mp4, mov, 3gp
uint64_t MatroskaEnd(unsigned char* buf, int len);                   // mkv
uint64_t FlvTagsEnd(unsigned char* buf, int len, uint64_t cap);      // flv
uint64_t SqliteEnd(unsigned char* buf, int len);                     // db
uint64_t MpegPacksEnd(unsigned char* buf, int len, uint64_t cap);    // mpeg program streams
uint64_t TiffEnd(unsigned char* buf, int len, uint64_t cap);         // tif: directories, strips, tiles

// The read-ahead of a rule, ended early at structural (when non-zero) or at a
// marker the visitor accepts; structural is taken only when it lies before
// where the read-ahead stops.
uint64_t ReadAheadToStructuralEnd(uint64_t structural, uint64_t cap, READ_AHEAD_STOP stop, const WindowVisitor& marker);
