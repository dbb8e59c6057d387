#include "ui/SCANUI.h"

#include "engine/DisplayFormat.h"
#include "platform/Portability.h"
#include "ui/CMessageBox.h"
#include "ui/CWorkWindow.h"
#include "ui/UiStyles.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>

SCANUI::SCANUI(QWidget* parent) : CFramelessDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName("Dialog");
    setFixedSize(500, 250);
}

void SCANUI::InitSlot(CWorkWindow* owner, int oprType) {
    m_pOwner = owner;
    m_nOprType = oprType;
    InitDialog();
    m_progressBar->setValue(0);
    m_pTextLabel->setText(oprType == OPR_SCAN ? "  Current Process: 0%\n  Estimated Time Left: 0 second\n" : "");
    connect(owner, &CWorkWindow::ScanProcessCallBack, this, &SCANUI::ScanProcessCallBackSlot);
    connect(owner, &CWorkWindow::RecoveryCallBackSignal, this, &SCANUI::RecoveryCallBackSlot);
    connect(owner, &CWorkWindow::SearchCallBackSignal, this, &SCANUI::SearchCallBackSlot);
    connect(owner, &CWorkWindow::PreViewCallBackForSlot, this, &SCANUI::PreViewCallBackSlot);
    if (oprType == OPR_SCAN) connect(owner, &CWorkWindow::UnreadableSectors, this, &SCANUI::UnreadableSectorsSlot);
}

void SCANUI::InitDialog() {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    QString title;
    switch (m_nOprType) {
    case OPR_SCAN: title = "  Scan File\n  scanning drive for deleted files"; break;
    case OPR_SEARCH: title = "  Search File\n  searching drive for deleted files"; break;
    case OPR_PREVIEW: title = QString("  Preview File\n  %1\n").arg(m_strPreviewName); break;
    default: title = "  Recovery File\n"; break;
    }
    m_pTitle = new QLabel(title, this);
    m_pTitle->setStyleSheet(QString(backGroud_style) + "color: white;");
    m_pTitle->setFont(QFont("Arial", 12));
    m_pTitle->setFixedHeight(70);
    column->addWidget(m_pTitle);

    auto* body = new QVBoxLayout();
    body->setContentsMargins(16, 8, 16, 12);
    m_pTextLabel = new QLabel(this);
    m_pTextLabel->setFont(QFont("Arial", 11));
    m_pTextLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    body->addWidget(m_pTextLabel, 1);
    m_progressBar = new QProgressBar(this);
    m_progressBar->setRange(0, 100);
    m_progressBar->setTextVisible(false);
    m_progressBar->setFixedHeight(14);
    body->addWidget(m_progressBar);

    auto* buttons = new QHBoxLayout();
    buttons->setContentsMargins(0, 10, 0, 0);
    buttons->addStretch(1);
    auto addButton = [&](const char* text) {
        auto* b = new QPushButton(text, this);
        b->setStyleSheet(dialog_button_style);
        b->setCursor(Qt::PointingHandCursor);
        b->setAutoDefault(false);
        b->setMinimumWidth(100);
        buttons->addWidget(b);
        return b;
    };
    if (m_nOprType == OPR_RECOVERY) {
        connect(addButton("Detail"), &QPushButton::clicked, this, &SCANUI::btnDetail);
        connect(addButton("Open Folder"), &QPushButton::clicked, this, &SCANUI::btnOpenFolder);
    }
    m_pActionButton = addButton("Cancel");
    m_pActionButton->setDefault(true); // Enter: the stop question, or closing once finished
    connect(m_pActionButton, &QPushButton::clicked, this, &SCANUI::btnSlot);
    body->addLayout(buttons);
    column->addLayout(body, 1);
}

QString SCANUI::LabelText() const { return m_pTextLabel ? m_pTextLabel->text() : QString(); }
int SCANUI::ProgressValue() const { return m_progressBar ? m_progressBar->value() : 0; }

void SCANUI::WatchWorker(QThread* worker) {
    // The thread object lives on this thread, so the signal arrives queued after
    // every report the worker sent before it ended.
    connect(worker, &QThread::finished, this, &SCANUI::WorkerEnded, Qt::QueuedConnection);
}

void SCANUI::WorkerEnded() {
    if (m_bIsFinished || m_nOprType == OPR_RECOVERY || !isVisible()) return;
    Finish();
}

void SCANUI::Finish() {
    m_bIsFinished = true;
    // The operation ended while the user was asked whether to stop it: nothing left to ask.
    if (m_pQuestion) m_pQuestion->close();
    close();
}

