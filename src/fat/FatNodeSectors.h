#pragma once
// Where a FAT record's data starts on the device: one formula for the quick and
// the deep engine.
#include "engine/FileNode.h"

#include <cstdint>

// Absolute first sector of the data of a FAT file or folder record.
uint64_t FatNodeFirstSector(const _FILE_NODE_& node);
