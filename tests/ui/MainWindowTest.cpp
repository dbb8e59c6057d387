// The file-type page's boxes, the media page's tree and the window's own keys and mouse.
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "ui/DRUI.h"
#include "ui/MediaList.h"

#include <QCheckBox>
#include <QPushButton>
#include <QStackedLayout>
#include <QTreeWidget>
#include <QtTest>

#include <unistd.h>

#define ORVALE_TEST_TOOL(tool) \
    if (!HaveTool(tool)) QSKIP("SKIPPED: " tool " is not installed")

class MainWindowTest : public QObject {
    Q_OBJECT
    TempDir m_dir{"ui-mainwindow"};
    std::string m_disks = m_dir.path() + "/disks";

    static int CheckedCount(DRUI& w) {
        int n = 0;
        for (int i = 0; i < 6; ++i) n += w.GetCategoryBox(i)->checkState() == Qt::Checked;
        return n;
    }
    static void ClickBox(QCheckBox* box) { QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(10, box->height() / 2)); }

private slots:
    void initTestCase() {
        setenv("ORVALE_SUPPORT_DIR", (m_dir.path() + "/support").c_str(), 1);
        setenv("ORVALE_DISK_DIR", m_disks.c_str(), 1);
        QCOMPARE(RunCommand("mkdir -p '" + m_disks + "' && truncate -s 3M '" + m_disks + "/disk0' && truncate -s 1M '" +
                            m_disks + "/disk2'"),
                 0);
    }

    void everythingTickedAtStart() {
        DRUI w;
        w.Init();
        QCOMPARE(CheckedCount(w), 6);
        QCOMPARE(w.GetRecoverAllBox()->checkState(), Qt::Checked);
        QVERIFY(w.GetStartButton()->isEnabled());
        QCOMPARE(w.GetStackedLayout()->currentIndex(), int(DRUI::PAGE_FILE_TYPE));
        QCOMPARE(w.size(), QSize(1000, 660));
        QVERIFY(w.windowFlags() & Qt::FramelessWindowHint);
    }

    void uncheckingOneByOne() {
        DRUI w;
        w.Init();
        ClickBox(w.GetCategoryBox(2));
        QCOMPARE(w.GetRecoverAllBox()->checkState(), Qt::PartiallyChecked);
        QVERIFY(w.GetStartButton()->isEnabled());
        for (int i : {0, 1, 3, 4}) {
            ClickBox(w.GetCategoryBox(i));
            QCOMPARE(w.GetRecoverAllBox()->checkState(), Qt::PartiallyChecked);
            QVERIFY(w.GetStartButton()->isEnabled());
        }
        ClickBox(w.GetCategoryBox(5));
        QCOMPARE(CheckedCount(w), 0);
        QCOMPARE(w.GetRecoverAllBox()->checkState(), Qt::Unchecked);
        QVERIFY(!w.GetStartButton()->isEnabled());
        // Ticking one again makes the selection partial and Start usable.
        ClickBox(w.GetCategoryBox(4));
        QCOMPARE(w.GetRecoverAllBox()->checkState(), Qt::PartiallyChecked);
        QVERIFY(w.GetStartButton()->isEnabled());
        QCOMPARE(CheckedCount(w), 1);
    }

    void recoverAllClearsAndTicksAll() {
        DRUI w;
        w.Init();
        ClickBox(w.GetRecoverAllBox());
        QCOMPARE(CheckedCount(w), 0);
        QCOMPARE(w.GetRecoverAllBox()->checkState(), Qt::Unchecked);
        QVERIFY(!w.GetStartButton()->isEnabled());
        // From unchecked a click passes the partial state and lands on all ticked.
        ClickBox(w.GetRecoverAllBox());
        QCOMPARE(CheckedCount(w), 6);
        QCOMPARE(w.GetRecoverAllBox()->checkState(), Qt::Checked);
        QVERIFY(w.GetStartButton()->isEnabled());
    }

    void recoverAllFromPartialTicksAll() {
        DRUI w;
        w.Init();
        ClickBox(w.GetCategoryBox(0));
        ClickBox(w.GetCategoryBox(3));
        QCOMPARE(CheckedCount(w), 4);
        ClickBox(w.GetRecoverAllBox());
        QCOMPARE(CheckedCount(w), 6);
        QCOMPARE(w.GetRecoverAllBox()->checkState(), Qt::Checked);
        QVERIFY(w.GetStartButton()->isEnabled());
    }

    void navigationBetweenPages() {
        DRUI w;
        w.Init();
        w.GetStartButton()->click();
        QCOMPARE(w.GetStackedLayout()->currentIndex(), int(DRUI::PAGE_MEDIA));
        w.btnSlotBack();
        QCOMPARE(w.GetStackedLayout()->currentIndex(), int(DRUI::PAGE_FILE_TYPE));
    }

    void wholeDiskRowsForEveryDisk() {
        DRUI w;
        w.Init();
        QTreeWidget* tree = w.GetDiskTree();
        QCOMPARE(tree->topLevelItemCount(), 2);
        QCOMPARE(tree->topLevelItem(0)->text(0), QString("Physical Driver 0"));
        QCOMPARE(tree->topLevelItem(1)->text(0), QString("Physical Driver 2"));
        QTreeWidgetItem* whole = tree->topLevelItem(1)->child(tree->topLevelItem(1)->childCount() - 1);
        QCOMPARE(whole->text(0), QString("Whole Disk"));
        QCOMPARE(whole->text(1), QString("1.00 MB"));
        QVariant data = whole->data(0, Qt::UserRole);
        QCOMPARE(data.metaType(), QMetaType::fromName("PARTITION_ITEM"));
        _PARTITION_ITEM_ item = data.value<_PARTITION_ITEM_>();
        QCOMPARE(item.nDiskNo, 2);
        QCOMPARE(item.u64StartSector, 0ull);
        QCOMPARE(item.u64EndSector, 2047ull);
        QVERIFY(tree->currentItem());
        QVERIFY(w.GetScanButton()->isEnabled());
    }

    void partitionRowsFromATable() {
        ORVALE_TEST_TOOL("sfdisk");
        std::string disk = m_disks + "/disk3";
        QCOMPARE(RunCommand("truncate -s 8M '" + disk + "' && printf 'label: dos\\nstart=2048, size=2048, type=83\\n"
                            "start=8192, size=4096, type=83\\n' | sfdisk -q '" + disk + "'"),
                 0);
        DRUI w;
        w.Init();
        QVERIFY(::unlink(disk.c_str()) == 0);
        QTreeWidget* tree = w.GetDiskTree();
        QCOMPARE(tree->topLevelItemCount(), 3);
        QTreeWidgetItem* row = tree->topLevelItem(2);
        QCOMPARE(row->text(0), QString("Physical Driver 3"));
        QCOMPARE(row->childCount(), 3);
        QCOMPARE(row->child(0)->text(0), QString("Partition 1"));
        QCOMPARE(row->child(0)->text(1), QString("1.00 MB"));
        QCOMPARE(row->child(1)->text(0), QString("Partition 2"));
        QCOMPARE(row->child(1)->text(1), QString("2.00 MB"));
        QCOMPARE(row->child(2)->text(0), QString("Whole Disk"));
        QCOMPARE(row->child(2)->text(1), QString("8.00 MB"));
        _PARTITION_ITEM_ second = row->child(1)->data(0, Qt::UserRole).value<_PARTITION_ITEM_>();
        QCOMPARE(second.nDiskNo, 3);
        QCOMPARE(second.u64StartSector, 8192ull);
        QCOMPARE(second.u64EndSector, 8192ull + 4096 - 1);
        QVERIFY(row->isExpanded());
        // The last partition is preselected, not a whole disk.
        QCOMPARE(tree->currentItem(), row->child(1));
    }

    void scanEnabledOnAreaRowsOnly() {
        DRUI w;
        w.Init();
        QTreeWidget* tree = w.GetDiskTree();
        QTreeWidgetItem* disk = tree->topLevelItem(0);
        w.diskItemClick(disk, 0);
        QVERIFY(!w.GetScanButton()->isEnabled());
        w.diskItemClick(disk->child(0), 0);
        QVERIFY(w.GetScanButton()->isEnabled());
        w.diskItemClick(nullptr, 0);
        QVERIFY(w.GetScanButton()->isEnabled());
        // A double click on a disk row starts nothing.
        int made = 0;
        w.SetEngineMaker([&](const _PARTITION_ITEM_&) -> IFileRecoveryParse* {
            ++made;
            return nullptr;
        });
        w.btnSlot();
        w.diskItemDoubleClick(disk, 0);
        QCOMPARE(made, 0);
        QCOMPARE(w.GetStackedLayout()->currentIndex(), int(DRUI::PAGE_MEDIA));
    }

    void noDiskLeavesScanDisabled() {
        TempDir empty("ui-nodisk");
        setenv("ORVALE_DISK_DIR", empty.path().c_str(), 1);
        DRUI w;
        w.Init();
        setenv("ORVALE_DISK_DIR", m_disks.c_str(), 1);
        QCOMPARE(w.GetDiskTree()->topLevelItemCount(), 0);
        QVERIFY(!w.GetScanButton()->isEnabled());
    }

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

    void leftDragMovesTheWindow() {
        DRUI w;
        w.Init();
        w.move(100, 100);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QPoint start = w.pos();
        QPoint local(500, 640);
        QTest::mousePress(w.centralWidget(), Qt::LeftButton, {}, local);
        QMouseEvent move(QEvent::MouseMove, QPointF(local + QPoint(30, 20)),
                         QPointF(w.centralWidget()->mapToGlobal(local) + QPoint(30, 20)), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(&w, &move);
        QCOMPARE(w.pos(), start + QPoint(30, 20));
    }

    void wholeDiskRecord() {
        _PARTITION_ITEM_ item = MakeWholeDiskItem(7, 2048);
        QCOMPARE(item.u64EndSector, 2047ull);
        QCOMPARE(QString(item.szDiskName), QString("/dev/disk7"));
        QCOMPARE(item.szPartitionName[0], (unsigned char)'W');
        QCOMPARE(item.szPartitionName[1], (unsigned char)0);
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
