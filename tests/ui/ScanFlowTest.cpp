// The scan and the search through the window's real workers and progress
// dialogs, with a scripted engine and with the engines of a FAT image.
#include "FakeEngine.h"
#include "ModalDriver.h"
#include "engine/CFileRecoveryFactory.h"
#include "engine/FileCategories.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "ui/CMessageBox.h"
#include "ui/DRUI.h"
#include "ui/SCANUI.h"

#include <QCheckBox>
#include <QPushButton>
#include <QLabel>
#include <QStackedLayout>
#include <QTreeWidget>
#include <QtTest>

#include <unistd.h>

class ScanFlowTest : public QObject {
    Q_OBJECT
    TempDir m_dir{"ui-scanflow"};
    std::string m_disks = m_dir.path() + "/disks";
    std::string m_support = m_dir.path() + "/support";

    void MakeDisk(int n, long long bytes) {
        QVERIFY(RunCommand("mkdir -p '" + m_disks + "' && truncate -s " + std::to_string(bytes) + " '" + m_disks +
                           "/disk" + std::to_string(n) + "'") == 0);
    }

    // A window on the media page with its tree built from the image disks.
    void OpenWindow(DRUI& w) {
        w.Init();
        w.btnSlot();
        QVERIFY(w.GetDiskTree()->currentItem());
    }

private slots:
    void initTestCase() {
        setenv("ORVALE_DISK_DIR", m_disks.c_str(), 1);
        setenv("ORVALE_SUPPORT_DIR", m_support.c_str(), 1);
        MakeDisk(0, 4 << 20);
    }

    void scanThenSearchEndOnTheResultPage() {
        DRUI w;
        OpenWindow(w);
        w.GetCategoryBox(1)->setChecked(false); // Music
        std::atomic<int> alive{0};
        FakeEngine* engine = nullptr;
        _PARTITION_ITEM_ asked{};
        w.SetEngineMaker([&](const _PARTITION_ITEM_& item) {
            asked = item;
            return engine = new FakeEngine({"a.jpg", "b.mp3", "c.doc", "d.zip"}, false, &alive);
        });
        int questions = 0;
        ModalDriver driver([&](QWidget* widget) {
            if (qobject_cast<CMessageBox*>(widget)) ++questions;
        });
        w.btnSlotScan();

        QCOMPARE(questions, 0); // both dialogs closed themselves
        QCOMPARE(asked.nDiskNo, 0);
        QCOMPARE(asked.u64StartSector, 0ull);
        QCOMPARE(asked.u64EndSector, (4ull << 20) / 512 - 1);
        QVERIFY(engine && w.GetEngine() == engine);
        QVERIFY(engine->m_lastKey == BuildSearchKey(CATEGORY_ALL & ~CATEGORY_MUSIC));
        QCOMPARE(w.GetSearchResults().size(), size_t(3));
        QVERIFY(w.m_bScanFinished && w.m_bSearchFinished);
        QCOMPARE(w.GetStackedLayout()->currentIndex(), int(DRUI::PAGE_RESULT));
        QVERIFY(w.GetResultPage());
        QVERIFY(w.GetScanError().isEmpty());

        // Back leaves the result page for the media page and ends the engine.
        w.btnSlotBack();
        QCOMPARE(w.GetStackedLayout()->currentIndex(), int(DRUI::PAGE_MEDIA));
        QCOMPARE(alive.load(), 0);
        QVERIFY(!w.GetEngine());
    }

    void aSecondScanReplacesEngineAndPage() {
        DRUI w;
        OpenWindow(w);
        std::atomic<int> alive{0};
        w.SetEngineMaker([&](const _PARTITION_ITEM_&) { return new FakeEngine({"a.jpg"}, false, &alive); });
        w.btnSlotScan();
        QPointer<QWidget> first = w.GetResultPage();
        w.btnSlotScan();
        QCOMPARE(alive.load(), 1);
        QVERIFY(first.isNull()); // the old page is gone, a new one shown
        QVERIFY(w.GetResultPage());
        QCOMPARE(w.GetStackedLayout()->count(), 3);
        QCOMPARE(w.GetSearchResults().size(), size_t(1));
    }

    void cancelledScanStillSearches() {
        DRUI w;
        OpenWindow(w);
        FakeEngine* engine = nullptr;
        w.SetEngineMaker([&](const _PARTITION_ITEM_&) { return engine = new FakeEngine({"a.jpg"}, true); });
        QStringList asked;
        int answers = 0;
        ModalDriver driver([&](QWidget* widget) {
            if (auto* box = qobject_cast<CMessageBox*>(widget)) {
                asked << box->Text();
                // The first answer is No: the scan must go on; the second stops it.
                if (answers++ == 0) box->btnSlotNO();
                else box->btnSlotOK();
            } else if (auto* dialog = qobject_cast<SCANUI*>(widget)) {
                if (dialog->OprType() == SCANUI::OPR_SCAN && dialog->ProgressValue() > 0) dialog->ActionButton()->click();
            }
        });
        w.btnSlotScan();
        QCOMPARE(asked.size(), 2);
        QCOMPARE(asked.at(0), QString("Are you sure to cancel the scanning?"));
        QVERIFY(engine && engine->m_bStopped);
        QVERIFY(w.m_bScanCancel && w.m_bScanFinished);
        QVERIFY(w.GetScanError().isEmpty());
        QCOMPARE(w.GetSearchResults().size(), size_t(1));
        QCOMPARE(w.GetStackedLayout()->currentIndex(), int(DRUI::PAGE_RESULT));
    }

