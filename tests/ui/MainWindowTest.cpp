// The file-type page's boxes and the media page's disks.
#include "UiTest.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "ui/DRUI.h"
#include "ui/MediaList.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTreeWidget>


class MainWindowTest : public QObject {
    Q_OBJECT
    TempDir m_dir{"ui-mainwindow"};
    ScopedEnv m_support{"ORVALE_SUPPORT_DIR", m_dir.file("support")}, m_disks{"ORVALE_DISK_DIR", m_dir.path()};

private slots:

    // Clicks on category boxes (0-5) or on "recover all" (-1), and the states they leave.
    void boxesRecoverAllAndStart() {
        struct Step { int box, ticked; Qt::CheckState all; };
        // From all ticked a click on "recover all" clears all; from unticked or partial it ticks all.
        const std::vector<std::vector<Step>> runs = {
            {{2, 5, Qt::PartiallyChecked}, {0, 4, Qt::PartiallyChecked}, {1, 3, Qt::PartiallyChecked}, {3, 2, Qt::PartiallyChecked},
             {4, 1, Qt::PartiallyChecked}, {5, 0, Qt::Unchecked}, {4, 1, Qt::PartiallyChecked}, {-1, 6, Qt::Checked}},
            {{-1, 0, Qt::Unchecked}, {-1, 6, Qt::Checked}},
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
                QVERIFY(ticked == s.ticked && w.GetRecoverAllBox()->checkState() == s.all && w.GetStartButton()->isEnabled() == (s.ticked > 0));
            }
        }
    }

    // Two partitioned disks, a bare volume, an empty file and an image opened by hand: numbering
    // per disk, file systems and labels, greyed disks, and rows that follow disks coming and going.
    void mediaRowsPerDisk() {
        for (const char* tool : {"sfdisk", "mkfs.vfat", "mkfs.ext4", "mkntfs", "mkfs.exfat"})
            if (!HaveTool(tool)) QSKIP(qPrintable(QString("SKIPPED: %1 is not installed").arg(tool)));
        TempDir dir("ui-media");
        const std::string d = dir.path();
        QCOMPARE(RunCommand("cd '" + d + "' && mkdir disks && put() { dd if=$1 of=disks/$2 bs=512 seek=$3 conv=notrunc status=none; } && "
                            "truncate -s 4M p1 && mkfs.vfat -F 16 -s 1 -n PHOTOS p1 >/dev/null && "
                            "truncate -s 4M p2 && mkfs.ext4 -q -L home p2 && "
                            "truncate -s 8M p3 && mkntfs -q -F -Q -L Win p3 >/dev/null 2>&1 && "
                            "truncate -s 32M disks/disk0 && printf 'label: dos\\nstart=2048, size=8192, type=6\\n"
                            "start=10240, size=8192, type=83\\nstart=40000, size=100\\n' | sfdisk -q disks/disk0 && "
                            "truncate -s 16M disks/disk0 && put p1 disk0 2048 && put p2 disk0 10240 && "
                            "truncate -s 2560K p4 && mkfs.exfat -L Cam p4 >/dev/null && truncate -s 12M disks/disk1 && "
                            "printf 'label: gpt\\nstart=2048, size=16384\\nstart=18432, size=5120\\n' | sfdisk -q disks/disk1 && "
                            "put p3 disk1 2048 && put p4 disk1 18432 && "
                            "truncate -s 40M disks/disk2 && mkfs.vfat -F 32 -n CARD disks/disk2 >/dev/null && "
                            ": > disks/disk3 && ln -s gone.img disks/disk6 && truncate -s 4M card.img && mkfs.vfat -n SPARE card.img >/dev/null"),
                 0);
        ScopedEnv disksEnv("ORVALE_DISK_DIR", d + "/disks");
        DRUI w;
        w.Init();
        w.SetImageChooser([&] { return QString::fromStdString(d + "/card.img"); });
        w.btnSlot();
        QTest::mouseClick(w.GetOpenImageButton(), Qt::LeftButton);
        QTreeWidget* tree = w.GetDiskTree();
        struct Row { int disk; const char *name, *fs, *label; uint64_t start, end; } const rows[] = {
            {0, "Partition 1", "FAT16", "PHOTOS", 2048, 10239}, {0, "Partition 2", "ext4", "home", 10240, 18431},
            {0, "Partition 3", "", "past the disk's end", 40000, 40099},
            {0, "Whole Disk", "", "", 0, 32767},                {1, "Partition 1", "NTFS", "Win", 2048, 18431},
            {1, "Partition 2", "exFAT", "Cam", 18432, 23551},   {1, "Whole Disk", "", "", 0, 24575},
            {2, "Whole Disk", "FAT32", "CARD", 0, 81919},       {5, "Whole Disk", "FAT12", "SPARE", 0, 8191},
        };
        const char* disks[] = {"disk0   16.00 MB", "disk1   12.00 MB", "disk2   40.00 MB", "disk3   cannot be scanned: empty",
                               "gone.img   cannot be scanned: missing", "card.img   4.00 MB"};
        QCOMPARE(tree->topLevelItemCount(), 6);
        for (int i = 0; i < 6; ++i)
            QVERIFY2(tree->topLevelItem(i)->text(0).startsWith(disks[i]) && tree->topLevelItem(i)->isDisabled() == (i == 3 || i == 4),
                     qPrintable(tree->topLevelItem(i)->text(0)));
        int next[6] = {};
        for (const Row& r : rows) {
            const QTreeWidgetItem* row = tree->topLevelItem(r.disk)->child(next[r.disk]++);
            QVERIFY(row);
            const _PARTITION_ITEM_ item = row->data(0, Qt::UserRole).value<_PARTITION_ITEM_>();
            QCOMPARE((QStringList{row->text(0), row->text(1), row->text(2), row->text(4)}), (QStringList{r.name, r.fs, r.label, QString::number(r.start)}));
            QCOMPARE(std::make_pair(item.u64StartSector, item.u64EndSector), std::make_pair(r.start, r.end));
        }
        for (int i = 0; i < 6; ++i) QCOMPARE(tree->topLevelItem(i)->childCount(), next[i]);
        // The image just opened is selected; a disk row cannot be scanned.
        QTreeWidgetItem* image = tree->topLevelItem(5)->child(0);
        QVERIFY(tree->currentItem() == image && w.GetScanButton()->isEnabled());
        for (QTreeWidgetItem* row : {tree->topLevelItem(0), tree->topLevelItem(0)->child(2)}) { // the past-the-end partition: nothing to scan
            tree->setCurrentItem(row);
            QVERIFY(!w.GetScanButton()->isEnabled());
        }
        int made = 0;
        w.SetEngineMaker([&](const _PARTITION_ITEM_&) -> IFileRecoveryParse* { return ++made, nullptr; });
        w.diskItemDoubleClick(tree->topLevelItem(3), 0);
        QCOMPARE(made, 0);
        // A disk plugged in later appears by itself; the selection stays where it was.
        tree->setCurrentItem(image);
        QCOMPARE(RunCommand("truncate -s 2M '" + d + "/disks/disk5'"), 0);
        QTRY_COMPARE_WITH_TIMEOUT(tree->topLevelItemCount(), 7, 5000);
        QVERIFY(tree->topLevelItem(4)->text(0).startsWith("disk5") && tree->currentItem()->parent()->text(0).startsWith("card.img"));
    }
};

ORVALE_UI_TEST(MainWindowTest);
#include "MainWindowTest.moc"
