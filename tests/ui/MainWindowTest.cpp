// The file-type page's boxes, the media page's tree and the window's own keys and mouse.
#include "UiTest.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "ui/DRUI.h"
#include "ui/MediaList.h"

#include <QCheckBox>
#include <QPushButton>
#include <QStackedLayout>
#include <QTreeWidget>

#include <unistd.h>

class MainWindowTest : public QObject {
    Q_OBJECT
    TempDir m_dir{"ui-mainwindow"};
    std::string m_disks = m_dir.path() + "/disks";

private slots:
    void initTestCase() {
        setenv("ORVALE_SUPPORT_DIR", (m_dir.path() + "/support").c_str(), 1);
        setenv("ORVALE_DISK_DIR", m_disks.c_str(), 1);
        QCOMPARE(RunCommand("mkdir -p '" + m_disks + "' && truncate -s 3M '" + m_disks + "/disk0'"), 0);
    }

    // Clicks on category boxes (0-5) or on "recover all" (-1), and the states they leave.
    void boxesRecoverAllAndStart() {
        struct Step {
            int box, ticked;
            Qt::CheckState all;
        };
        const std::vector<std::vector<Step>> runs = {
            {{2, 5, Qt::PartiallyChecked}, {0, 4, Qt::PartiallyChecked}, {1, 3, Qt::PartiallyChecked},
             {3, 2, Qt::PartiallyChecked}, {4, 1, Qt::PartiallyChecked}, {5, 0, Qt::Unchecked},
             {4, 1, Qt::PartiallyChecked}},
            // From all ticked a click clears all; from unticked or partial it ticks all.
            {{-1, 0, Qt::Unchecked}, {-1, 6, Qt::Checked}},
            {{0, 5, Qt::PartiallyChecked}, {3, 4, Qt::PartiallyChecked}, {-1, 6, Qt::Checked}},
        };
        for (const auto& run : runs) {
            DRUI w;
            w.Init();
            QCOMPARE(w.GetRecoverAllBox()->checkState(), Qt::Checked);
            for (const Step& s : run) {
                QCheckBox* box = s.box < 0 ? w.GetRecoverAllBox() : w.GetCategoryBox(s.box);
                QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(10, box->height() / 2));
                int ticked = 0;
                for (int i = 0; i < 6; ++i) ticked += w.GetCategoryBox(i)->checkState() == Qt::Checked;
                QCOMPARE(ticked, s.ticked);
                QCOMPARE(w.GetRecoverAllBox()->checkState(), s.all);
                QCOMPARE(w.GetStartButton()->isEnabled(), s.ticked > 0);
            }
        }
    }

    void partitionAndWholeDiskRows() {
        if (!HaveTool("sfdisk")) QSKIP("SKIPPED: sfdisk is not installed");
        const std::string disk = m_disks + "/disk3";
        QCOMPARE(RunCommand("truncate -s 8M '" + disk + "' && printf 'label: dos\\nstart=2048, size=2048, type=83\\n"
                            "start=8192, size=4096, type=83\\n' | sfdisk -q '" + disk + "'"), 0);
        DRUI w;
        w.Init();
        QVERIFY(::unlink(disk.c_str()) == 0);
        w.GetStartButton()->click();
        QCOMPARE(w.GetStackedLayout()->currentIndex(), int(DRUI::PAGE_MEDIA));
        QTreeWidget* tree = w.GetDiskTree();
        QCOMPARE(tree->topLevelItemCount(), 2);
        QTreeWidgetItem* row = tree->topLevelItem(1);
        QCOMPARE(row->childCount(), 3);
        const std::pair<unsigned long long, unsigned long long> areas[] = {{2048, 4095}, {8192, 12287}, {0, 16383}};
        for (int i = 0; i < 3; ++i) {
            _PARTITION_ITEM_ item = row->child(i)->data(0, Qt::UserRole).value<_PARTITION_ITEM_>();
            QCOMPARE(item.nDiskNo, 3);
            QCOMPARE(item.u64StartSector, areas[i].first);
            QCOMPARE(item.u64EndSector, areas[i].second);
        }
        QCOMPARE(row->child(2)->text(1), QString("8.00 MB"));
        QCOMPARE(tree->currentItem(), row->child(1)); // the last partition, not a whole disk

        // Scan is for area rows only; a double click on a disk row starts nothing.
        w.diskItemClick(row, 0);
        QVERIFY(!w.GetScanButton()->isEnabled());
        w.diskItemClick(row->child(0), 0);
        QVERIFY(w.GetScanButton()->isEnabled());
        int made = 0;
        w.SetEngineMaker([&](const _PARTITION_ITEM_&) -> IFileRecoveryParse* {
            ++made;
            return nullptr;
        });
        w.diskItemDoubleClick(row, 0);
        QCOMPARE(made, 0);
        w.btnSlotBack();
        QCOMPARE(w.GetStackedLayout()->currentIndex(), int(DRUI::PAGE_FILE_TYPE));

        TempDir empty("ui-nodisk");
        setenv("ORVALE_DISK_DIR", empty.path().c_str(), 1);
        DRUI none;
        none.Init();
        setenv("ORVALE_DISK_DIR", m_disks.c_str(), 1);
        QCOMPARE(none.GetDiskTree()->topLevelItemCount(), 0);
        QVERIFY(!none.GetScanButton()->isEnabled());
    }

    // Escape must not close the window (and its results); a right click on it does.
    void escapeIsSwallowedRightClickCloses() {
        DRUI w;
        w.Init();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTest::keyClick(&w, Qt::Key_Escape);
        QVERIFY(w.isVisible());
        QTest::mouseClick(w.centralWidget(), Qt::RightButton, {}, QPoint(500, 640));
        QVERIFY(!w.isVisible());
    }
};

ORVALE_UI_TEST(MainWindowTest);
#include "MainWindowTest.moc"
