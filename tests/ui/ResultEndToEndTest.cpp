// From the scan to recovered files through the real window: a FAT image with
// deleted photos and documents, the result page, previews, and three recovery
// runs, the last one into a destination whose photo folder is read-only.
// With ORVALE_SCREENSHOT_DIR set, the pages and dialogs are saved there as PNG.
#include "ModalDriver.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "ui/CDetail.h"
#include "ui/CMessageBox.h"
#include "ui/CResultPage.h"
#include "ui/DRUI.h"
#include "ui/SCANUI.h"

#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QStackedLayout>
#include <QTableWidget>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QtTest>
#include <cstdlib>
#include <map>
#include <unistd.h>

namespace {
void Shot(QWidget* widget, const char* name) {
    const char* dir = std::getenv("ORVALE_SCREENSHOT_DIR");
    if (dir && *dir) widget->grab().save(QString("%1/%2.png").arg(dir, name));
}

QTreeWidgetItem* Row(CResultPage* page, const QString& text) {
    const auto found = page->Tree()->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}

// A click on the row's check box, as the user makes it.
void ClickCheckBox(QTreeWidget* tree, QTreeWidgetItem* row) {
    tree->scrollToItem(row);
    const QRect rect = tree->visualItemRect(row);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(rect.left() + 10, rect.center().y()));
}

struct RecoveryRun {
    QString detailLabel;
    QStringList names, states;
    QList<QColor> colours;
    bool finishedSeen = false;
};
} // namespace

class ResultEndToEndTest : public QObject {
    Q_OBJECT
    TempDir m_dir{"ui-results"};
    std::string m_disks = m_dir.path() + "/disks";
    std::string m_files = m_dir.path() + "/files";
    std::map<std::string, std::string> m_sha; // deleted file name -> sha256
    std::string m_readOnlyMount;

    // Answers the dialogs one recovery opens: the folder question, the progress
    // dialog's Finished state, and the detail dialog.
    void Recover(CResultPage* page, const std::string& dest, RecoveryRun& run, const char* shotPrefix) {
        bool detailShown = false;
        ModalDriver driver([&](QWidget* w) {
            if (auto* files = qobject_cast<QFileDialog*>(w)) {
                files->setDirectory(QString::fromStdString(dest));
                QMetaObject::invokeMethod(files, "accept", Qt::QueuedConnection);
            } else if (auto* detail = qobject_cast<CDetail*>(w)) {
                run.detailLabel = detail->LabelText();
                for (int r = 0; r < detail->Table()->rowCount(); ++r) {
                    run.names << detail->Table()->item(r, 0)->text();
                    run.states << detail->Table()->item(r, 1)->text();
                    run.colours << detail->Table()->item(r, 1)->foreground().color();
                }
                Shot(detail, (std::string(shotPrefix) + "-detail").c_str());
                detail->btnSlot();
            } else if (auto* progress = qobject_cast<SCANUI*>(w)) {
                if (progress->OprType() != SCANUI::OPR_RECOVERY || progress->ActionButton()->text() != "Finished")
                    return;
                run.finishedSeen = true;
                if (!detailShown) {
                    detailShown = true;
                    Shot(progress, (std::string(shotPrefix) + "-finished").c_str());
                    for (QPushButton* b : progress->findChildren<QPushButton*>())
                        if (b->text() == "Detail") QMetaObject::invokeMethod(b, "click", Qt::QueuedConnection);
                } else {
                    QMetaObject::invokeMethod(progress->ActionButton(), "click", Qt::QueuedConnection);
                }
            } else if (auto* box = qobject_cast<CMessageBox*>(w)) {
                QFAIL(qPrintable("unexpected question: " + box->Text()));
            }
        });
        page->RecoverButton()->click();
    }

