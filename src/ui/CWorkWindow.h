#pragma once
// The window side of long work: the flags a progress dialog and a worker share,
// the engine callbacks that turn reports into queued signals, and what the
// workers run on. The progress dialog and the result host know this much of
// the main window and nothing more.
#include "disk/CPartitionManager.h"
#include "engine/IFileRecoveryParse.h"

#include <QMainWindow>
#include <QString>
#include <atomic>

// What a scan leaves unsaid by its list of files.
struct SCAN_OUTCOME {
    bool bStopped = false;     // the user stopped it before its end
    uint64_t u64Unreadable = 0; // sectors skipped because they could not be read
    uint64_t u64FirstUnreadable = 0;
    uint64_t u64LastUnreadable = 0;
};

class CWorkWindow : public QMainWindow {
    Q_OBJECT
public:
    using QMainWindow::QMainWindow;

    // The engine of the current scan and the area it scans.
    virtual IFileRecoveryParse* GetEngine() const = 0;
    virtual const _PARTITION_ITEM_& GetPartitionItem() const = 0;

    // Engine callbacks: the context is the window; they run on the worker thread
    // and turn each report into a queued signal. A set cancel flag returns the
    // stop value (1, or RECOVERY_STOPPED for recovery) and reports nothing.
    static int ScanCallBack(void* pParam, int nProgress, int nPercent, int nRemaindSecond, uint64_t u64CurSector,
                            uint64_t u64SectorCount, uint64_t u64FindFileCount, wchar_t* pRecoveryFileName);
    static int RecoveryCallBack(void* pParam, int nProgress, int nPercent, int nErrorCode, wchar_t* pRecoveryFileName);
    static int SearchCallBack(void* pParam, int nProgress, wchar_t* pRecoveryFileName);
    static int PreViewCallBack(void* pParam, int nProgress, int nRet);

    // Cancel flags are set by the progress dialog on the user-interface thread and
    // read by the callbacks on the worker; finished flags the other way round.
    std::atomic<bool> m_bScanCancel{false};
    std::atomic<bool> m_bScanFinished{false};
    std::atomic<bool> m_bSearchCancel{false};
    std::atomic<bool> m_bSearchFinished{false};
    std::atomic<bool> m_bRecoveryCancel{false};
    std::atomic<bool> m_bRecoveryFinished{false};
    std::atomic<bool> m_bPreviewCancel{false};
    std::atomic<bool> m_bPreviewFinished{false};
    // Unreadable sectors last reported; touched by the scan worker only.
    uint64_t m_u64ReportedUnreadable = 0;

signals:
    void ScanProcessCallBack(int nProgress, int nPercent, int nRemaindSecond, QString u64CurSectorStr,
                             QString u64SectorCountStr, QString u64FindFileCountStr, QString pRecoveryFileName);
    void RecoveryCallBackSignal(int nProgress, int nPercent, int nErrorCode, QString pRecoveryFileName);
    void SearchCallBackSignal(int nProgress, QString pRecoveryFileName);
    void PreViewCallBackForSlot(int nProgress, int nRet);
    // The scan met sectors it could not read: how many so far, the first and the last.
    void UnreadableSectors(quint64 count, quint64 first, quint64 last);
};
