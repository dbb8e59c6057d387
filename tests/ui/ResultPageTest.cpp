// The result page: grouping into the type tree, tri-state ticking, the selection
// map and its label, and the icons of extension rows.
#include "ResultFakeEngine.h"
#include "engine/FileCategories.h"
#include "ui/CResultPage.h"
#include "ui/FileTypeIcon.h"

#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeWidget>
#include <QtTest>

namespace {
QStringList TopRows(QTreeWidget* tree) {
    QStringList rows;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) rows << tree->topLevelItem(i)->text(0);
    return rows;
}

QStringList ChildRows(QTreeWidgetItem* row) {
    QStringList rows;
    for (int i = 0; row && i < row->childCount(); ++i) rows << row->child(i)->text(0);
    return rows;
}

QTreeWidgetItem* FindRow(QTreeWidget* tree, const QString& text) {
    const auto found = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}

// Ticks a tree row the way a click on its check box does.
void TickRow(CResultPage& page, QTreeWidgetItem* row, Qt::CheckState state) {
    page.Tree()->setCurrentItem(row); // selection change: the row is shown with its old state
    row->setCheckState(0, state);
    page.treeItemClick(row, 0);       // the click on the shown row applies the new state
}
} // namespace

class ResultPageTest : public QObject {
    Q_OBJECT
private slots:
    void groupsByCategoryAndExtension();
    void filesWithoutUsableExtensionGoToOther();
    void documentListWinsOverSecondArchiveList();
    void tickingCategoryTicksExtensionsAndRows();
    void untickingOneRowMakesParentsPartial();
    void tickingAllRowsChecksParents();
    void keyboardTicksReachTheSelection();
    void emptySelectionDisablesRecover();
    void newResultsEmptyTheSelection();
    void equalKeysOfDifferentEnginesStayApart();
    void extensionWithBlankFindsItsRecords();
    void iconNames_data();
    void iconNames();
    void categoryFolders_data();
    void categoryFolders();
};

void ResultPageTest::groupsByCategoryAndExtension() {
    ResultFakeHost host;
    CResultPage page(&host);
    page.SetResults({MakeHit("a.JPG", 1, 10), MakeHit("b.jpg", 2, 20), MakeHit("c.mp3", 3, 30)});
    QCOMPARE(TopRows(page.Tree()), QStringList({"Photo(2)", "Music(1)"}));
    QCOMPARE(ChildRows(page.Tree()->topLevelItem(0)), QStringList({"jpg Files (2)"}));
    QCOMPARE(ChildRows(page.Tree()->topLevelItem(1)), QStringList({"mp3 Files (1)"}));
    for (QTreeWidgetItem* row : {page.Tree()->topLevelItem(0), page.Tree()->topLevelItem(0)->child(0)})
        QCOMPARE(row->checkState(0), Qt::Unchecked);
}

void ResultPageTest::filesWithoutUsableExtensionGoToOther() {
    ResultFakeHost host;
    CResultPage page(&host);
    page.SetResults({MakeHit("readme", 1, 1), MakeHit("x.c", 2, 1), MakeHit("", 3, 1), MakeHit("data.bin", 4, 1)});
    QCOMPARE(TopRows(page.Tree()), QStringList({"Other(3)"}));
    QCOMPARE(ChildRows(page.Tree()->topLevelItem(0)), QStringList({"bin Files (1)", "c Files (1)", "unknown Files (1)"}));
    QCOMPARE(page.Groups().Records(RESULT_OTHER, "c").size(), size_t(1));
    QCOMPARE(page.Groups().Records(RESULT_OTHER, "unknown").front().nFileIndex, 1u);
}

void ResultPageTest::documentListWinsOverSecondArchiveList() {
    ResultFakeHost host;
    CResultPage page(&host);
    page.SetResults({MakeHit("report.doc", 1, 1), MakeHit("notes.rtf", 2, 1), MakeHit("clip.MP4", 3, 1)});
    QCOMPARE(TopRows(page.Tree()), QStringList({"Office(1)", "Video(1)", "Archive(1)"}));
    QCOMPARE(ChildRows(FindRow(page.Tree(), "Office(1)")), QStringList({"doc Files (1)"}));
    QCOMPARE(ChildRows(FindRow(page.Tree(), "Archive(1)")), QStringList({"rtf Files (1)"}));
    QCOMPARE(ChildRows(FindRow(page.Tree(), "Video(1)")), QStringList({"mp4 Files (1)"}));
}