    // Every file is written before any is deleted, so no entry reuses a deleted one's slot.
    void Fill(const std::string& image, const std::vector<std::string>& names, const std::vector<std::string>& deleted) {
        for (const std::string& name : names)
            QCOMPARE(RunCommand("MTOOLS_SKIP_CHECK=1 mcopy -i '" + image + "' '" + m_files + "/" + name + "' ::/" + name), 0);
        for (const std::string& name : deleted) {
            m_sha[name] = Sha256File(m_files + "/" + name);
            QCOMPARE(RunCommand("MTOOLS_SKIP_CHECK=1 mdel -i '" + image + "' ::/" + name), 0);
        }
    }

private slots:
    void initTestCase() {
        for (const char* tool : {"mkfs.vfat", "mcopy", "mdel", "/usr/bin/convert"})
            if (!HaveTool(tool)) QSKIP(qPrintable(QString("SKIPPED: '%1' is not installed").arg(tool)));
        setenv("ORVALE_DISK_DIR", m_disks.c_str(), 1);
        setenv("ORVALE_SUPPORT_DIR", (m_dir.path() + "/support").c_str(), 1);
        QCOMPARE(RunCommand("mkdir -p '" + m_disks + "' '" + m_files + "'"), 0);
        QCOMPARE(RunCommand("cd '" + m_files + "' && /usr/bin/convert -size 1400x300 plasma:fuchsia-tan beach-holiday.jpg"
                            " && /usr/bin/convert -size 320x240 gradient:navy-gold sunset-picture.jpg"), 0);
        std::string text;
        for (int i = 0; i < 60; ++i) text += "Quarterly report line " + std::to_string(i) + ": sales were fine.\n";
        WriteFileBytes(m_files + "/quarterly-report.txt", std::vector<uint8_t>(text.begin(), text.end()));
        WriteFileBytes(m_files + "/meeting-minutes.doc", RandomBytes(70000, 7));
        WriteFileBytes(m_files + "/kept-notes.txt", RandomBytes(3000, 8));

        const std::string image = m_disks + "/disk0";
        QCOMPARE(RunCommand("mkfs.vfat -C -F 16 '" + image + "' 20000 >/dev/null"), 0);
        const std::vector<std::string> deleted = {"beach-holiday.jpg", "sunset-picture.jpg", "quarterly-report.txt",
                                                  "meeting-minutes.doc"};
        std::vector<std::string> all = deleted;
        all.insert(all.begin() + 1, "kept-notes.txt");
        Fill(image, all, deleted);
    }

    void cleanupTestCase() {
        if (!m_readOnlyMount.empty()) RunCommand("umount '" + m_readOnlyMount + "'");
    }

