// The scan and the search of the main window: worker functions, engine
// callbacks and the modal progress dialogs that wait for them.
#include "ui/DRUI.h"

#include "engine/CFileRecoveryFactory.h"
#include "engine/CProfessionalRecovery.h"
#include "platform/DeviceMap.h"
#include "ui/CMessageBox.h"
#include "ui/CMyThread.h"
#include "ui/CDruiResultHost.h"
#include "ui/CResultPage.h"
#include "ui/SCANUI.h"
#include "ui/UiStyles.h"

#include <QDebug>
#include <QLabel>
#include <QStackedLayout>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
// The program's own result codes first; any other positive value is an errno.
QString DescribeResultCode(int code) {
    switch (code) {
    case 87: return "invalid parameter or out-of-range request";
    case 30: return "a read of the device delivered nothing";
    case 29: return "a cluster larger than 100 MiB";
    case 8: return "out of memory";
    default: return QString::fromLocal8Bit(std::strerror(code));
    }
}
} // namespace


bool DRUI::FindInterruptedScan(const _PARTITION_ITEM_& item, _LOG_FILE_INFO_& record) {
    // The engine scans no further than the device's end, and its log records the area so.
    uint64_t bytes = 0;
    if (GetDeviceSize(GetDiskDevicePath(item.nDiskNo), bytes) != 0) return false;
    const uint64_t end = std::min<uint64_t>(item.u64EndSector + 1, bytes / 512);
    if (end <= item.u64StartSector) return false;
    const uint64_t count = end - item.u64StartSector;
    for (const _LOG_FILE_INFO_& r : CLogFileManager::GetInstance()->GetLogRecords()) {
        if (int(r.nDiskNo) != item.nDiskNo || r.u64StartSector != item.u64StartSector || r.u64SectorCount != count) continue;
        // A finished pass leaves no extent, or its position at the extent's end.
        if (r.u64ExtentLength == 0 || r.u64ExtentOffset >= r.u64ExtentLength) return false;
        record = r;
        return true;
    }
    return false;
}

QString DRUI::GetScanNotice() const {
    QStringList lines;
    if (m_outcome.bStopped)
        lines << "The scan was stopped before its end: the files below are what it found until then. "
                 "Scanning this area again offers to resume it.";
    if (m_outcome.u64Unreadable)
        lines << QString("%1 sectors could not be read (between sector %2 and sector %3) and were skipped: "
                         "files stored there may be missing or incomplete.")
                     .arg(static_cast<qulonglong>(m_outcome.u64Unreadable))
                     .arg(static_cast<qulonglong>(m_outcome.u64FirstUnreadable))
                     .arg(static_cast<qulonglong>(m_outcome.u64LastUnreadable));
    return lines.join('\n');
}

