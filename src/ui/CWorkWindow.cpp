#include "ui/CWorkWindow.h"

#include "engine/CProfessionalRecovery.h"
#include "ui/UiStyles.h"

int CWorkWindow::ScanCallBack(void* pParam, int nProgress, int nPercent, int nRemaindSecond, uint64_t u64CurSector,
                              uint64_t u64SectorCount, uint64_t u64FindFileCount, wchar_t* pRecoveryFileName) {
    auto* self = static_cast<CWorkWindow*>(pParam);
    if (self->m_bScanCancel) return 1;
    // Reported before the progress, so the line that shows the progress shows them too.
    if (auto* deep = dynamic_cast<CProfessionalRecovery*>(self->GetEngine())) {
        const uint64_t unreadable = deep->GetUnreadableSectorCount();
        if (unreadable != self->m_u64ReportedUnreadable) {
            self->m_u64ReportedUnreadable = unreadable;
            emit self->UnreadableSectors(unreadable, deep->GetFirstUnreadableSector(), deep->GetLastUnreadableSector());
        }
    }
    emit self->ScanProcessCallBack(nProgress, nPercent, nRemaindSecond, QString::number(u64CurSector),
                                   QString::number(u64SectorCount), QString::number(u64FindFileCount),
                                   FromWide(pRecoveryFileName));
    return 0;
}

int CWorkWindow::RecoveryCallBack(void* pParam, int nProgress, int nPercent, int nErrorCode,
                                  wchar_t* pRecoveryFileName) {
    auto* self = static_cast<CWorkWindow*>(pParam);
    if (self->m_bRecoveryCancel) return RECOVERY_STOPPED;
    emit self->RecoveryCallBackSignal(nProgress, nPercent, nErrorCode, FromWide(pRecoveryFileName));
    return 0;
}

int CWorkWindow::SearchCallBack(void* pParam, int nProgress, wchar_t*) {
    auto* self = static_cast<CWorkWindow*>(pParam);
    if (self->m_bSearchCancel) return 1;
    emit self->SearchCallBackSignal(nProgress, QString());
    return 0;
}

int CWorkWindow::PreViewCallBack(void* pParam, int nProgress, int nRet) {
    auto* self = static_cast<CWorkWindow*>(pParam);
    if (self->m_bPreviewCancel) return 1;
    emit self->PreViewCallBackForSlot(nProgress, nRet);
    return 0;
}
