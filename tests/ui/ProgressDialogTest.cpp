// The progress dialog fed directly through its slots, its end states and the
// questions it asks; the recovery detail dialog.
#include "ModalDriver.h"
#include "UiTest.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/TempDir.h"
#include "ui/CDetail.h"
#include "ui/CMessageBox.h"
#include "ui/DRUI.h"
#include "ui/SCANUI.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <cerrno>

class ProgressDialogTest : public QObject {
    Q_OBJECT
    TempDir m_support{"ui-progress"};
    ScopedEnv m_supportEnv{"ORVALE_SUPPORT_DIR", m_support.path()};
    ScopedEnv m_diskEnv{"ORVALE_DISK_DIR", m_support.path()};

    // Runs the dialog modally; `onDialog` acts on it, questions are answered by `answer` (true: Yes).
    static int Exec(SCANUI& dialog, std::function<void()> onDialog, std::function<bool(CMessageBox*)> answer) {
        int questions = 0;
        ModalDriver driver([&](QWidget* w) {
            if (auto* box = qobject_cast<CMessageBox*>(w)) {
                ++questions;
                if (answer(box)) box->btnSlotOK();
                else box->btnSlotNO();
            } else if (w == &dialog) {
                onDialog();
            }
        });
        dialog.exec();
        return questions;
    }

private slots:
    void progressOfTheScanSearchAndPreview() {
        DRUI owner;
        SCANUI scan;
        scan.InitSlot(&owner, SCANUI::OPR_SCAN);
        scan.ScanProcessCallBackSlot(50, 90, 125, "1000", "2000", "7", "x"); // the deep pass weighs 90 %
        QCOMPARE(scan.ProgressValue(), 45);
        QVERIFY(scan.LabelText().contains("1000/2000") && scan.LabelText().contains("Found: 7"));
        scan.ScanProcessCallBackSlot(60, 90, -1, "1200", "2000", "9", "x");
        QCOMPARE(scan.ProgressValue(), 54);
        QVERIFY(scan.LabelText().endsWith("Estimated time is calculating\n"));
        scan.ScanProcessCallBackSlot(100, 9, 30, "1", "2", "3", "");
        QVERIFY(!scan.IsFinished()); // only the report of the whole (weight 100) ends it

        SCANUI search;
        search.InitSlot(&owner, SCANUI::OPR_SEARCH);
        owner.m_bSearchFinished = false;
        search.SearchCallBackSlot(100, "");
        QVERIFY(!search.IsFinished());
        owner.m_bSearchFinished = true;
        search.SearchCallBackSlot(100, "");
        QVERIFY(search.IsFinished());

        SCANUI preview;
        preview.SetPreviewName("a.jpg");
        preview.InitSlot(&owner, SCANUI::OPR_PREVIEW);
        preview.PreViewCallBackSlot(40, 0);
        QVERIFY(preview.LabelText().contains("a.jpg") && !preview.IsFinished());
        preview.PreViewCallBackSlot(100, 0);
        QVERIFY(preview.IsFinished());
    }

    void finalScanReportClosesWithoutQuestion() {
        DRUI owner;
        SCANUI dialog;
        dialog.InitSlot(&owner, SCANUI::OPR_SCAN);
        auto finish = [&] { dialog.ScanProcessCallBackSlot(100, 100, 0, "2", "2", "0", ""); };
        QCOMPARE(Exec(dialog, finish, [](CMessageBox*) { return false; }), 0);
        QVERIFY(dialog.IsFinished());
        QCOMPARE(dialog.ProgressValue(), 100);

        // The final report arriving while the user is asked ends both, and stops nothing.
        SCANUI asked;
        asked.InitSlot(&owner, SCANUI::OPR_SCAN);
        auto cancel = [&] { asked.ActionButton()->click(); };
        auto reportWhileAsked = [&](CMessageBox*) {
            asked.ScanProcessCallBackSlot(100, 100, 0, "2", "2", "0", "");
            return false;
        };
        QCOMPARE(Exec(asked, cancel, reportWhileAsked), 1);
        QVERIFY(asked.IsFinished());
        QVERIFY(!owner.m_bScanCancel);
        QVERIFY(!QApplication::activeModalWidget());
    }