void ResultPageTest::tickingCategoryTicksExtensionsAndRows() {
    ResultFakeHost host;
    CResultPage page(&host);
    page.SetResults({MakeHit("a.JPG", 1, 1000), MakeHit("b.jpg", 2, 1048), MakeHit("p.png", 3, 24),
                     MakeHit("c.mp3", 4, 30)});
    QTreeWidgetItem* photo = FindRow(page.Tree(), "Photo(3)");
    QVERIFY(photo);
    TickRow(page, photo, Qt::Checked);
    QCOMPARE(photo->child(0)->checkState(0), Qt::Checked);
    QCOMPARE(photo->child(1)->checkState(0), Qt::Checked);
    QCOMPARE(FindRow(page.Tree(), "Music(1)")->checkState(0), Qt::Unchecked);
    QCOMPARE(page.Selection().size(), size_t(3));
    QCOMPARE(page.SelectionLabel()->text(), QString("Select 2.02 KB in 3 files"));
    QVERIFY(page.RecoverButton()->isEnabled());

    // Moving to an extension row shows its rows ticked from the map.
    QTreeWidgetItem* jpg = FindRow(page.Tree(), "jpg Files (2)");
    page.Tree()->setCurrentItem(jpg);
    QCOMPARE(page.Table()->rowCount(), 2);
    QCOMPARE(page.Table()->item(0, 0)->checkState(), Qt::Checked);
    QCOMPARE(page.Table()->item(1, 0)->checkState(), Qt::Checked);

    TickRow(page, photo, Qt::Unchecked);
    QCOMPARE(jpg->checkState(0), Qt::Unchecked);
    QVERIFY(page.Selection().empty());
    QCOMPARE(page.SelectionLabel()->text(), QString("Select 0 Bytes in 0 file"));
    QVERIFY(!page.RecoverButton()->isEnabled());
}

void ResultPageTest::untickingOneRowMakesParentsPartial() {
    ResultFakeHost host;
    CResultPage page(&host);
    page.SetResults({MakeHit("a.jpg", 1, 100), MakeHit("b.jpg", 2, 200), MakeHit("c.png", 3, 5)});
    QTreeWidgetItem* jpg = FindRow(page.Tree(), "jpg Files (2)");
    TickRow(page, jpg, Qt::Checked);
    QCOMPARE(jpg->parent()->checkState(0), Qt::PartiallyChecked); // png is still unticked
    QCOMPARE(page.Table()->rowCount(), 2);

    page.Table()->item(1, 0)->setCheckState(Qt::Unchecked);
    page.tableItemPress(1, 0);
    QCOMPARE(jpg->checkState(0), Qt::PartiallyChecked);
    QCOMPARE(jpg->parent()->checkState(0), Qt::PartiallyChecked);
    QCOMPARE(page.Selection().size(), size_t(1));
    QCOMPARE(page.Selection().begin()->second.nFileIndex, 1u);
    QCOMPARE(page.SelectionLabel()->text(), QString("Select 100 Bytes in 1 file"));

    // Leaving and coming back keeps exactly the ticked row.
    page.Tree()->setCurrentItem(FindRow(page.Tree(), "png Files (1)"));
    QCOMPARE(page.Table()->item(0, 0)->checkState(), Qt::Unchecked);
    page.Tree()->setCurrentItem(jpg);
    QCOMPARE(page.Table()->item(0, 0)->checkState(), Qt::Checked);
    QCOMPARE(page.Table()->item(1, 0)->checkState(), Qt::Unchecked);

    page.Table()->item(0, 0)->setCheckState(Qt::Unchecked);
    page.tableItemPress(0, 0);
    QCOMPARE(jpg->checkState(0), Qt::Unchecked);
    QCOMPARE(jpg->parent()->checkState(0), Qt::Unchecked);
    QVERIFY(!page.RecoverButton()->isEnabled());
}

void ResultPageTest::tickingAllRowsChecksParents() {
    ResultFakeHost host;
    CResultPage page(&host);
    page.SetResults({MakeHit("a.jpg", 1, 1), MakeHit("b.jpg", 2, 1)});
    QTreeWidgetItem* jpg = FindRow(page.Tree(), "jpg Files (2)");
    page.Tree()->setCurrentItem(jpg);
    for (int row = 0; row < 2; ++row) {
        page.Table()->item(row, 0)->setCheckState(Qt::Checked);
        page.tableItemPress(row, 0);
        QCOMPARE(jpg->checkState(0), row == 0 ? Qt::PartiallyChecked : Qt::Checked);
    }
    QCOMPARE(jpg->parent()->checkState(0), Qt::Checked);
    QCOMPARE(page.SelectionLabel()->text(), QString("Select 2 Bytes in 2 files"));
}

