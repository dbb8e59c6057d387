// The real window from the media page to recovered files on the end-to-end disk: unreadable
// sectors, a stop and its resumption, previews, and recoveries, one into a partly read-only place.
#include "UiTest.h"
#include "engine/DisplayFormat.h"
#include "platform/CDiskReader.h"
#include "fixtures/E2eDiskImage.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "ui/CDetail.h"
#include "ui/CMessageBox.h"
#include "ui/CResultPage.h"
#include "ui/DRUI.h"
#include "ui/PreviewFormat.h"
#include "ui/SCANUI.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedLayout>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <set>
#include <unistd.h>

namespace {
// A click on the row's check box, as the user makes it.
void ClickCheckBox(QTreeWidget* tree, QTreeWidgetItem* row) {
    tree->scrollToItem(row);
    const QRect rect = tree->visualItemRect(row);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(rect.left() + 10, rect.center().y()));
}

std::multiset<std::string> NamesAndSizes(const std::vector<__SEARCH_FILE_INFO__>& hits) {
    std::multiset<std::string> out;
    for (const auto& h : hits) out.insert(std::string(h.szFileName) + "/" + std::to_string(h.u64FileSize));
    return out;
}

// The image as the only disk of the media page.
bool UseDisk(const TempDir& dir, const E2eDiskImage& image) {
    const std::string disks = dir.file("disks");
    setenv("ORVALE_DISK_DIR", disks.c_str(), 1);
    return RunCommand("mkdir -p '" + disks + "' && ln -sf '" + image.path() + "' '" + disks + "/disk0'") == 0;
}

// The detail dialog's counts and rows, and the progress dialog's last text.
struct RecoveryRun { int succeeded = -1, failed = -1; QStringList names, states; QList<QColor> colours; QString outcome; };

// Answers a recovery's dialogs: the folder question, Detail then Finished, and the detail dialog.
RecoveryRun Recover(CResultPage* page, const std::string& dest) {
    RecoveryRun run;
    bool detailShown = false;
    ModalDriver driver([&](QWidget* w) {
        if (auto* files = qobject_cast<QFileDialog*>(w)) {
            files->setDirectory(QString::fromStdString(dest));
            QMetaObject::invokeMethod(files, "accept", Qt::QueuedConnection);
        } else if (auto* detail = qobject_cast<CDetail*>(w)) {
            run.succeeded = detail->SuccessCount(), run.failed = detail->FailedCount();
            for (int r = 0; r < detail->Table()->rowCount(); ++r) {
                const QTableWidgetItem* state = detail->Table()->item(r, 1);
                run.names << detail->Table()->item(r, 0)->text(), run.states << state->text(), run.colours << state->foreground().color();
            }
            detail->btnSlot();
        } else if (auto* progress = qobject_cast<SCANUI*>(w)) {
            if (progress->OprType() != SCANUI::OPR_RECOVERY || progress->ActionButton()->text() != "Finished") return;
            run.outcome = progress->LabelText();
            QPushButton* next = progress->ActionButton();
            for (QPushButton* b : progress->findChildren<QPushButton*>())
                if (!detailShown && b->text() == "Detail") next = b;
            detailShown = true;
            QMetaObject::invokeMethod(next, "click", Qt::QueuedConnection);
        } else if (auto* box = qobject_cast<CMessageBox*>(w)) {
            QFAIL(qPrintable("unexpected question: " + box->Text()));
        }
    });
    page->RecoverButton()->click();
    return run;
}
} // namespace

class ResultEndToEndTest : public QObject {
    Q_OBJECT
    TempDir m_dir{"ui-results"};
    E2eDiskImage m_image;
    std::string m_readOnlyMount;

private slots:
    void initTestCase() {
        for (const char* tool : {"mkfs.vfat", "mcopy", "sfdisk", "/usr/bin/convert", "zip"})
            if (!HaveTool(tool)) QSKIP(qPrintable(QString("SKIPPED: '%1' is not installed").arg(tool)));
        std::string error;
        QVERIFY2(m_image.Build(m_dir.path(), false, error), error.c_str());
        QVERIFY(UseDisk(m_dir, m_image));
        setenv("ORVALE_SUPPORT_DIR", m_dir.file("support").c_str(), 1);
    }
    void cleanupTestCase() {
        if (!m_readOnlyMount.empty()) RunCommand("umount '" + m_readOnlyMount + "'");
    }

