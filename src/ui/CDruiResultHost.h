#pragma once
// Runs the result page's preview and recovery on the main window's machinery:
// a CMyThread worker behind a modal SCANUI, reporting through the window's
// callbacks and stopping on its cancel flags.
#include "ui/IResultPageHost.h"

class CWorkWindow;

class CDruiResultHost : public IResultPageHost {
public:
    explicit CDruiResultHost(CWorkWindow* owner) : m_owner(owner) {}

    void RunPreview(CPreviewProcess& preview) override;
    void RunRecovery(CRecoveryProcess& recovery, const QString& saveDir) override;
    QString FolderOf(const _FILE_NODE_& node) override;
    uint64_t AreaStartSector() const override;
    bool AreaHasFileSystem() const override;

    // Work functions (worker thread); ctx is the host.
    static void _PreviewProcess(void* ctx, int& ret);
    static void _RecoveryProcess(void* ctx, int& ret);

private:
    // True when the recovery may go to saveDir: a folder on the disk being scanned
    // could overwrite the very files being recovered, so the user is asked first.
    bool ConfirmDestination(const QString& saveDir);

    CWorkWindow* m_owner;
    CPreviewProcess* m_pPreview = nullptr;
    CRecoveryProcess* m_pRecovery = nullptr;
};