void DRUI::btnSlotScan() {
    QTreeWidgetItem* row = m_pDiskTree ? m_pDiskTree->currentItem() : nullptr;
    QVariant data = row ? row->data(0, Qt::UserRole) : QVariant();
    if (data.canConvert<_PARTITION_ITEM_>() && data.userType() == qMetaTypeId<_PARTITION_ITEM_>())
        m_partitionItem = data.value<_PARTITION_ITEM_>();
    else
        std::memset(&m_partitionItem, 0, sizeof m_partitionItem);

    // The ticked kinds, read here: the workers never touch the boxes.
    m_strSearchKey = BuildCheckedSearchKey();
    m_bResumeScan = false;
    _LOG_FILE_INFO_ interrupted;
    if (FindInterruptedScan(m_partitionItem, interrupted)) {
        if (m_chooseResume) {
            m_bResumeScan = m_chooseResume(interrupted);
        } else {
            CMessageBox box;
            box.InitQuestionDialog(QString("An earlier scan of this area was interrupted after %1 sectors, with %2 files "
                                           "found.\nResume it? (No starts the scan again from the beginning.)")
                                       .arg(static_cast<qulonglong>(interrupted.u64ScannedSectors))
                                       .arg(static_cast<qulonglong>(interrupted.u64FindFileCount)));
            box.move(x() + width() / 2 - 200, y() + height() / 2 - 75);
            box.exec();
            m_bResumeScan = box.GetMessageBoxRet() == 1;
        }
    }

    {
        CMyThread worker;
        worker.SetFunc(_ScanProcess, this);
        SCANUI dialog;
        dialog.InitSlot(this, SCANUI::OPR_SCAN);
        dialog.WatchWorker(&worker);
        dialog.setGeometry(x() + width() / 4, y() + height() / 4, 500, 250);
        worker.start();
        dialog.exec();
        worker.wait();
        qDebug("_ScanProcess end\n");
    }

    if (!m_strScanError.isEmpty()) {
        CMessageBox box;
        box.InitMessageDialog("Scan", m_strScanError);
        box.move(x() + width() / 2 - 200, y() + height() / 2 - 75);
        box.exec();
    }

    {
        CMyThread worker;
        worker.SetFunc(_SearchProcess, this);
        SCANUI dialog;
        dialog.InitSlot(this, SCANUI::OPR_SEARCH);
        dialog.WatchWorker(&worker);
        qDebug("_SearchProcess Start\n");
        worker.start();
        dialog.exec();
        worker.wait();
        qDebug("_SearchProcess end\n");
    }

    m_pLayout3Widget = InitLayout3Widget();
    m_pStackedLayout->addWidget(m_pLayout3Widget);
    m_pStackedLayout->setCurrentWidget(m_pLayout3Widget);
}

QWidget* DRUI::InitLayout3Widget() {
    if (m_pLayout3Widget) {
        m_pStackedLayout->removeWidget(m_pLayout3Widget);
        delete m_pLayout3Widget;
        m_pLayout3Widget = nullptr;
        m_pResultPage = nullptr;
        m_pScanNotice = nullptr;
    }
    if (!m_pResultHost) m_pResultHost = std::make_unique<CDruiResultHost>(this);
    // The page is the browser alone; the window frames it with its own bars.
    auto* frame = new QWidget;
    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(CreateHeaderBar(frame));
    layout->addWidget(CreateHeading(frame));
    // What the list cannot say by itself: a stopped scan, sectors that could not be read.
    m_pScanNotice = new QLabel(GetScanNotice(), frame);
    m_pScanNotice->setObjectName("scanNotice");
    m_pScanNotice->setWordWrap(true);
    m_pScanNotice->setContentsMargins(24, 6, 24, 6);
    m_pScanNotice->setStyleSheet("QLabel{background-color: rgb(255, 243, 205); color: rgb(102, 77, 3);}");
    m_pScanNotice->setVisible(!m_pScanNotice->text().isEmpty());
    layout->addWidget(m_pScanNotice);
    auto* page = new CResultPage(m_pResultHost.get(), frame);
    connect(page, &CResultPage::BackClicked, this, &DRUI::btnSlotBack);
    page->SetResults(m_vecSearchResult);
    layout->addWidget(page, 1);
    layout->addWidget(CreateFooterBar(frame));
    m_pResultPage = page;
    return frame;
}

void DRUI::_ScanProcess(void* ctx, int& ret) {
    wchar_t path[1] = {0};
    static_cast<DRUI*>(ctx)->Scan(path, ret);
}

IFileRecoveryParse* DRUI::MakeEngine(const _PARTITION_ITEM_& item) {
    if (m_engineMaker) return m_engineMaker(item);
    long long count = static_cast<long long>(item.u64EndSector + 1 - item.u64StartSector);
    return CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
        item.nDiskNo, static_cast<long long>(item.u64StartSector), count, L'C', RECOVERY_TYPE_PROFESSIONAL);
}

QString DRUI::DescribeOpenFailure(const _PARTITION_ITEM_& item) const {
    std::string path = GetDiskDevicePath(item.nDiskNo);
    QString reason;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        reason = QString::fromLocal8Bit(std::strerror(errno));
    } else {
        unsigned char probe[512];
        ssize_t got = ::pread(fd, probe, sizeof probe, static_cast<off_t>(item.u64StartSector * 512));
        if (got < 0) reason = QString::fromLocal8Bit(std::strerror(errno));
        else if (got < static_cast<ssize_t>(sizeof probe)) reason = "the area lies beyond the end of the device";
        else reason = "no recovery engine is available for this area";
        ::close(fd);
    }
    return QString("The partition could not be opened (%1): %2.").arg(QString::fromStdString(path), reason);
}