    void scanPreviewAndRecover() {
        DRUI w;
        w.Init();
        w.btnSlot();
        QTreeWidgetItem* partition = w.GetDiskTree()->topLevelItem(0)->child(0);
        QVERIFY(partition->parent()->childCount() == 2 && w.GetDiskTree()->currentItem() == partition); // and the whole disk
        int boxes = 0;
        {
            ModalDriver driver([&](QWidget* widget) { if (auto* box = qobject_cast<CMessageBox*>(widget)) ++boxes, box->btnSlotOK(); });
            w.diskItemDoubleClick(partition, 0);
        }
        QVERIFY(boxes == 0 && w.GetScanError().isEmpty());
        QCOMPARE(w.GetStackedLayout()->currentIndex(), int(DRUI::PAGE_RESULT));
        QCOMPARE(std::make_pair(w.GetPartitionItem().u64StartSector, w.GetPartitionItem().u64EndSector), std::make_pair(uint64_t(2048), uint64_t(2048 + 131072 - 1)));
        // Deleted files come back under their names, directory-less ones by content
        // with their own sizes; live files are not offered.
        std::multiset<std::string> names, deleted; // deleted: digests a recovery must bring back
        std::multiset<uint64_t> sizes;
        std::string listed;
        for (const auto& hit : w.GetSearchResults())
            names.insert(hit.szFileName), sizes.insert(hit.u64FileSize), listed += std::string(hit.szFileName) + " ";
        for (const E2eFile& f : m_image.fatFiles()) {
            QVERIFY2(f.carvedOnly ? sizes.count(f.size) == 1 : names.count(f.name) == size_t(f.deleted), listed.c_str());
            if (f.deleted) deleted.insert(f.sha256);
        }
        QCOMPARE(w.GetSearchResults().size(), deleted.size());
        auto* page = qobject_cast<CResultPage*>(w.GetResultPage());
        QVERIFY(page);
        ModalDriver previews([](QWidget*) {}); // previews open and close by themselves
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTreeWidgetItem *photo = Row(page->Tree(), "Photo(3)"), *archive = Row(page->Tree(), "Archive(1)");
        QVERIFY2(photo && archive, listed.c_str());
        QCOMPARE(QStringList({page->FolderTree()->topLevelItem(0)->text(0), page->FolderTree()->topLevelItem(1)->text(0)}),
                 QStringList({QString("File system (%1)").arg(deleted.size() - 2), "Found by content (2)"}));
        page->Tree()->setCurrentItem(Row(page->Tree(), "jpg Files (2)"));
        QCOMPARE(page->Table()->rowCount(), 2);
        const bool beachFirst = page->Table()->item(0, 0)->text() == "BeachPhoto.jpg";
        QCOMPARE(page->PreviewPicture()->pixmap().size(),
                 PreviewPictureSize(beachFirst ? QSize(320, 200) : QSize(240, 180), page->PreviewPane()->contentsRect().size()));
        page->Tree()->setCurrentItem(Row(page->Tree(), "zip Files (1)"));
        QVERIFY(page->PreviewText()->toPlainText().startsWith("00000000  50 4b 03 04"));
        // Filtering the real results: what is listed and the counts and sums follow.
        page->Tree()->setCurrentItem(photo);
        uint64_t jpgBytes = 0, jpgs = 0;
        for (const auto& hit : w.GetSearchResults())
            if (QString(hit.szFileName).endsWith(".jpg")) jpgBytes += hit.u64FileSize, ++jpgs;
        page->FilterBox()->setText("*.JPG");
        QCOMPARE(page->ShownLabel()->text(), QString("%1 of %2 files, %3").arg(jpgs).arg(w.GetSearchResults().size())
                                                 .arg(QString::fromStdString(GetFileSizeString(static_cast<long long>(jpgBytes)))));
        QVERIFY(uint64_t(page->Table()->rowCount()) == jpgs && Row(page->Tree(), "Archive(0)")->isHidden());
        page->FilterBox()->clear();
        ClickCheckBox(page->Tree(), photo);
        QVERIFY(photo->checkState(0) == Qt::Checked && page->Selection().size() == 3);
        // With the folder structure, then without it into the same place: new names, nothing overwritten.
        const std::string dest = m_dir.file("dest");
        QCOMPARE(RunCommand("mkdir -p '" + dest + "'"), 0);
        for (bool keepTree : {true, false}) {
            page->KeepTreeBox()->setChecked(keepTree);
            const RecoveryRun run = Recover(page, dest);
            QVERIFY2(run.succeeded == 3 && run.failed == 0 && run.outcome.trimmed() == "Recovered 3 of 3 files", qPrintable(run.outcome));
        }
        std::map<std::string, std::string> saved = SavedDigests(dest);
        for (const char* report : {"orvale-report.csv", "orvale-report(1).csv"}) QVERIFY2(saved.erase(report), report);
        QVERIFY(saved["photo/Photos/Trip/BeachPhoto.jpg"] == m_image.fatFiles()[0].sha256 && saved["photo/BeachPhoto.jpg"] == m_image.fatFiles()[0].sha256);
        std::multiset<std::string> twice;
        for (const auto& f : saved) twice.insert(f.second);
        for (const E2eFile& f : m_image.fatFiles())
            if (f.deleted && f.name != "QuarterReport.zip") QVERIFY2(twice.count(f.sha256) == 2, f.name.c_str());
        QCOMPARE(saved.size(), size_t(6));
        // Third run, the archive too, into a destination whose photo folder is read-only.
        ClickCheckBox(page->Tree(), archive);
        QCOMPARE(page->Selection().size(), size_t(4));
        const std::string dest3 = m_dir.file("dest3");
        QCOMPARE(RunCommand("mkdir -p '" + dest3 + "/photo'"), 0);
        // Permission bits do not stop root: a read-only mount does, or else a plain file where the folder should be.
        if (geteuid() != 0) QCOMPARE(RunCommand("chmod 0555 '" + dest3 + "/photo'"), 0);
        else if (RunCommand("mount -t tmpfs -o ro,size=64k tmpfs '" + dest3 + "/photo'") == 0) m_readOnlyMount = dest3 + "/photo";
        else QCOMPARE(RunCommand("rmdir '" + dest3 + "/photo' && touch '" + dest3 + "/photo'"), 0);
        const RecoveryRun third = Recover(page, dest3);
        QVERIFY2(third.succeeded == 1 && third.failed == 3 && third.outcome.contains("Recovered 1 of 4 files") && third.outcome.contains("3 failed"),
                 qPrintable(third.outcome));
        for (int r = 0; r < 3; ++r) // failures first, in red
            QVERIFY2(third.states[r].startsWith("Failed") && third.names[r].contains("/photo/") && third.colours[r] == QColor(255, 0, 0),
                     qPrintable(third.names[r]));
        QCOMPARE(Sha256File(dest3 + "/archive/QuarterReport.zip"), m_image.fatFiles()[3].sha256); // flat, as last chosen
    }

