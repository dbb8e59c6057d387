// The progress dialog through its slots: end states and questions; the detail dialog's folder button.
#include "UiTest.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/TempDir.h"
#include "ui/CDetail.h"
#include "ui/CMessageBox.h"
#include "ui/DRUI.h"
#include "ui/SCANUI.h"

#include <QPushButton>

class ProgressDialogTest : public QObject {
    Q_OBJECT
    TempDir m_support{"ui-progress"};
    ScopedEnv m_supportEnv{"ORVALE_SUPPORT_DIR", m_support.path()};
    ScopedEnv m_diskEnv{"ORVALE_DISK_DIR", m_support.path()};

    // Runs the dialog modally; `onDialog` acts on it, questions are answered by `answer` (true: Yes).
    static int Exec(SCANUI& dialog, std::function<void()> onDialog, std::function<bool(CMessageBox*)> answer) {
        int questions = 0;
        ModalDriver driver([&](QWidget* w) {
            auto* box = qobject_cast<CMessageBox*>(w);
            if (box && ++questions && answer(box)) box->btnSlotOK();
            else if (box) box->btnSlotNO();
            else if (w == &dialog) onDialog();
        });
        dialog.exec();
        return questions;
    }

private slots:
    // Only the report of the whole ends a scan, and a search ends once its worker says so.
    void whatEndsTheScanSearchAndPreview() {
        DRUI owner;
        SCANUI scan, search, preview;
        scan.InitSlot(&owner, SCANUI::OPR_SCAN);
        scan.ScanProcessCallBackSlot(50, 90, 125, "1000", "2000", "7", "x"); // the deep pass weighs 90 %
        QVERIFY(scan.ProgressValue() == 45 && scan.LabelText().contains("1000/2000") && scan.LabelText().contains("Found: 7"));
        scan.ScanProcessCallBackSlot(100, 9, -1, "1", "2", "3", "");
        QVERIFY(scan.LabelText().endsWith("Estimated time is calculating\n") && !scan.IsFinished());
        search.InitSlot(&owner, SCANUI::OPR_SEARCH);
        for (bool finished : {false, true}) {
            owner.m_bSearchFinished = finished;
            search.SearchCallBackSlot(100, "");
            QCOMPARE(search.IsFinished(), finished);
        }
        preview.SetPreviewName("a.jpg");
        preview.InitSlot(&owner, SCANUI::OPR_PREVIEW);
        preview.PreViewCallBackSlot(40, 0);
        QVERIFY(preview.LabelText().contains("a.jpg") && !preview.IsFinished());
        preview.PreViewCallBackSlot(100, 0);
        QVERIFY(preview.IsFinished());
    }

    void finalScanReportClosesWithoutQuestion() {
        DRUI owner;
        SCANUI dialog, asked;
        dialog.InitSlot(&owner, SCANUI::OPR_SCAN);
        auto finish = [](SCANUI& d) { d.ScanProcessCallBackSlot(100, 100, 0, "2", "2", "0", ""); };
        QCOMPARE(Exec(dialog, [&] { finish(dialog); }, [](CMessageBox*) { return false; }), 0);
        QVERIFY(dialog.IsFinished() && dialog.ProgressValue() == 100);
        // The final report arriving while the user is asked ends both, and stops nothing.
        asked.InitSlot(&owner, SCANUI::OPR_SCAN);
        QCOMPARE(Exec(asked, [&] { asked.ActionButton()->click(); }, [&](CMessageBox*) { return finish(asked), false; }), 1);
        QVERIFY(asked.IsFinished() && !owner.m_bScanCancel && !QApplication::activeModalWidget());
    }

    void cancelAnswersNoThenYes() {
        DRUI owner;
        owner.m_bScanFinished = true;
        SCANUI dialog;
        dialog.InitSlot(&owner, SCANUI::OPR_SCAN);
        int answers = 0;
        QCOMPARE(Exec(dialog, [&] { QTest::keyClick(&dialog, Qt::Key_Escape); }, [&](CMessageBox*) { return answers++ > 0; }), 2);
        QVERIFY(owner.m_bScanCancel && !dialog.IsFinished());
    }

    // The reasons and the order of failures are checked through the outcome and the end-to-end runs.
    void detailOpensTheFolder() {
        CDetail detail;
        QVERIFY(detail.OpenFolderButton()->isHidden());
        QUrl opened;
        detail.SetUrlOpener([&](const QUrl& url) { return opened = url, true; });
        detail.SetFolder("/tmp/rescued files");
        QVERIFY(!detail.OpenFolderButton()->isHidden());
        QTest::mouseClick(detail.OpenFolderButton(), Qt::LeftButton);
        QCOMPARE(opened, QUrl::fromLocalFile("/tmp/rescued files"));
    }
};

ORVALE_UI_TEST(ProgressDialogTest);
#include "ProgressDialogTest.moc"
