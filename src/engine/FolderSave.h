#pragma once
// Saving a folder with everything below it, the same for every engine: breadth
// first, each folder made before its files are written, so a save the user stops
// leaves whole upper levels rather than one deep branch.
#include "engine/FileNode.h"

#include <functional>
#include <string>
#include <vector>

// A folder's children; depth is its level below the save's base (the group of
// GetChildrenFileNode), negative when its path is shallower than the base.
using ListFolder = std::function<int(_FILE_NODE_& folder, int depth, std::vector<_FILE_NODE_>& children)>;
// Writes one file to target.
using SaveOneFile = std::function<int(_FILE_NODE_& file, const std::wstring& target)>;

// Makes target (and its parents) and saves top's tree into it, children named
// through SafePathComponent. Every file is tried; the first failure is returned
// (a folder that could not be made or listed counts), except that
// RECOVERY_STOPPED ends the save at once.
int SaveFolderTree(const _FILE_NODE_& top, const std::wstring& target, int baseDepth, const ListFolder& list,
                   const SaveOneFile& save);
