// The result page: trees, tri-state ticking, row facts, sorting, filtering and previews.
#include "FakeEngine.h"
#include "UiTest.h"
#include "ui/CResultPage.h"
#include "ui/PreviewFormat.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeWidget>

namespace {
// Visible rows, indented by depth.
QStringList Rows(QTreeWidget* tree) {
    QStringList rows;
    std::function<void(QTreeWidgetItem*, QString)> walk = [&](QTreeWidgetItem* item, QString indent) {
        if (item->isHidden()) return;
        rows << indent + item->text(0);
        for (int j = 0; j < item->childCount(); ++j) walk(item->child(j), indent + " ");
    };
    for (int i = 0; i < tree->topLevelItemCount(); ++i) walk(tree->topLevelItem(i), "");
    return rows;
}

QStringList Names(QTableWidget* table) {
    QStringList cells;
    for (int r = 0; r < table->rowCount(); ++r) cells << table->item(r, CResultPage::COL_NAME)->text();
    return cells;
}

__SEARCH_FILE_INFO__ Hit(const char* name, uint32_t index, uint64_t size, uint32_t fsType, uint64_t start = 0,
                         uint32_t reserved = 0, uint32_t health = 1, uint64_t modified = 0) {
    __SEARCH_FILE_INFO__ hit = MakeHit(name, index, size, fsType);
    hit.u64PartitionStartSector = start, hit.nReserved = reserved, hit.bIsHealth = health, hit.u64ModifyTime = modified;
    return hit;
}
} // namespace

class ResultPageTest : public QObject {
    Q_OBJECT
private slots:
    void groupsByCategoryAndExtension() {
        struct Case { std::vector<__SEARCH_FILE_INFO__> hits; QStringList rows; } const cases[] = {
            {{MakeHit("readme", 1, 1), MakeHit("x.c", 2, 1), MakeHit("", 3, 1), MakeHit("data.bin", 4, 1)},
             {"Other(3)", " bin Files (1)", " c Files (1)", " unknown Files (1)"}},
            // The document list is matched before the second archive list; the first page's names.
            {{MakeHit("report.doc", 1, 1), MakeHit("notes.rtf", 2, 1), MakeHit("clip.MP4", 3, 1)},
             {"Document(1)", " doc Files (1)", "Video(1)", " mp4 Files (1)", "Archive(1)", " rtf Files (1)"}},
            {{MakeHit("backup.tar gz", 1, 5), MakeHit("t.tar", 2, 6)}, {"Archive(1)", " tar Files (1)", "Other(1)", " tar gz Files (1)"}},
            {{}, {}},
        };
        ResultFakeHost host;
        CResultPage page(&host);
        for (const Case& c : cases) {
            page.SetResults(c.hits);
            QVERIFY(Rows(page.Tree()) == c.rows && !page.RecoverButton()->isEnabled());
        }
    }

    void rowFacts() {
        const uint64_t tick = 10000000ull, epoch = 116444736000000000ull;
        const std::pair<uint64_t, qint64> times[] = {{0, -1}, {1700000000, 1700000000}, {epoch + 1700000000 * tick, 1700000000}, {epoch - tick, -1}};
        for (const auto& t : times) QCOMPARE(RecordTimeSeconds(t.first), t.second);
        struct Case { __SEARCH_FILE_INFO__ hit; QString folderOf, folder, volume, source; bool deleted; } const cases[] = {
            {Hit("a.jpg", 1, 1, FS_TYPE_FAST_FAT, 4096), "Photos/", "Photos", "File system", "File system", true},
            {Hit("b.jpg", 2, 1, FS_TYPE_PRO_FAT, 2048), "Docs/A/", "Docs/A", "File system", "File system", true}, // free space
            {Hit("d.jpg", 3, 1, FS_TYPE_PRO_FAT, 4096), "Old/!gone/", "Old/!gone", "Lost FAT volume, sector 4096", "Lost volume", true},
            {Hit("e.doc", 4, 1, FS_TYPE_PRO_NTFS, 90000, 1), "LostFolder7/", "LostFolder7", "Lost NTFS volume, sector 90000", "Lost volume", false},
            {Hit("7.jpg", 5, 1, FS_TYPE_FILE_TYPE, 0), "ignored/", "", "Found by content", "Carved", true},
        };
        std::vector<__SEARCH_FILE_INFO__> hits;
        for (const Case& c : cases) hits.push_back(c.hit);
        const auto folderOf = [&](const _FILE_NODE_& n) { return cases[n.nFileIndex - 1].folderOf; };
        const auto rows = BuildResultRows(hits, folderOf, true, 2048);
        QCOMPARE(rows.size(), std::size(cases));
        for (size_t i = 0; i < rows.size(); ++i)
            QVERIFY2(rows[i].folder == cases[i].folder && rows[i].volume == cases[i].volume &&
                         SourceText(rows[i].source) == cases[i].source && rows[i].deleted == cases[i].deleted,
                     qPrintable(QString::number(i)));
        // A whole disk has no file system of its own: every deep volume is a lost one, with live files.
        const RESULT_ROW wholeDisk = BuildResultRows(hits, folderOf, false, 2048)[1];
        QVERIFY(wholeDisk.source == SOURCE_LOST_VOLUME && !wholeDisk.deleted);
        // Which of Photo1.jpg, photos.png (live), x.jpg (damaged) and notes.txt pass.
        const std::pair<CResultFilter, QString> filters[] = {
            {CResultFilter("*.JPG"), "ac"}, {CResultFilter("photo"), "ab"}, {CResultFilter("p?o*[0-9].jpg"), "a"},
            {CResultFilter("", true, true), "ad"}, {CResultFilter("["), ""},
        };
        RESULT_ROW r[4];
        r[0].name = "Photo1.jpg", r[1].name = "photos.png", r[2].name = "x.jpg", r[3].name = "notes.txt";
        r[1].deleted = false, r[2].healthy = false;
        for (const auto& f : filters) {
            QString passes;
            for (int i = 0; i < 4; ++i) passes += f.first.Accepts(r[i]) ? QString(QChar('a' + i)) : QString();
            QCOMPARE(passes, f.second);
        }
    }

