#pragma once
// The modal progress dialog of one long operation (scan, search, preview,
// recovery). Reports arrive as queued signals of the main window; closing it
// before the operation ended asks first and then stops the worker.
#include "ui/CFramelessDialog.h"

#include <QPointer>
#include <QString>

class CMessageBox;
class CWorkWindow;
class QLabel;
class QProgressBar;
class QPushButton;
class QThread;

class SCANUI : public CFramelessDialog {
    Q_OBJECT
public:
    enum { OPR_SCAN = 1, OPR_SEARCH = 2, OPR_PREVIEW = 3, OPR_RECOVERY = 4 };

    explicit SCANUI(QWidget* parent = nullptr);

    void InitSlot(CWorkWindow* owner, int oprType);
    void InitDialog();
    void SetSaveDir(QString dir) { m_strSaveDir = dir; }
    // Name of the file a preview dialog shows; set before InitSlot.
    void SetPreviewName(QString name) { m_strPreviewName = name; }
    // The recovery dialog's "Detail" button shows this dialog (not owned).
    void SetDetailDialog(QDialog* detail) { m_pDetail = detail; }
    // Ends the dialog when the worker ends without its final report (no engine,
    // a failed start, a fault), so nobody waits for a report that never comes.
    // Recovery dialogs stay open: their end is the "Finished" state.
    void WatchWorker(QThread* worker);

    bool IsFinished() const { return m_bIsFinished; }
    int OprType() const { return m_nOprType; }
    QString LabelText() const;
    QLabel* TextLabel() const { return m_pTextLabel; }
    int ProgressValue() const;
    QPushButton* ActionButton() const { return m_pActionButton; }
    QString CurrentFileName() const { return m_strCurrentFileName; }

signals:
    // One file of a recovery run is done: failed is the engine's error code, 0 for success.
    void DetailRow(QString name, int failed);

public slots:
    void ScanProcessCallBackSlot(int nProgress, int nPercent, int nRemaindSecond, QString u64CurSectorStr,
                                 QString u64SectorCountStr, QString u64FindFileCountStr, QString pRecoveryFileName);
    void RecoveryCallBackSlot(int nProgress, int nPercent, int nErrorCode, QString pRecoveryFileName);
    void SearchCallBackSlot(int nProgress, QString pRecoveryFileName);
    void PreViewCallBackSlot(int nProgress, int nRet);
    void UnreadableSectorsSlot(quint64 count, quint64 first, quint64 last);
    void btnSlot();
    void btnDetail();
    void btnOpenFolder();
    void WorkerEnded();
    // Escape and every other platform rejection go through the cancel protocol.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // True when the dialog may close; runs the question and the stop wait.
    bool CancelProtocol();
    void Finish();

    CWorkWindow* m_pOwner = nullptr;
    int m_nOprType = 0;
    bool m_bIsFinished = false;
    QLabel* m_pTitle = nullptr;
    QLabel* m_pTextLabel = nullptr;
    QProgressBar* m_progressBar = nullptr;
    QPushButton* m_pActionButton = nullptr;
    QDialog* m_pDetail = nullptr;
    QPointer<CMessageBox> m_pQuestion; // open while the cancel question waits for an answer
    QString m_strCurrentFileName;
    QString m_strSaveDir;
    QString m_strPreviewName;
    QString m_strUnreadable; // the scan's line about sectors it could not read
};