void ResultPageTest::keyboardTicksReachTheSelection() {
    ResultFakeHost host;
    CResultPage page(&host);
    page.SetResults({MakeHit("a.jpg", 1, 1), MakeHit("b.jpg", 2, 1), MakeHit("c.png", 3, 1)});
    QTreeWidgetItem* jpg = FindRow(page.Tree(), "jpg Files (2)");
    page.Tree()->setCurrentItem(jpg);
    QTest::keyClick(page.Tree()->viewport(), Qt::Key_Space);
    QCOMPARE(jpg->checkState(0), Qt::Checked);
    QCOMPARE(jpg->parent()->checkState(0), Qt::PartiallyChecked);
    QCOMPARE(page.Selection().size(), size_t(2));
    QCOMPARE(page.Table()->item(1, 0)->checkState(), Qt::Checked);

    page.Table()->setCurrentCell(1, 0);
    QTest::keyClick(page.Table()->viewport(), Qt::Key_Space);
    QCOMPARE(page.Table()->item(1, 0)->checkState(), Qt::Unchecked);
    QCOMPARE(jpg->checkState(0), Qt::PartiallyChecked);
    QCOMPARE(page.Selection().size(), size_t(1));
    QCOMPARE(page.SelectionLabel()->text(), QString("Select 1 Bytes in 1 file"));

    // The category ticked from the keyboard while its extension row is shown.
    page.Tree()->setCurrentItem(jpg->parent());
    QTest::keyClick(page.Tree()->viewport(), Qt::Key_Space);
    QCOMPARE(jpg->parent()->checkState(0), Qt::Checked);
    QCOMPARE(page.Selection().size(), size_t(3));
}

void ResultPageTest::emptySelectionDisablesRecover() {
    ResultFakeHost host;
    CResultPage page(&host);
    page.SetResults({});
    QCOMPARE(page.Tree()->topLevelItemCount(), 0);
    QCOMPARE(page.SelectionLabel()->text(), QString("Select 0 Bytes in 0 file"));
    QVERIFY(!page.RecoverButton()->isEnabled());
    page.btnRecovery(); // nothing ticked: the destination is never asked for a save
    QVERIFY(host.engine.savedTargets.empty());
}

void ResultPageTest::newResultsEmptyTheSelection() {
    ResultFakeHost host;
    CResultPage page(&host);
    page.SetResults({MakeHit("a.jpg", 1, 5)});
    TickRow(page, FindRow(page.Tree(), "Photo(1)"), Qt::Checked);
    QCOMPARE(page.Selection().size(), size_t(1));
    page.SetResults({MakeHit("z.jpg", 1, 7)});
    QVERIFY(page.Selection().empty());
    QVERIFY(!page.RecoverButton()->isEnabled());
    QCOMPARE(page.SelectionLabel()->text(), QString("Select 0 Bytes in 0 file"));
}

void ResultPageTest::equalKeysOfDifferentEnginesStayApart() {
    ResultFakeHost host;
    CResultPage page(&host);
    // Record 1 of the quick FAT store and record 1 of the carver's store.
    page.SetResults({MakeHit("a.jpg", 1, 5, 0, FS_TYPE_FAST_FAT), MakeHit("0.jpg", 1, 6, 0, FS_TYPE_FILE_TYPE)});
    TickRow(page, FindRow(page.Tree(), "Photo(2)"), Qt::Checked);
    QCOMPARE(page.Selection().size(), size_t(2));
}

void ResultPageTest::extensionWithBlankFindsItsRecords() {
    ResultFakeHost host;
    CResultPage page(&host);
    page.SetResults({MakeHit("backup.tar gz", 1, 5), MakeHit("t.tar", 2, 6)});
    QTreeWidgetItem* row = FindRow(page.Tree(), "tar gz Files (1)");
    QVERIFY(row);
    page.Tree()->setCurrentItem(row);
    QCOMPARE(page.Table()->rowCount(), 1);
    QCOMPARE(page.Table()->item(0, 0)->text(), QString("backup.tar gz"));
}

void ResultPageTest::iconNames_data() {
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("icon");
    QTest::newRow("jpeg shares the jpg icon") << "jpeg" << ":/image/FileIcon/jpg.png";
    QTest::newRow("upper case") << "JPG" << ":/image/FileIcon/jpg.png";
    QTest::newRow("photo default") << "nef" << ":/image/FileIcon/image.png";
    QTest::newRow("unknown") << "xyz" << ":/image/FileIcon/other.png";
    QTest::newRow("audio default") << "amr" << ":/image/FileIcon/audio_default.png";
    QTest::newRow("second archive list") << "rtf" << ":/image/FileIcon/office_default.png";
    QTest::newRow("one letter: no default") << "c" << "";
    QTest::newRow("leading dot") << ".mkv" << ":/image/FileIcon/video_default.png";
}

void ResultPageTest::iconNames() {
    QFETCH(QString, extension);
    QFETCH(QString, icon);
    QCOMPARE(GetExtendNameIcon(extension), icon);
}

void ResultPageTest::categoryFolders_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("folder");
    QTest::newRow("photo") << "a.JPG" << "photo";
    QTest::newRow("second archive list") << "notes.rtf" << "archive";
    QTest::newRow("unknown extension") << "data.bin" << "others";
    QTest::newRow("one-letter extension") << "x.c" << "";
    QTest::newRow("no extension") << "readme" << "";
}

void ResultPageTest::categoryFolders() {
    QFETCH(QString, name);
    QFETCH(QString, folder);
    char out[32] = "junk";
    GetDirTypeByFileName(name.toLatin1().constData(), out);
    QCOMPARE(QString::fromLatin1(out), folder);
}

QTEST_MAIN(ResultPageTest)
#include "ResultPageTest.moc"
