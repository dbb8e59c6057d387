#pragma once
// What the result page needs from the window that owns the engine and the worker
// threads: running a preview or a recovery behind the modal progress dialog.
#include <QString>

class CPreviewProcess;
class CRecoveryProcess;

class IResultPageHost {
public:
    virtual ~IResultPageHost() = default;
    // Both return once the worker has ended and its progress dialog is closed.
    virtual void RunPreview(CPreviewProcess& preview) = 0;
    virtual void RunRecovery(CRecoveryProcess& recovery, const QString& saveDir) = 0;
};
