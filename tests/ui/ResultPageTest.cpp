// The result page: grouping into the type tree, tri-state ticking, the selection
// map and its label, and previews of found files.
#include "FakeEngine.h"
#include "UiTest.h"
#include "fixtures/TempDir.h"
#include "ui/CResultPage.h"
#include "ui/PreviewFormat.h"

#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeWidget>

namespace {
QStringList Rows(QTreeWidget* tree) {
    QStringList rows;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        rows << tree->topLevelItem(i)->text(0);
        for (int j = 0; j < tree->topLevelItem(i)->childCount(); ++j) rows << " " + tree->topLevelItem(i)->child(j)->text(0);
    }
    return rows;
}

QTreeWidgetItem* Row(CResultPage& page, const QString& text) {
    const auto found = page.Tree()->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}

// Ticks a tree row the way a click on its check box does.
void TickRow(CResultPage& page, QTreeWidgetItem* row, Qt::CheckState state) {
    page.Tree()->setCurrentItem(row); // selection change: the row is shown with its old state
    row->setCheckState(0, state);
    page.treeItemClick(row, 0);       // the click on the shown row applies the new state
}

void TickTableRow(CResultPage& page, int row, Qt::CheckState state) {
    page.Table()->item(row, 0)->setCheckState(state);
    page.tableItemPress(row, 0);
}
} // namespace

class ResultPageTest : public QObject {
    Q_OBJECT
private slots:
    void groupsByCategoryAndExtension() {
        struct Case {
            std::vector<__SEARCH_FILE_INFO__> hits;
            QStringList rows;
        } const cases[] = {
            {{MakeHit("a.JPG", 1, 10), MakeHit("b.jpg", 2, 20), MakeHit("c.mp3", 3, 30)},
             {"Photo(2)", " jpg Files (2)", "Music(1)", " mp3 Files (1)"}},
            {{MakeHit("readme", 1, 1), MakeHit("x.c", 2, 1), MakeHit("", 3, 1), MakeHit("data.bin", 4, 1)},
             {"Other(3)", " bin Files (1)", " c Files (1)", " unknown Files (1)"}},
            // The document list is matched before the second archive list.
            {{MakeHit("report.doc", 1, 1), MakeHit("notes.rtf", 2, 1), MakeHit("clip.MP4", 3, 1)},
             {"Office(1)", " doc Files (1)", "Video(1)", " mp4 Files (1)", "Archive(1)", " rtf Files (1)"}},
            {{MakeHit("backup.tar gz", 1, 5), MakeHit("t.tar", 2, 6)}, {"Archive(1)", " tar Files (1)", "Other(1)", " tar gz Files (1)"}},
            {{}, {}},
        };
        for (const Case& c : cases) {
            ResultFakeHost host;
            CResultPage page(&host);
            page.SetResults(c.hits);
            QCOMPARE(Rows(page.Tree()), c.rows);
            QVERIFY(!page.RecoverButton()->isEnabled());
        }
        ResultFakeHost host;
        CResultPage page(&host);
        page.SetResults(cases[3].hits);
        page.Tree()->setCurrentItem(Row(page, "tar gz Files (1)")); // an extension with a blank finds its records
        QCOMPARE(page.Table()->rowCount(), 1);
        QCOMPARE(page.Table()->item(0, 0)->text(), QString("backup.tar gz"));
        page.btnRecovery(); // nothing ticked: no save is asked for
        QVERIFY(host.engine.savedTargets.empty());
    }