    void scanPreviewAndRecover() {
        DRUI w;
        w.Init();
        w.resize(1000, 660);
        w.btnSlot();
        // The image has no partition table: its volume is reached through the whole disk.
        const auto whole = w.GetDiskTree()->findItems("Whole Disk", Qt::MatchExactly | Qt::MatchRecursive);
        QVERIFY(!whole.isEmpty());
        w.GetDiskTree()->setCurrentItem(whole.first());
        {
            ModalDriver none([](QWidget*) {}); // scan, search and previews close by themselves
            w.btnSlotScan();
        }
        auto* page = qobject_cast<CResultPage*>(w.GetResultPage());
        QVERIFY(page);
        QCOMPARE(w.GetStackedLayout()->currentIndex(), int(DRUI::PAGE_RESULT));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));

        QTreeWidgetItem* photo = Row(page, "Photo(2)");
        QTreeWidgetItem* office = Row(page, "Office(2)"); // the file never deleted is no hit
        QStringList rows;
        for (QTreeWidgetItemIterator it(page->Tree()); *it; ++it) rows << (*it)->text(0);
        QVERIFY2(photo && office, qPrintable(rows.join(", ")));

        // A picture preview: the wide photo is fitted into the area.
        {
            ModalDriver none([](QWidget*) {});
            page->Tree()->setCurrentItem(Row(page, "jpg Files (2)"));
            QCOMPARE(page->Table()->rowCount(), 2);
            QCOMPARE(page->Table()->item(0, 0)->text(), QString("beach-holiday.jpg"));
            QCOMPARE(page->PreviewArea()->pixmap().size(), QSize(700, 150));
            Shot(&w, "result-picture-preview");
            page->Tree()->setCurrentItem(Row(page, "txt Files (1)"));
            QVERIFY(page->PreviewArea()->text().startsWith("Quarterly report line 0: sales were fine.\n"));
            Shot(&w, "result-text-preview");
        }

        // Tick Photo with a click on its check box.
        {
            ModalDriver none([](QWidget*) {});
            ClickCheckBox(page->Tree(), photo);
        }
        QCOMPARE(photo->checkState(0), Qt::Checked);
        QCOMPARE(page->Selection().size(), size_t(2));
        QVERIFY(page->SelectionLabel()->text().endsWith("in 2 files"));
        QVERIFY(page->RecoverButton()->isEnabled());

        // Unticking a file row and ticking it again, with clicks on the table.
        {
            ModalDriver none([](QWidget*) {});
            page->Tree()->setCurrentItem(Row(page, "jpg Files (2)"));
            const QRect cell = page->Table()->visualItemRect(page->Table()->item(1, 0));
            const QPoint box(cell.left() + 10, cell.center().y());
            QTest::mouseClick(page->Table()->viewport(), Qt::LeftButton, Qt::NoModifier, box);
            QCOMPARE(page->Table()->item(1, 0)->checkState(), Qt::Unchecked);
            QCOMPARE(photo->checkState(0), Qt::PartiallyChecked);
            QVERIFY(page->SelectionLabel()->text().endsWith("in 1 file"));
            Shot(&w, "result-partial");
            QTest::mouseClick(page->Table()->viewport(), Qt::LeftButton, Qt::NoModifier, box);
            QCOMPARE(photo->checkState(0), Qt::Checked);
        }
        QCOMPARE(page->Selection().size(), size_t(2));

        const std::string dest = m_dir.path() + "/dest";
        QCOMPARE(RunCommand("mkdir -p '" + dest + "'"), 0);
        RecoveryRun first, second;
        Recover(page, dest, first, "recovery1");
        QVERIFY(first.finishedSeen);
        QCOMPARE(first.detailLabel, QString("  Recovery Detail\n  Success:2 Failed:0\n"));
        Recover(page, dest, second, "recovery2");
        QCOMPARE(second.detailLabel, QString("  Recovery Detail\n  Success:2 Failed:0\n"));
        for (const char* name : {"beach-holiday", "sunset-picture"}) {
            const std::string sha = m_sha[std::string(name) + ".jpg"];
            QCOMPARE(Sha256File(dest + "/photo/" + name + ".jpg"), sha);
            QCOMPARE(Sha256File(dest + "/photo/" + name + "(1).jpg"), sha);
        }
        QVERIFY(!FileExists(dest + "/document"));

        // Third run, documents too, into a destination whose photo folder is read-only.
        {
            ModalDriver none([](QWidget*) {});
            page->Tree()->setCurrentItem(office);
            ClickCheckBox(page->Tree(), office);
        }
        QCOMPARE(page->Selection().size(), size_t(4));
        const std::string dest3 = m_dir.path() + "/dest3";
        QCOMPARE(RunCommand("mkdir -p '" + dest3 + "/photo'"), 0);
        if (geteuid() != 0) {
            QCOMPARE(RunCommand("chmod 0555 '" + dest3 + "/photo'"), 0);
        } else if (RunCommand("mount -t tmpfs -o ro,size=64k tmpfs '" + dest3 + "/photo'") == 0) {
            // Permission bits do not stop root: a read-only mount does.
            m_readOnlyMount = dest3 + "/photo";
        } else {
            // No mounting here: a plain file where the folder should be stops the writes as well.
            QCOMPARE(RunCommand("rmdir '" + dest3 + "/photo' && touch '" + dest3 + "/photo'"), 0);
        }
        RecoveryRun third;
        Recover(page, dest3, third, "recovery3");
        QCOMPARE(third.detailLabel, QString("  Recovery Detail\n  Success:2 Failed:2\n"));
        QCOMPARE(third.states.size(), 4);
        for (int r = 0; r < 2; ++r) {
            QVERIFY2(third.states[r].startsWith("Failed"), qPrintable(third.states[r]));
            QVERIFY(third.names[r].contains("/photo/"));
            QCOMPARE(third.colours[r], QColor(255, 0, 0));
        }
        for (int r = 2; r < 4; ++r) QCOMPARE(third.states[r], QString("Success"));
        QCOMPARE(Sha256File(dest3 + "/document/quarterly-report.txt"), m_sha["quarterly-report.txt"]);
        QCOMPARE(Sha256File(dest3 + "/document/meeting-minutes.doc"), m_sha["meeting-minutes.doc"]);
    }
};

QTEST_MAIN(ResultEndToEndTest)
#include "ResultEndToEndTest.moc"
