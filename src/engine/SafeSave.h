#pragma once
// Saving one found file so that nothing under its name ever claims to be complete
// when it is not: the engine writes a temporary name in the target folder, which
// becomes the real name (never over an existing file) only once all of it is there.
#include "engine/FileNode.h"

#include <functional>
#include <vector>
#include <string>

class IFileRecoveryParse;

struct SafeSaveResult {
    int code = 0;              // 0, the engine's failure, RECOVERY_STOPPED, 30 for a short file, or errno
    std::string savedPath;     // UTF-8 path now holding the file, empty when none
    bool partial = false;      // savedPath is an incomplete "….partial" kept on request
};

// finalPath is a free UTF-8 path (see GetRealFileName). errorSeen answers, after
// the engine returned, the first error the engine reported through its callback
// while it went on (a write that failed, a disk that filled up); may be empty.
SafeSaveResult SaveFileSafely(IFileRecoveryParse* engine, const _FILE_NODE_& node, const std::string& finalPath,
                              int dirIndex, bool keepPartial, const std::function<int()>& errorSeen);

// Renames from to a free name derived from to (name(1).ext, …), never replacing a file. 0 or errno.
int RenameWithoutReplacing(const std::string& from, const std::string& to, std::string& used);