    void cancelAnswersNoThenYes() {
        DRUI owner;
        owner.m_bScanFinished = true;
        SCANUI dialog;
        dialog.InitSlot(&owner, SCANUI::OPR_SCAN);
        int answers = 0;
        auto escape = [&] { QTest::keyClick(&dialog, Qt::Key_Escape); };
        QCOMPARE(Exec(dialog, escape, [&](CMessageBox*) { return answers++ > 0; }), 2);
        QVERIFY(owner.m_bScanCancel);
        QVERIFY(!dialog.IsFinished());
    }

    void recoveryRowsFinishedStateAndWorkerEnd() {
        DRUI owner;
        SCANUI dialog;
        dialog.InitSlot(&owner, SCANUI::OPR_RECOVERY);
        QSignalSpy rows(&dialog, &SCANUI::DetailRow);
        dialog.RecoveryCallBackSlot(50, 100, 0, "/t/photo/a.jpg");
        QCOMPARE(rows.count(), 0); // a file's row comes with its final report
        dialog.RecoveryCallBackSlot(100, 100, 5, "/t/photo/b.jpg");
        QCOMPARE(rows.count(), 1);
        QCOMPARE(rows.at(0).at(0).toString(), QString("/t/photo/b.jpg"));
        QCOMPARE(rows.at(0).at(1).toInt(), 5);
        dialog.show();
        dialog.WorkerEnded();
        QVERIFY(dialog.isVisible()); // a recovery's dialog waits for the user
        dialog.hide();
        dialog.RecoveryCallBackSlot(100, 1000, 0, "");
        QCOMPARE(dialog.ActionButton()->text(), QString("Finished"));
        QCOMPARE(Exec(dialog, [&] { dialog.ActionButton()->click(); }, [](CMessageBox*) { return false; }), 0);
        QVERIFY(!dialog.isVisible());

        SCANUI scan;
        scan.InitSlot(&owner, SCANUI::OPR_SCAN);
        scan.show();
        scan.WorkerEnded();
        QVERIFY(!scan.isVisible() && scan.IsFinished());
    }

    void detailListsFailuresFirstInRedAndOpensTheFolder() {
        CDetail detail;
        detail.AddTableItem("/d/photo/ok.jpg", 0);
        detail.AddTableItem("/d/photo/bad1.jpg", 1);
        detail.AddTableItem("/d/photo/bad2.jpg", EACCES);
        QTableWidget* table = detail.Table();
        QCOMPARE(table->rowCount(), 3);
        const char* order[] = {"/d/photo/bad2.jpg", "/d/photo/bad1.jpg", "/d/photo/ok.jpg"};
        for (int row = 0; row < 3; ++row) {
            QCOMPARE(table->item(row, 0)->text(), QString(order[row]));
            QCOMPARE(table->item(row, 1)->foreground().color() == QColor(255, 0, 0), row < 2);
        }
        QVERIFY(table->item(0, 1)->text().contains(QString::fromLocal8Bit(std::strerror(EACCES))));
        QCOMPARE(table->item(2, 1)->text(), QString("Success"));
        QCOMPARE(detail.SuccessCount(), 1);
        QCOMPARE(detail.FailedCount(), 2);

        QVERIFY(detail.OpenFolderButton()->isHidden());
        QUrl opened;
        detail.SetUrlOpener([&](const QUrl& url) {
            opened = url;
            return true;
        });
        detail.SetFolder("/tmp/rescued files");
        QVERIFY(!detail.OpenFolderButton()->isHidden());
        QTest::mouseClick(detail.OpenFolderButton(), Qt::LeftButton);
        QCOMPARE(opened, QUrl::fromLocalFile("/tmp/rescued files"));
    }
};

ORVALE_UI_TEST(ProgressDialogTest);
#include "ProgressDialogTest.moc"