    void escapeInTheScanDialogAsksFirst() {
        DRUI w;
        OpenWindow(w);
        FakeEngine* engine = nullptr;
        w.SetEngineMaker([&](const _PARTITION_ITEM_&) { return engine = new FakeEngine({}, true); });
        int questions = 0;
        ModalDriver driver([&](QWidget* widget) {
            if (auto* box = qobject_cast<CMessageBox*>(widget)) {
                ++questions;
                box->btnSlotOK();
            } else if (auto* dialog = qobject_cast<SCANUI*>(widget)) {
                if (dialog->OprType() == SCANUI::OPR_SCAN) QTest::keyClick(dialog, Qt::Key_Escape);
            }
        });
        w.btnSlotScan();
        QCOMPARE(questions, 1);
        QVERIFY(engine->m_bStopped); // the worker was stopped before the dialog ended
    }

    void noEngineClosesTheDialogAndSaysWhy() {
        DRUI w;
        OpenWindow(w);
        w.SetEngineMaker([](const _PARTITION_ITEM_&) { return nullptr; });
        QStringList notices;
        int questions = 0;
        ModalDriver driver([&](QWidget* widget) {
            if (auto* box = qobject_cast<CMessageBox*>(widget)) {
                if (box->Text().startsWith("Are you sure")) {
                    ++questions;
                    box->btnSlotOK();
                } else {
                    notices << box->Text();
                    box->btnSlotOK();
                }
            }
        });
        w.btnSlotScan();
        QCOMPARE(questions, 0);
        QCOMPARE(notices.size(), 1);
        QVERIFY2(notices.at(0).startsWith("The partition could not be opened"), qPrintable(notices.at(0)));
        QVERIFY(notices.at(0).contains("no recovery engine"));
        QCOMPARE(w.GetSearchResults().size(), size_t(0));
        QCOMPARE(w.GetStackedLayout()->currentIndex(), int(DRUI::PAGE_RESULT));
    }

    void vanishedDeviceReportsThePlatformError() {
        MakeDisk(5, 1 << 20);
        DRUI w;
        OpenWindow(w);
        QVERIFY(::unlink((m_disks + "/disk5").c_str()) == 0);
        QStringList notices;
        ModalDriver driver([&](QWidget* widget) {
            if (auto* box = qobject_cast<CMessageBox*>(widget)) {
                notices << box->Text();
                box->btnSlotOK();
            }
        });
        w.btnSlotScan(); // the preselected row is the whole of disk 5, now gone
        QCOMPARE(notices.size(), 1);
        QVERIFY2(notices.at(0).contains(QString::fromLocal8Bit(strerror(ENOENT))), qPrintable(notices.at(0)));
    }

    void engineErrorIsReported() {
        DRUI w;
        OpenWindow(w);
        w.SetEngineMaker([](const _PARTITION_ITEM_&) {
            auto* e = new FakeEngine({"a.jpg"});
            e->m_nScanResult = 30;
            return e;
        });
        QStringList notices;
        ModalDriver driver([&](QWidget* widget) {
            if (auto* box = qobject_cast<CMessageBox*>(widget)) {
                notices << box->Text();
                box->btnSlotOK();
            }
        });
        w.btnSlotScan();
        QCOMPARE(notices.size(), 1);
        QVERIFY(notices.at(0).startsWith("The scan ended early"));
        QCOMPARE(w.GetSearchResults().size(), size_t(1)); // what was found is still shown
    }

    void searchKeyFollowsTheTickedBoxes() {
        DRUI w;
        w.Init();
        QVERIFY(w.BuildCheckedSearchKey() == BuildSearchKey(CATEGORY_ALL));
        for (int i = 2; i < 6; ++i) w.GetCategoryBox(i)->setChecked(false);
        QVERIFY(w.BuildCheckedSearchKey() == std::wstring(g_wszPhotoTypes) + g_wszAudioTypes);
        w.GetCategoryBox(0)->setChecked(false);
        w.GetCategoryBox(1)->setChecked(false);
        w.GetCategoryBox(5)->setChecked(true);
        QVERIFY(w.BuildCheckedSearchKey() == L"*.other");
    }

    void callbacksStopWhenCancelled() {
        DRUI w;
        wchar_t name[] = L"n";
        QCOMPARE(DRUI::ScanCallBack(&w, 1, 100, 0, 0, 0, 0, name), 0);
        QCOMPARE(DRUI::RecoveryCallBack(&w, 1, 100, 0, name), 0);
        QCOMPARE(DRUI::SearchCallBack(&w, 1, name), 0);
        QCOMPARE(DRUI::PreViewCallBack(&w, 1, 0), 0);
        w.m_bScanCancel = w.m_bRecoveryCancel = w.m_bSearchCancel = w.m_bPreviewCancel = true;
        QCOMPARE(DRUI::ScanCallBack(&w, 1, 100, 0, 0, 0, 0, name), 1);
        QCOMPARE(DRUI::RecoveryCallBack(&w, 1, 100, 0, name), RECOVERY_STOPPED);
        QCOMPARE(DRUI::SearchCallBack(&w, 1, name), 1);
        QCOMPARE(DRUI::PreViewCallBack(&w, 1, 0), 1);
    }
};

QTEST_MAIN(ScanFlowTest)
#include "ScanFlowTest.moc"
