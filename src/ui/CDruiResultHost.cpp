#include "ui/CDruiResultHost.h"

#include "engine/CProfessionalRecovery.h"
#include "platform/DeviceMap.h"
#include "ui/CDetail.h"
#include "ui/CMessageBox.h"
#include "ui/CMyThread.h"
#include "ui/CPreviewProcess.h"
#include "ui/CRecoveryProcess.h"
#include "ui/CWorkWindow.h"
#include "ui/SCANUI.h"

#include <QDebug>
#include <QLabel>

void CDruiResultHost::RunPreview(CPreviewProcess& preview) {
    m_pPreview = &preview;
    CMyThread worker;
    worker.SetFunc(_PreviewProcess, this);
    SCANUI dialog;
    dialog.SetPreviewName(preview.FileName());
    dialog.InitSlot(m_owner, SCANUI::OPR_PREVIEW);
    dialog.WatchWorker(&worker);
    worker.start();
    dialog.exec();
    worker.wait();
    m_pPreview = nullptr;
}

void CDruiResultHost::_PreviewProcess(void* ctx, int&) {
    auto* self = static_cast<CDruiResultHost*>(ctx);
    CWorkWindow* owner = self->m_owner;
    owner->m_bPreviewCancel = false;
    owner->m_bPreviewFinished = false;
    self->m_pPreview->Run(owner->GetEngine(), CWorkWindow::PreViewCallBack, owner);
    owner->m_bPreviewFinished = true;
}

bool CDruiResultHost::ConfirmDestination(const QString& saveDir) {
    const _PARTITION_ITEM_ item = m_owner->GetPartitionItem();
    if (!IsPathOnDevice(saveDir.toUtf8().toStdString(), GetDiskDevicePath(item.nDiskNo))) return true;
    CMessageBox box;
    box.InitQuestionDialog(QStringLiteral("The folder %1 is on the disk being scanned.\n"
                                          "Saving there could overwrite the files you are recovering.\n"
                                          "Save there anyway?")
                               .arg(saveDir));
    box.exec();
    return box.GetMessageBoxRet() == 1;
}

void CDruiResultHost::RunRecovery(CRecoveryProcess& recovery, const QString& saveDir) {
    if (!ConfirmDestination(saveDir)) return;
    m_pRecovery = &recovery;
    CDetail detail;
    SCANUI dialog;
    dialog.SetSaveDir(saveDir);
    dialog.SetDetailDialog(&detail);
    detail.SetFolder(saveDir);
    QObject::connect(&dialog, &SCANUI::DetailRow, &detail, &CDetail::AddTableItem);
    dialog.InitSlot(m_owner, SCANUI::OPR_RECOVERY);
    // After the dialog's own handling of the final report: the outcome replaces
    // the bare percentage, in red when anything failed.
    const int total = recovery.Total();
    QObject::connect(m_owner, &CWorkWindow::RecoveryCallBackSignal, &dialog, [&dialog, &detail, total](int, int percent, int, QString) {
        if (percent != 1000) return;
        dialog.TextLabel()->setText(detail.OutcomeText(total));
        dialog.TextLabel()->setStyleSheet(detail.FailedCount() > 0 ? QStringLiteral("color: rgb(200, 0, 0);") : QString());
    });
    CMyThread worker;
    worker.SetFunc(_RecoveryProcess, this);
    dialog.WatchWorker(&worker);
    qDebug("_RecoveryProcess Start\n");
    worker.start();
    dialog.exec();
    worker.wait();
    m_pRecovery = nullptr;
}

QString CDruiResultHost::FolderOf(const _FILE_NODE_& node) {
    IFileRecoveryParse* engine = m_owner->GetEngine();
    wchar_t parent[CRecoveryProcess::TARGET_PATH_SIZE] = {0};
    _FILE_NODE_ copy = node;
    if (!engine || engine->GetFileNodeParentDirPath(&copy, parent, CRecoveryProcess::TARGET_PATH_SIZE) != 0)
        return QString();
    parent[CRecoveryProcess::TARGET_PATH_SIZE - 1] = 0;
    return QString::fromWCharArray(parent);
}

uint64_t CDruiResultHost::AreaStartSector() const { return m_owner->GetPartitionItem().u64StartSector; }

bool CDruiResultHost::AreaHasFileSystem() const {
    const auto* composite = dynamic_cast<const CProfessionalRecovery*>(m_owner->GetEngine());
    return !composite || composite->HasFileSystem();
}

void CDruiResultHost::_RecoveryProcess(void* ctx, int&) {
    auto* self = static_cast<CDruiResultHost*>(ctx);
    CWorkWindow* owner = self->m_owner;
    owner->m_bRecoveryCancel = false;
    owner->m_bRecoveryFinished = false;
    self->m_pRecovery->Run(owner->GetEngine(), CWorkWindow::RecoveryCallBack, owner);
    // Reports that come after the run stop at once.
    owner->m_bRecoveryCancel = true;
    owner->m_bRecoveryFinished = true;
}