QString DRUI::TakeAreaLock(const _PARTITION_ITEM_& item) {
    // Identified as the command-line tool identifies it: the sectors that exist.
    const std::string device = GetDiskDevicePath(item.nDiskNo);
    uint64_t bytes = 0;
    GetDeviceSize(device, bytes);
    const uint64_t sectors = bytes / 512;
    const uint64_t start = item.u64StartSector;
    const uint64_t count = start < sectors ? std::min<uint64_t>(item.u64EndSector + 1, sectors) - start : 0;
    auto lock = std::make_unique<CScanAreaLock>();
    const int rc = lock->Acquire(device, sectors * 512, start, count);
    if (rc == EWOULDBLOCK)
        return QString("This area is being scanned by another Orvale%1: wait for it to end, or stop it, then scan again.")
            .arg(lock->Holder() ? QString(" (process %1)").arg(lock->Holder()) : QString());
    if (rc != 0)
        return QString("The scan results cannot be kept in %1: %2.")
            .arg(QString::fromStdString(GetSupportDirPath()), QString::fromLocal8Bit(std::strerror(rc)));
    CLogFileManager::GetInstance()->SetScanAreaId(lock->Id());
    m_pAreaLock = std::move(lock);
    return QString();
}

int DRUI::Scan(wchar_t* path, int&) {
    m_bScanCancel = false;
    m_bScanFinished = false;
    m_strScanError.clear();
    m_outcome = SCAN_OUTCOME();
    m_u64ReportedUnreadable = 0;
    DestroyEngine();
    qDebug("m_partitionItem.u64StartSector = %lld\n", static_cast<long long>(m_partitionItem.u64StartSector));

    int result = -1;
    m_strScanError = TakeAreaLock(m_partitionItem);
    if (m_strScanError.isEmpty()) m_pEngine = MakeEngine(m_partitionItem);
    if (!m_strScanError.isEmpty()) {
        // Nothing was scanned: the notice says why.
    } else if (m_pEngine) {
        // Unless the user chose to resume, an earlier result of the area is discarded.
        auto* deep = dynamic_cast<CProfessionalRecovery*>(m_pEngine);
        if (deep && !m_bResumeScan) deep->SetNotLoadLogFile();
        if (deep) deep->SetFoundCountKey(m_strSearchKey);
        m_pEngine->InitCallBack(ScanCallBack, RecoveryCallBack, this, 100);
        result = m_pEngine->ScanDevice(path[0] ? path : nullptr);
        m_outcome.bStopped = m_bScanCancel;
        if (deep) {
            m_outcome.u64Unreadable = deep->GetUnreadableSectorCount();
            m_outcome.u64FirstUnreadable = deep->GetFirstUnreadableSector();
            m_outcome.u64LastUnreadable = deep->GetLastUnreadableSector();
        }
        if (result > 0 && !m_bScanCancel) m_strScanError = QString("The scan ended early: %1.").arg(DescribeResultCode(result));
    } else {
        m_strScanError = DescribeOpenFailure(m_partitionItem);
    }
    m_bScanFinished = true;
    return result;
}

void DRUI::_SearchProcess(void* ctx, int&) {
    auto* self = static_cast<DRUI*>(ctx);
    self->m_bSearchCancel = false;
    self->m_bSearchFinished = false;
    self->m_vecSearchResult.clear();
    if (self->m_pEngine) {
        self->m_pEngine->InitSearchCallBack(SearchCallBack, self);
        std::wstring key = self->m_strSearchKey;
        self->m_pEngine->SearchFileNode(key.data(), self->m_vecSearchResult);
    }
    self->m_bSearchFinished = true;
    wchar_t empty[1] = {0};
    SearchCallBack(self, 100, empty);
}