    void tickingCategoriesExtensionsAndRows() {
        ResultFakeHost host;
        CResultPage page(&host);
        page.SetResults({MakeHit("a.JPG", 1, 1000), MakeHit("b.jpg", 2, 1048), MakeHit("p.png", 3, 24), MakeHit("c.mp3", 4, 30)});
        QTreeWidgetItem *photo = Row(page.Tree(), "Photo(3)"), *jpg = Row(page.Tree(), "jpg Files (2)");
        photo->setCheckState(0, Qt::Checked);
        QVERIFY(jpg->checkState(0) == Qt::Checked && Row(page.Tree(), "Music(1)")->checkState(0) == Qt::Unchecked);
        QCOMPARE(Row(page.FolderTree(), "File system (4)")->checkState(0), Qt::PartiallyChecked);
        QCOMPARE(page.SelectionLabel()->text(), QString("Select 2.02 KB in 3 files"));
        page.Tree()->setCurrentItem(jpg); // its rows are shown ticked from the map
        QVERIFY(page.RecoverButton()->isEnabled() && page.Table()->item(1, 0)->checkState() == Qt::Checked);
        // Unticking one row makes its parents partial.
        page.Table()->item(1, 0)->setCheckState(Qt::Unchecked);
        QVERIFY(jpg->checkState(0) == Qt::PartiallyChecked && photo->checkState(0) == Qt::PartiallyChecked);
        QCOMPARE(page.SelectionLabel()->text(), QString("Select 1.00 KB in 2 files"));
        // From the keyboard, in the tree: partial becomes ticked.
        page.Tree()->setCurrentItem(photo);
        QTest::keyClick(page.Tree()->viewport(), Qt::Key_Space);
        QCOMPARE(page.Selection().size(), size_t(3));
        QTest::keyClick(page.Tree()->viewport(), Qt::Key_Space);
        QVERIFY(page.Selection().empty() && !page.RecoverButton()->isEnabled());
        // A tick under a filter covers what is shown; equal keys of two engines stay apart.
        page.SetResults({MakeHit("a.jpg", 1, 5, FS_TYPE_FAST_FAT), MakeHit("0.jpg", 1, 6, FS_TYPE_FILE_TYPE), MakeHit("b.jpg", 2, 7)});
        QVERIFY(page.Selection().empty()); // new results, nothing ticked
        page.FilterBox()->setText("?.jpg");
        Row(page.Tree(), "Photo(3)")->setCheckState(0, Qt::Checked);
        QCOMPARE(page.Selection().size(), size_t(3));
        page.FilterBox()->setText("a");
        QCOMPARE(page.SelectionLabel()->text(), QString("Select 18 Bytes in 3 files, 2 hidden by the filter"));
        Row(page.Tree(), "Photo(1)")->setCheckState(0, Qt::Unchecked);
        page.FilterBox()->clear();
        QVERIFY(Row(page.Tree(), "Photo(3)")->checkState(0) == Qt::PartiallyChecked && page.Selection().size() == 2);
    }

