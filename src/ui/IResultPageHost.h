#pragma once
// What the result page needs from the window that owns the engine and the worker
// threads: running a preview or a recovery behind the modal progress dialog, and
// the facts about a found file only the engine knows.
#include "engine/FileNode.h"

#include <QString>
#include <cstdint>

class CPreviewProcess;
class CRecoveryProcess;

class IResultPageHost {
public:
    virtual ~IResultPageHost() = default;
    // Both return once the worker has ended and its progress dialog is closed.
    virtual void RunPreview(CPreviewProcess& preview) = 0;
    virtual void RunRecovery(CRecoveryProcess& recovery, const QString& saveDir) = 0;
    // The file's original folder below its volume ("A/B/"), empty when unknown.
    virtual QString FolderOf(const _FILE_NODE_& node) {
        (void)node;
        return QString();
    }
    // First sector of the scanned area, and whether a file system starts there:
    // the deep engines' volumes starting there are that file system.
    virtual uint64_t AreaStartSector() const { return 0; }
    virtual bool AreaHasFileSystem() const { return true; }
};
