// A real scan from the media page: a partitioned image with a FAT32 volume
// holding live, deleted and directory-less files, scanned through the window's
// workers and the deep engine, ending on the result page.
#include "ModalDriver.h"
#include "fixtures/E2eDiskImage.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "ui/CMessageBox.h"
#include "ui/DRUI.h"
#include "ui/SCANUI.h"

#include <QStackedLayout>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include <set>
#include <unistd.h>

class WindowScanTest : public QObject {
    Q_OBJECT

private slots:
    void scanOfAnImagePartition() {
        for (const char* tool : {"mkfs.vfat", "mcopy", "sfdisk", "/usr/bin/convert", "zip"})
            if (!HaveTool(tool)) QSKIP(qPrintable(QString("SKIPPED: %1 is not installed").arg(tool)));
        TempDir dir("ui-windowscan");
        E2eDiskImage image;
        std::string error;
        QVERIFY2(image.Build(dir.path(), false, error), error.c_str());
        std::string disks = dir.file("disks");
        QCOMPARE(RunCommand("mkdir -p '" + disks + "' && ln -s '" + image.path() + "' '" + disks + "/disk0'"), 0);
        ScopedEnv diskEnv("ORVALE_DISK_DIR", disks);
        ScopedEnv supportEnv("ORVALE_SUPPORT_DIR", dir.file("support"));

        DRUI w;
        w.Init();
        w.btnSlot();
        QTreeWidget* tree = w.GetDiskTree();
        QCOMPARE(tree->topLevelItemCount(), 1);
        QTreeWidgetItem* disk = tree->topLevelItem(0);
        QCOMPARE(disk->text(0), QString("Physical Driver 0"));
        QCOMPARE(disk->childCount(), 2);
        QTreeWidgetItem* partition = disk->child(0);
        QCOMPARE(partition->text(0), QString("Partition 1"));
        QCOMPARE(partition->text(1), QString("64.00 MB"));
        QCOMPARE(disk->child(1)->text(0), QString("Whole Disk"));
        QCOMPARE(tree->currentItem(), partition);
        QVERIFY(w.GetScanButton()->isEnabled());

        int boxes = 0, lastScanValue = 0;
        ModalDriver driver([&](QWidget* widget) {
            if (auto* box = qobject_cast<CMessageBox*>(widget)) {
                ++boxes;
                box->btnSlotOK();
            } else if (auto* d = qobject_cast<SCANUI*>(widget)) {
                if (d->OprType() == SCANUI::OPR_SCAN) lastScanValue = std::max(lastScanValue, d->ProgressValue());
            }
        });
        w.diskItemDoubleClick(partition, 0);

        QCOMPARE(boxes, 0);
        QVERIFY(w.GetScanError().isEmpty());
        QCOMPARE(w.GetStackedLayout()->currentIndex(), int(DRUI::PAGE_RESULT));
        QVERIFY(w.GetEngine());
        QCOMPARE(w.GetPartitionItem().u64StartSector, 2048ull);
        QCOMPARE(w.GetPartitionItem().u64EndSector, 2048ull + 131072 - 1);

        // The deleted files come back under their names; the directory-less ones
        // by content with their own sizes; live files are not offered.
        std::multiset<std::string> names;
        std::multiset<uint64_t> sizes;
        for (const auto& hit : w.GetSearchResults()) {
            names.insert(hit.szFileName);
            sizes.insert(hit.u64FileSize);
        }
        QString listed;
        for (const auto& n : names) listed += QString::fromStdString(n) + " ";
        size_t expected = 0;
        for (const E2eFile& f : image.fatFiles()) {
            if (!f.deleted) {
                QVERIFY2(!names.count(f.name), qPrintable(listed));
                continue;
            }
            ++expected;
            if (f.carvedOnly) QVERIFY2(sizes.count(f.size), qPrintable(listed));
            else QVERIFY2(names.count(f.name) == 1, qPrintable(listed));
        }
        QCOMPARE(w.GetSearchResults().size(), expected);
    }
};

QTEST_MAIN(WindowScanTest)
#include "WindowScanTest.moc"