    void sortingAndFilters() {
        ResultFakeHost host;
        CResultPage page(&host);
        // Sizes and dates sort as numbers, in both directions; undated files first.
        page.SetResults({Hit("beach.jpg", 1, 10, FS_TYPE_FAST_FAT, 0, 0, 1, 1700000000), Hit("big.jpg", 2, 100, FS_TYPE_FAST_FAT, 0, 0, 1, 0),
                         Hit("board.jpg", 3, 9, FS_TYPE_FAST_FAT, 0, 0, 0, 1600000000)});
        page.Tree()->setCurrentItem(Row(page.Tree(), "Photo(3)"));
        const struct { int column; Qt::SortOrder order; QStringList names; } sorts[] = {
            {CResultPage::COL_SIZE, Qt::AscendingOrder, {"board.jpg", "beach.jpg", "big.jpg"}}, {CResultPage::COL_SIZE, Qt::DescendingOrder, {"big.jpg", "beach.jpg", "board.jpg"}},
            {CResultPage::COL_MODIFIED, Qt::AscendingOrder, {"big.jpg", "board.jpg", "beach.jpg"}}, {CResultPage::COL_NAME, Qt::DescendingOrder, {"board.jpg", "big.jpg", "beach.jpg"}}};
        for (const auto& s : sorts) {
            page.Table()->horizontalHeader()->setSortIndicator(s.column, s.order);
            QCOMPARE(Names(page.Table()), s.names);
        }
        // The filter changes what is listed and counted; the previewed row stays chosen while listed.
        QCOMPARE(page.ShownLabel()->text(), QString("3 of 3 files, 119 Bytes"));
        page.Table()->selectRow(1);
        const int previews = host.previews;
        page.HealthyOnlyBox()->setChecked(true);
        QCOMPARE(Rows(page.Tree()) << page.ShownLabel()->text(), QStringList({"Photo(2)", " jpg Files (2)", "2 of 3 files, 110 Bytes"}));
        QCOMPARE(Names(page.Table()), QStringList({"big.jpg", "beach.jpg"}));
        QVERIFY(page.Table()->selectedItems().first()->text() == "big.jpg" && host.previews == previews);
        page.FilterBox()->setText("zzz");
        QVERIFY(Rows(page.Tree()).isEmpty() && page.Table()->rowCount() == 0 && page.PreviewText()->toPlainText().isEmpty());
        QCOMPARE(page.ShownLabel()->text(), QString("0 of 3 files, 0 Bytes"));
    }

    void previewForms() {
        const struct { QByteArray bytes; bool text; QString shown; } cases[] = {
            // A character cut by the buffer's end; GB18030 text; one control byte in a hundred passes, two do not.
            {"one\r\ntwo\nthree\rfour", true, "one\ntwo\nthree\nfour"}, {"caf\xC3\xA9 \xE4\xB8", true, QString::fromUtf8("caf\xC3\xA9 ")},
            {"\xD6\xD0\xCE\xC4", true, QString::fromUtf8("\xE4\xB8\xAD\xE6\x96\x87")}, {QByteArray("A\0B", 3), false, ""},
            {QByteArray(98, 'x') + "\x01\x02", false, ""}, {QByteArray(99, 'x') + "\x01", true, QString(99, 'x') + QChar(1)}, {"", false, ""}};
        for (const auto& c : cases) {
            const auto* data = reinterpret_cast<const unsigned char*>(c.bytes.constData());
            QCOMPARE(LooksLikeText(data, int(c.bytes.size())), c.text);
            if (c.text) QCOMPARE(PreviewText(data, int(c.bytes.size())), c.shown);
        }
        const unsigned char bytes[18] = {'P', 'K', 3, 4, 0, 0x7F, 0xFF, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k'};
        QCOMPARE(HexDump(bytes, 18), QString("00000000  50 4b 03 04 00 7f ff 61  62 63 64 65 66 67 68 69  |PK.....abcdefghi|\n"
                                             "00000010  6a 6b" + QString(45, ' ') + "|jk|\n"));
        const std::pair<QSize, QSize> sizes[] = {{{1400, 300}, {700, 150}}, {{600, 150}, {600, 150}}, {{1000, 1000}, {200, 200}}};
        for (const auto& s : sizes) QCOMPARE(PreviewPictureSize(s.first, QSize(700, 200)), s.second);
    }

    // Clearing the selection clears the preview; a picture that never reached the disk says so.
    void previewFollowsTheSelectedRow() {
        ResultFakeHost host;
        host.engine.contents[1] = {'M', 'Z', 0, 1};
        CResultPage page(&host);
        page.SetResults({MakeHit("tool.exe", 1, 4), MakeHit("gone.bmp", 2, 4)});
        page.Tree()->setCurrentItem(Row(page.Tree(), "exe Files (1)"));
        QVERIFY(page.PreviewText()->toPlainText().startsWith("00000000  4d 5a 00 01"));
        page.Table()->clearSelection();
        QCOMPARE(page.PreviewText()->toPlainText(), QString());
        host.engine.picturePath = "/nonexistent/tmp.bmp";
        page.Tree()->setCurrentItem(Row(page.Tree(), "bmp Files (1)"));
        QVERIFY(page.PreviewText()->toPlainText().contains("cannot be shown") && host.previews == 2);
    }
};

ORVALE_UI_TEST(ResultPageTest);
#include "ResultPageTest.moc"