    // The first partition of the end-to-end disk through the real engines, with
    // sectors that fail: counted on the dialog and the result page; a scan stopped
    // at 40 % says so, and its resumption lists what the uninterrupted scan listed.
    void realScanUnreadableStopAndResume() {
        TempDir support("ui-resume");
        ScopedEnv supportEnv("ORVALE_SUPPORT_DIR", support.path());
        std::vector<uint64_t> bad;
        for (uint64_t s = 62048; s < 62112; ++s) bad.push_back(s); // free clusters, mid-volume
        CDiskReader::SetFailingSectorsForTesting(bad);
        struct ClearFailing { ~ClearFailing() { CDiskReader::SetFailingSectorsForTesting({}); } } clear;
        DRUI w;
        w.Init();
        w.SetImageChooser([&] { return QString::fromStdString(m_image.path()); });
        w.btnSlot();
        w.GetOpenImageButton()->click();
        QString finalText;
        std::atomic<bool> stopAt40{false}, at40{false};
        ModalDriver driver([&](QWidget* widget) {
            auto* d = qobject_cast<SCANUI*>(widget);
            if (auto* box = qobject_cast<CMessageBox*>(widget)) QTest::keyClick(box, Qt::Key_Return); // stop: Yes
            if (d && d->OprType() == SCANUI::OPR_SCAN && at40) d->ActionButton()->click();
            if (d && d->OprType() == SCANUI::OPR_SCAN && !d->property("watched").toBool()) {
                d->setProperty("watched", true);
                connect(d, &QDialog::finished, [&finalText, d] { finalText = d->LabelText(); });
            }
        });
        int offered = 0;
        w.SetResumeChooser([&](const _LOG_FILE_INFO_&) { return ++offered, true; });
        int firstPass = -1; // the deep pass's first progress: where a resumed scan goes on from
        connect(&w, &CWorkWindow::ScanProcessCallBack, &w, [&](int progress, int percent) {
            if (percent != 90) return;
            if (firstPass < 0) firstPass = progress;
            // The pass waits at 40 % for the user's stop through the dialog, however fast it runs.
            if (stopAt40 && progress - 10 >= 40 && !at40.exchange(true))
                for (int i = 0; i < 1000 && !w.m_bScanCancel; ++i) QThread::msleep(10);
        }, Qt::DirectConnection);
        w.btnSlotScan();
        QVERIFY2(finalText.contains("Unreadable Sectors: 64 (sectors 62048 to 62111)"), qPrintable(finalText));
        QVERIFY2(w.GetScanNotice().contains("64 sectors could not be read (between sector 62048 and sector 62111)") &&
                     !w.GetScanNotice().contains("stopped"), qPrintable(w.GetScanNotice()));
        auto* notice = w.GetResultPage()->parentWidget()->findChild<QLabel*>("scanNotice");
        QVERIFY(notice && !notice->isHidden() && notice->text() == w.GetScanNotice());
        const std::multiset<std::string> whole = NamesAndSizes(w.GetSearchResults());
        w.btnSlotBack();
        stopAt40 = true;
        w.btnSlotScan();
        stopAt40 = at40 = false;
        QCOMPARE(offered, 0); // the scan before ran to its end
        QVERIFY(w.GetScanNotice().contains("stopped before its end") && w.GetSearchResults().size() < whole.size());
        w.btnSlotBack();
        firstPass = -1;
        w.btnSlotScan();
        QVERIFY2(offered == 1 && firstPass >= 50, qPrintable(QString::number(firstPass)));
        QVERIFY(!w.GetScanNotice().contains("stopped") && NamesAndSizes(w.GetSearchResults()) == whole);
        w.btnSlotBack();
        w.btnSlotScan();
        QCOMPARE(offered, 1); // the resumed scan ended: nothing left to resume
    }

