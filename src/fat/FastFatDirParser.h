#pragma once
// Turns one cluster of a FAT directory into the entries the quick scan acts on:
// files, sub-folders and the "." entry, each with its long or short name.
#include "fat/FatStructures.h"
#include "platform/ByteView.h"

#include <cstdint>
#include <vector>

// Long-name pieces collected in front of a short entry: 256 UTF-16 slots filled
// from the end, slot 256 always 0. A run may continue into the next cluster.
struct FASTFAT_LONG_NAME {
    uint16_t slots[257];
    int nStart = 256; // first slot in use; 256 = nothing collected
    int nPieces = 0;
    FASTFAT_LONG_NAME() { Clear(); }
    void Clear();
};

enum FASTFAT_ITEM_KIND : int {
    FASTFAT_ITEM_FILE = 0,
    FASTFAT_ITEM_DIR = 1,
    FASTFAT_ITEM_DOT = 2, // the "." entry: names the folder's own first cluster
};

struct FASTFAT_DIR_ITEM {
    int nKind;
    uint32_t nOffset; // byte offset of the short entry in the cluster
    FAT32_Entry entry;
    bool bDeleted;    // the entry itself carries the deleted mark
    char szName[256]; // 8-bit name; a leading deleted mark shows as '!'
};

// More than this many consecutive long-name pieces end the directory.
constexpr int FASTFAT_MAX_LONG_NAME_PIECES = 19;

// Parses the entries of one directory cluster in order. Entries that fail the
// entry validator are skipped. Returns true when the directory ends inside this
// cluster (end mark, or an over-long run of long-name pieces).
bool ParseFastFatDirCluster(const ByteView& cluster, FASTFAT_LONG_NAME& longName, std::vector<FASTFAT_DIR_ITEM>& out);

// The lower-case 8.3 name of a short entry ("readme.txt", a folder's base only).
void FormatFastFatShortName(const FAT32_Entry& entry, bool isDir, char* out, size_t outSize);
