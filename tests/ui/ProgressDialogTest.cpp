// The progress dialog's texts and its end states, fed directly through its slots.
#include "ModalDriver.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/TempDir.h"
#include "ui/CMessageBox.h"
#include "ui/DRUI.h"
#include "ui/SCANUI.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

class ProgressDialogTest : public QObject {
    Q_OBJECT
    TempDir m_support{"ui-progress"};
    ScopedEnv m_supportEnv{"ORVALE_SUPPORT_DIR", m_support.path()};
    ScopedEnv m_diskEnv{"ORVALE_DISK_DIR", m_support.path()};

private slots:
    void scanReportOfTheDeepPass() {
        DRUI owner;
        SCANUI dialog;
        dialog.InitSlot(&owner, SCANUI::OPR_SCAN);
        QCOMPARE(dialog.LabelText(), QString("  Current Process: 0%\n  Estimated Time Left: 0 second\n"));
        dialog.ScanProcessCallBackSlot(50, 90, 125, "1000", "2000", "7", "x");
        QCOMPARE(dialog.ProgressValue(), 45);
        QCOMPARE(dialog.LabelText(), QString("  Current Process: 45%\n  Reading Sector: 1000/2000\n"
                                             "  Total Files Found: 7\n  Estimated Time Left: 2 Min 5 Sec\n"));
        dialog.ScanProcessCallBackSlot(60, 90, -1, "1200", "2000", "9", "x");
        QCOMPARE(dialog.ProgressValue(), 54);
        QVERIFY(dialog.LabelText().endsWith("  Estimated time is calculating\n"));
        QVERIFY(!dialog.IsFinished());
    }

    void scanReportOfOtherWeights() {
        DRUI owner;
        SCANUI dialog;
        dialog.InitSlot(&owner, SCANUI::OPR_SCAN);
        dialog.ScanProcessCallBackSlot(50, 100, 30, "1", "2", "3", "");
        QCOMPARE(dialog.ProgressValue(), 50);
        QCOMPARE(dialog.LabelText(), QString("  Current Process: 50%\n  Estimated time is calculating\n"));
        dialog.ScanProcessCallBackSlot(100, 9, 30, "1", "2", "3", "");
        QVERIFY(!dialog.IsFinished());
    }

    void finalScanReportClosesWithoutQuestion() {
        DRUI owner;
        SCANUI dialog;
        dialog.InitSlot(&owner, SCANUI::OPR_SCAN);
        int questions = 0;
        ModalDriver driver([&](QWidget* w) {
            if (auto* box = qobject_cast<CMessageBox*>(w)) {
                ++questions;
                box->btnSlotNO();
            } else if (w == &dialog) {
                dialog.ScanProcessCallBackSlot(100, 100, 0, "2", "2", "0", "");
            }
        });
        dialog.exec();
        QVERIFY(dialog.IsFinished());
        QCOMPARE(questions, 0);
        QCOMPARE(dialog.ProgressValue(), 100);
    }

    void searchClosesOnlyWhenTheSearchFinished() {
        DRUI owner;
        SCANUI dialog;
        dialog.InitSlot(&owner, SCANUI::OPR_SEARCH);
        owner.m_bSearchFinished = false;
        dialog.SearchCallBackSlot(100, "");
        QVERIFY(!dialog.IsFinished());
        QCOMPARE(dialog.LabelText(), QString("  Process: 100%\n  Searching drive for recovery files"));
        owner.m_bSearchFinished = true;
        dialog.SearchCallBackSlot(100, "");
        QVERIFY(dialog.IsFinished());
    }

    void previewTexts() {
        DRUI owner;
        SCANUI dialog;
        dialog.SetPreviewName("a.jpg");
        dialog.InitSlot(&owner, SCANUI::OPR_PREVIEW);
        dialog.PreViewCallBackSlot(40, 0);
        QCOMPARE(dialog.LabelText(), QString("  Process: 40%\n  Previewing file:a.jpg"));
        QVERIFY(!dialog.IsFinished());
        dialog.PreViewCallBackSlot(100, 0);
        QVERIFY(dialog.IsFinished());
    }