void SCANUI::ScanProcessCallBackSlot(int nProgress, int nPercent, int nRemaindSecond, QString cur, QString count,
                                     QString found, QString name) {
    int value = (nProgress * nPercent) / 100;
    m_progressBar->setValue(value);
    m_strCurrentFileName = name;
    QString timeText = "Estimated time is calculating";
    if (nPercent == 90) {
        if (nRemaindSecond != -1)
            timeText = "Estimated Time Left: " + QString::fromStdString(GetTimeString(nRemaindSecond));
        m_pTextLabel->setText(QString("  Current Process: %1%\n  Reading Sector: %2/%3\n  Total Files Found: %4\n  %5\n%6")
                                  .arg(value)
                                  .arg(cur, count, found, timeText, m_strUnreadable));
    } else {
        m_pTextLabel->setText(QString("  Current Process: %1%\n  %2\n%3").arg(value).arg(timeText, m_strUnreadable));
    }
    int product = nProgress * nPercent;
    if (product >= 10000 && product <= 10099) Finish();
}

void SCANUI::UnreadableSectorsSlot(quint64 count, quint64 first, quint64 last) {
    m_strUnreadable = QString("  Unreadable Sectors: %1 (sectors %2 to %3), skipped\n").arg(count).arg(first).arg(last);
}

void SCANUI::SearchCallBackSlot(int nProgress, QString name) {
    m_progressBar->setValue(nProgress);
    m_strCurrentFileName = name;
    m_pTextLabel->setText(QString("  Process: %1%\n  Searching drive for recovery files").arg(nProgress));
    if (nProgress == 100 && m_pOwner && m_pOwner->m_bSearchFinished) Finish();
}

void SCANUI::PreViewCallBackSlot(int nProgress, int) {
    m_progressBar->setValue(nProgress);
    m_pTextLabel->setText(QString("  Process: %1%\n  Previewing file:%2").arg(nProgress).arg(m_strPreviewName));
    if (nProgress == 100) Finish();
}

void SCANUI::RecoveryCallBackSlot(int nProgress, int nPercent, int nErrorCode, QString name) {
    int value = (nProgress * nPercent) / 100;
    m_progressBar->setValue(value);
    m_strCurrentFileName = name;
    if (nPercent == 1000) {
        m_bIsFinished = true;
        m_pActionButton->setText("Finished");
        return;
    }
    if (nProgress == 100) emit DetailRow(name, nErrorCode);
    m_pTextLabel->setText(QString("  Process: %1%\n  Destination: %2").arg(value).arg(name));
}

void SCANUI::btnSlot() { close(); }

void SCANUI::reject() { close(); }

void SCANUI::btnDetail() {
    if (!m_pDetail) return;
    m_pDetail->setGeometry(QRect(pos(), QPoint(pos().x() + 599, pos().y() + 399)));
    m_pDetail->exec();
}

void SCANUI::btnOpenFolder() { QDesktopServices::openUrl(QUrl::fromLocalFile(m_strSaveDir)); }

bool SCANUI::CancelProtocol() {
    if (m_bIsFinished) return true;
    bool recoveryDone = m_nOprType == OPR_RECOVERY && m_pActionButton && m_pActionButton->text() == "Finished";
    if (!recoveryDone) {
        static const char* const questions[5] = {"", "Are you sure to cancel the scanning?",
                                                 "Are you sure to cancel the searching?",
                                                 "Are you sure to cancel the previewing?",
                                                 "Are you sure to cancel the recoverying?"};
        CMessageBox box;
        box.InitQuestionDialog(questions[(m_nOprType >= 1 && m_nOprType <= 4) ? m_nOprType : 1], false);
        box.setGeometry(x() + width() / 8, y() + height() / 8, 400, 150);
        m_pQuestion = &box;
        box.exec();
        m_pQuestion = nullptr;
        if (m_bIsFinished) return true;
        if (box.GetMessageBoxRet() != 1) return false;
    }
    if (m_pOwner) {
        std::atomic<bool>* cancel = nullptr;
        std::atomic<bool>* finished = nullptr;
        switch (m_nOprType) {
        case OPR_SCAN: cancel = &m_pOwner->m_bScanCancel; finished = &m_pOwner->m_bScanFinished; break;
        case OPR_SEARCH: cancel = &m_pOwner->m_bSearchCancel; finished = &m_pOwner->m_bSearchFinished; break;
        case OPR_PREVIEW: cancel = &m_pOwner->m_bPreviewCancel; finished = &m_pOwner->m_bPreviewFinished; break;
        case OPR_RECOVERY: cancel = &m_pOwner->m_bRecoveryCancel; finished = &m_pOwner->m_bRecoveryFinished; break;
        }
        if (cancel) {
            *cancel = true;
            while (!*finished) rsb_msleep(100);
        }
    }
    m_progressBar->setValue(0);
    return true;
}

void SCANUI::closeEvent(QCloseEvent* event) {
    if (!CancelProtocol()) {
        event->ignore();
        return;
    }
    event->accept();
    QDialog::done(m_bIsFinished ? QDialog::Accepted : QDialog::Rejected);
}