    // A whole-disk scan lists both volumes as lost ones, each with its tree; deep
    // NTFS meets live files too and they are told apart; text keeps its lines.
    void wholeDiskLostVolumesAndTextPreview() {
        for (const char* tool : {"mkntfs", "ntfs-3g"})
            if (!HaveTool(tool)) QSKIP(qPrintable(QString("SKIPPED: '%1' is not installed").arg(tool)));
        TempDir dir("ui-whole");
        E2eDiskImage image;
        std::string error;
        if (!image.Build(dir.path(), true, error)) QSKIP(qPrintable("SKIPPED: no NTFS volume could be made: " + QString::fromStdString(error)));
        QVERIFY(UseDisk(dir, image));
        DRUI w;
        w.Init();
        w.btnSlot();
        QTreeWidgetItem* whole = Row(w.GetDiskTree(), "Whole Disk");
        QVERIFY(whole);
        ModalDriver none([](QWidget*) {}); // the scan's and the previews' dialogs close by themselves
        w.GetDiskTree()->setCurrentItem(whole);
        w.diskItemDoubleClick(whole, 0);
        auto* page = qobject_cast<CResultPage*>(w.GetResultPage());
        QVERIFY(page);
        auto top = [&](const QString& prefix) -> QTreeWidgetItem* {
            for (int i = 0; i < page->FolderTree()->topLevelItemCount(); ++i)
                if (page->FolderTree()->topLevelItem(i)->text(0).startsWith(prefix)) return page->FolderTree()->topLevelItem(i);
            return nullptr;
        };
        QTreeWidgetItem *ntfs = top("Lost NTFS volume, sector 135168 ("), *fat = top("Lost FAT volume, sector ");
        QVERIFY(ntfs && fat);
        QCOMPARE(top("Found by content (")->text(0), QString("Found by content (2)")); // the files without entries
        page->Views()->setCurrentIndex(1);
        for (const auto& volume : {std::make_pair(fat, image.fatFiles()), std::make_pair(ntfs, image.ntfsFiles())})
            for (const E2eFile& f : volume.second) {
                if (f.carvedOnly) continue;
                QTreeWidgetItem* item = volume.first;
                for (const QString& part : QString::fromStdString(f.folder).split('/', Qt::SkipEmptyParts))
                    for (int i = 0; i < item->childCount(); ++i)
                        if (item->child(i)->text(0).startsWith(part + " (")) item = item->child(i);
                page->FolderTree()->setCurrentItem(item);
                const auto found = page->Table()->findItems(QString::fromStdString(f.name), Qt::MatchExactly);
                QVERIFY2(found.size() == 1, f.name.c_str());
                const int r = found.first()->row();
                QCOMPARE(QStringList({page->Table()->item(r, CResultPage::COL_FOLDER)->text(), page->Table()->item(r, CResultPage::COL_STATUS)->text(),
                                      page->Table()->item(r, CResultPage::COL_SOURCE)->text()}),
                         QStringList({"/" + QString::fromStdString(f.folder).chopped(f.folder.empty() ? 0 : 1), f.deleted ? "Deleted" : "Live", "Lost volume"}));
                if (f.name == "small.txt") {
                    page->Table()->selectRow(r);
                    QCOMPARE(page->PreviewText()->toPlainText(), QString("1\n2\n3\n4\n5\n6\n7\n8\n9\n"));
                }
            }
        page->FilterBox()->setText("n2.png");
        QVERIFY(ntfs->text(0).endsWith(" (1)") && !ntfs->isHidden());
        page->DeletedOnlyBox()->setChecked(true); // the live picture leaves the list, and its volume with it
        QVERIFY(ntfs->isHidden());
    }
};

ORVALE_UI_TEST(ResultEndToEndTest);
#include "ResultEndToEndTest.moc"