    void recoveryRowsAndFinishedState() {
        DRUI owner;
        SCANUI dialog;
        dialog.InitSlot(&owner, SCANUI::OPR_RECOVERY);
        QSignalSpy rows(&dialog, &SCANUI::DetailRow);
        dialog.RecoveryCallBackSlot(50, 100, 0, "/t/photo/a.jpg");
        QCOMPARE(rows.count(), 0);
        QCOMPARE(dialog.LabelText(), QString("  Process: 50%\n  Destination: /t/photo/a.jpg"));
        dialog.RecoveryCallBackSlot(100, 100, 5, "/t/photo/b.jpg");
        QCOMPARE(rows.count(), 1);
        QCOMPARE(rows.at(0).at(0).toString(), QString("/t/photo/b.jpg"));
        QCOMPARE(rows.at(0).at(1).toInt(), 5);
        dialog.RecoveryCallBackSlot(100, 1000, 0, "");
        QCOMPARE(dialog.ActionButton()->text(), QString("Finished"));

        int questions = 0;
        ModalDriver driver([&](QWidget* w) {
            if (auto* box = qobject_cast<CMessageBox*>(w)) {
                ++questions;
                box->btnSlotNO();
            } else if (w == &dialog) {
                dialog.ActionButton()->click();
            }
        });
        dialog.exec();
        QCOMPARE(questions, 0);
        QVERIFY(!dialog.isVisible());
    }

    void recoveryDialogStaysWhenItsWorkerEnds() {
        DRUI owner;
        SCANUI dialog;
        dialog.InitSlot(&owner, SCANUI::OPR_RECOVERY);
        dialog.show();
        dialog.WorkerEnded();
        QVERIFY(dialog.isVisible());
        QVERIFY(!dialog.IsFinished());
        SCANUI scan;
        scan.InitSlot(&owner, SCANUI::OPR_SCAN);
        scan.show();
        scan.WorkerEnded();
        QVERIFY(!scan.isVisible());
        QVERIFY(scan.IsFinished());
    }

    void finalReportDuringTheQuestionEndsBoth() {
        DRUI owner;
        SCANUI dialog;
        dialog.InitSlot(&owner, SCANUI::OPR_SCAN);
        int questions = 0;
        ModalDriver driver([&](QWidget* w) {
            if (qobject_cast<CMessageBox*>(w)) {
                ++questions;
                dialog.ScanProcessCallBackSlot(100, 100, 0, "2", "2", "0", ""); // arrives while the user is asked
            } else if (w == &dialog) {
                dialog.ActionButton()->click();
            }
        });
        dialog.exec();
        QCOMPARE(questions, 1);
        QVERIFY(dialog.IsFinished());
        QVERIFY(!owner.m_bScanCancel); // nothing was stopped
        QVERIFY(!QApplication::activeModalWidget());
    }

    void cancelAnswersNoThenYes() {
        // No keeps the operation; Yes sets the cancel flag and waits for the finished flag.
        DRUI owner;
        owner.m_bScanFinished = true;
        SCANUI dialog;
        dialog.InitSlot(&owner, SCANUI::OPR_SCAN);
        QStringList asked;
        int answers = 0;
        ModalDriver driver([&](QWidget* w) {
            if (auto* box = qobject_cast<CMessageBox*>(w)) {
                asked << box->Text();
                if (answers++ == 0) box->btnSlotNO();
                else box->btnSlotOK();
            } else if (w == &dialog) {
                QTest::keyClick(&dialog, Qt::Key_Escape);
            }
        });
        dialog.exec();
        QCOMPARE(asked.size(), 2);
        QCOMPARE(asked.at(0), QString("Are you sure to cancel the scanning?"));
        QVERIFY(owner.m_bScanCancel);
        QVERIFY(!dialog.IsFinished());
        QCOMPARE(dialog.ProgressValue(), 0);
    }
};

QTEST_MAIN(ProgressDialogTest)
#include "ProgressDialogTest.moc"