    void tickingCategoriesExtensionsAndRows() {
        ResultFakeHost host;
        CResultPage page(&host);
        page.SetResults({MakeHit("a.JPG", 1, 1000), MakeHit("b.jpg", 2, 1048), MakeHit("p.png", 3, 24), MakeHit("c.mp3", 4, 30)});
        QTreeWidgetItem* photo = Row(page, "Photo(3)");
        QTreeWidgetItem* jpg = Row(page, "jpg Files (2)");
        TickRow(page, photo, Qt::Checked);
        QCOMPARE(jpg->checkState(0), Qt::Checked);
        QCOMPARE(Row(page, "Music(1)")->checkState(0), Qt::Unchecked);
        QCOMPARE(page.Selection().size(), size_t(3));
        QCOMPARE(page.SelectionLabel()->text(), QString("Select 2.02 KB in 3 files"));
        QVERIFY(page.RecoverButton()->isEnabled());
        page.Tree()->setCurrentItem(jpg); // its rows are shown ticked from the map
        QCOMPARE(page.Table()->item(1, 0)->checkState(), Qt::Checked);

        // Unticking one row makes its parents partial; leaving and coming back keeps it.
        TickTableRow(page, 1, Qt::Unchecked);
        QCOMPARE(jpg->checkState(0), Qt::PartiallyChecked);
        QCOMPARE(photo->checkState(0), Qt::PartiallyChecked);
        QCOMPARE(page.SelectionLabel()->text(), QString("Select 1.00 KB in 2 files"));
        page.Tree()->setCurrentItem(Row(page, "png Files (1)"));
        page.Tree()->setCurrentItem(jpg);
        QCOMPARE(page.Table()->item(0, 0)->checkState(), Qt::Checked);
        QCOMPARE(page.Table()->item(1, 0)->checkState(), Qt::Unchecked);
        TickTableRow(page, 1, Qt::Checked);
        QCOMPARE(photo->checkState(0), Qt::Checked);

        TickRow(page, photo, Qt::Unchecked);
        QCOMPARE(jpg->checkState(0), Qt::Unchecked);
        QVERIFY(page.Selection().empty());
        QVERIFY(!page.RecoverButton()->isEnabled());

        // From the keyboard, in the tree and in the table.
        page.Tree()->setCurrentItem(jpg);
        QTest::keyClick(page.Tree()->viewport(), Qt::Key_Space);
        QCOMPARE(jpg->checkState(0), Qt::Checked);
        QCOMPARE(page.Selection().size(), size_t(2));
        page.Table()->setCurrentCell(1, 0);
        QTest::keyClick(page.Table()->viewport(), Qt::Key_Space);
        QCOMPARE(jpg->checkState(0), Qt::PartiallyChecked);
        QCOMPARE(page.Selection().size(), size_t(1));
        page.Tree()->setCurrentItem(photo);
        QTest::keyClick(page.Tree()->viewport(), Qt::Key_Space);
        QCOMPARE(page.Selection().size(), size_t(3));

        page.SetResults({MakeHit("z.jpg", 1, 7)}); // new results empty the selection
        QVERIFY(page.Selection().empty());
        QVERIFY(!page.RecoverButton()->isEnabled());
    }

    void equalKeysOfDifferentEnginesStayApart() {
        ResultFakeHost host;
        CResultPage page(&host);
        // Record 1 of the quick FAT store and record 1 of the carver's store.
        page.SetResults({MakeHit("a.jpg", 1, 5, FS_TYPE_FAST_FAT), MakeHit("0.jpg", 1, 6, FS_TYPE_FILE_TYPE)});
        TickRow(page, Row(page, "Photo(2)"), Qt::Checked);
        QCOMPARE(page.Selection().size(), size_t(2));
    }

    void previewTextAndPictureSizes() {
        const std::pair<std::vector<unsigned char>, QString> texts[] = {
            {{0x41, 0x00, 0x42, 0x43, 0x0A}, "A.BC\n\r\n"},
            {{}, "\r\n"},
            {{0xD6, 0xD0, 0xCE, 0xC4}, QString::fromUtf8("\xE4\xB8\xAD\xE6\x96\x87\r\n")}, // GB18030 "中文"
            {{'a', 0xFF, 'b', 'c', 0x81}, QString("a") + QChar(0xFFFD) + "bc" + QChar(0xFFFD) + "\r\n"},
        };
        const unsigned char one[] = {0x41};
        for (const auto& t : texts)
            QCOMPARE(WinHexBufData(nullptr, t.first.empty() ? one : t.first.data(), int(t.first.size())), t.second);
        QCOMPARE(WinHexBufData(nullptr, one, -4), QString("\r\n"));
        std::vector<unsigned char> data(512, 'x');
        data[256] = 0;
        QCOMPARE(WinHexBufData(nullptr, data.data(), 512), QString(256, 'x') + "\r\n." + QString(255, 'x') + "\r\n");
        QVERIFY(WinHexBufData(nullptr, data.data(), 300).endsWith("." + QString(43, 'x') + "\r\n"));

        const std::pair<QSize, QSize> sizes[] = {{{1400, 300}, {700, 150}}, {{700, 900}, {700, 900}},
                                                 {{701, 100}, {700, 99}},   {{1000, 1000}, {200, 200}}};
        for (const auto& s : sizes) QCOMPARE(PreviewPictureSize(s.first), s.second);
    }

    void previewFollowsTheCurrentRow() {
        TempDir dir;
        ResultFakeHost host;
        host.engine.contents[1] = {'h', 'e', 'l', 'l', 'o', 0, '!'};
        CResultPage page(&host);
        page.SetResults({MakeHit("notes.txt", 1, 7), MakeHit("other.txt", 2, 3), MakeHit("gone.bmp", 3, 4)});
        page.Tree()->setCurrentItem(Row(page, "txt Files (2)"));
        QCOMPARE(host.previews, 1);
        QCOMPARE(page.PreviewArea()->text(), QString("hello.!\r\n"));
        page.Table()->selectRow(1);
        QCOMPARE(host.previews, 2);
        QCOMPARE(page.PreviewArea()->text(), QString("\r\n"));
        // A picture that never reached the disk leaves the area as it was.
        page.Table()->selectRow(0);
        host.engine.picturePath = dir.file("tmp.bmp");
        page.Tree()->setCurrentItem(Row(page, "bmp Files (1)"));
        QCOMPARE(page.PreviewArea()->text(), QString("hello.!\r\n"));
    }
};

ORVALE_UI_TEST(ResultPageTest);
#include "ResultPageTest.moc"
