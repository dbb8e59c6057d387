// The window's recovery on a real FAT image with nested deleted folders: with
// "Keep folder structure" the tree comes back below the category folders byte
// for byte, without it the category folders alone; a report lists every file;
// the detail dialog opens the destination.
#include "fixtures/FatImageBuilder.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "engine/CFileRecoveryFactory.h"
#include "engine/FileCategories.h"
#include "platform/TextCodec.h"
#include "ui/CDetail.h"
#include "ui/CRecoveryProcess.h"
#include "ui/ResultSelection.h"

#include <QPushButton>
#include <QtTest>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

class RecoveryTreeWindowTest : public QObject {
    Q_OBJECT
private slots:
    void keepFolderStructureChoosesTheLayout() {
        if (!HaveTool("mkfs.vfat") || !HaveTool("mdeltree")) QSKIP("SKIPPED: mkfs.vfat and mtools are needed (scripts/setup.sh)");
        TempDir dir("ui-tree");
        QVERIFY(::mkdir(dir.file("disks").c_str(), 0755) == 0);
        FatImageBuilder img(dir.file("disks/disk0"), 16, 16384, 4);
        QVERIFY(img.ok());
        for (const char* d : {"/Music", "/Music/Live 1999", "/Music/Live 1999/Encore"}) QVERIFY(img.MakeDir(d));
        const std::vector<uint8_t> a(4000, 'a'), b(9000, 'b');
        QVERIFY(img.PutFile("/Music/Live 1999/opening notes.txt", a));
        QVERIFY(img.PutFile("/Music/Live 1999/Encore/encore notes.txt", b));
        QVERIFY(img.DeleteTree("/Music"));
        ScopedEnv disks("ORVALE_DISK_DIR", dir.file("disks"));
        ScopedEnv support("ORVALE_SUPPORT_DIR", dir.file("support"));
        inner_initUnicodeMap("UTF-8");

        std::unique_ptr<IFileRecoveryParse> engine(CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
            0, 0, static_cast<long long>(16384 * 2), L'C', RECOVERY_TYPE_FAST));
        QVERIFY(engine);
        QCOMPARE(engine->ScanDevice(nullptr), 0);
        std::wstring key = BuildSearchKey(CATEGORY_ALL);
        std::vector<__SEARCH_FILE_INFO__> hits;
        engine->SearchFileNode(key.data(), hits);
        SelectionMap selection;
        for (const auto& hit : hits) selection[GetSelectionKey(hit)] = hit;
        QCOMPARE(selection.size(), size_t(2));

        struct Case {
            bool keepTree;
            const char* first;
            const char* second;
        } const cases[] = {
            {true, "document/Music/Live 1999/opening notes.txt", "document/Music/Live 1999/Encore/encore notes.txt"},
            {false, "document/opening notes.txt", "document/encore notes.txt"},
        };
        for (const Case& c : cases) {
            const std::string out = dir.file(c.keepTree ? "tree" : "flat");
            CRecoveryProcess recovery(selection, QString::fromStdString(out), c.keepTree);
            QCOMPARE(recovery.Run(engine.get(), nullptr, nullptr), 0);
            QCOMPARE(ReadFileBytes(out + "/" + c.first), a);
            QCOMPARE(ReadFileBytes(out + "/" + c.second), b);
            QCOMPARE(recovery.ReportPath(), QString::fromStdString(out + "/orvale-report.csv"));
            std::vector<uint8_t> bytes = ReadFileBytes(out + "/orvale-report.csv");
            const QString report = QString::fromUtf8(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
            QCOMPARE(report.count('\n'), 3);
            for (const char* saved : {c.first, c.second}) {
                const QString name = QString(saved).section('/', -1);
                QVERIFY2(report.contains("/" + name + "," + saved + ","), qPrintable(report));
            }
            QVERIFY2(report.contains("/Music/Live 1999/Encore/encore notes.txt,"), qPrintable(report));
            QCOMPARE(report.count(",quick-fat,"), 2);
            QCOMPARE(report.count(",saved\n"), 2);
        }
    }

    void detailOpensTheDestinationFolder() {
        CDetail detail;
        QVERIFY(detail.OpenFolderButton()->isHidden());
        QUrl opened;
        detail.SetUrlOpener([&](const QUrl& url) {
            opened = url;
            return true;
        });
        detail.SetFolder("/tmp/rescued files");
        QVERIFY(!detail.OpenFolderButton()->isHidden());
        QTest::mouseClick(detail.OpenFolderButton(), Qt::LeftButton);
        QCOMPARE(opened, QUrl::fromLocalFile("/tmp/rescued files"));
    }
};

QTEST_MAIN(RecoveryTreeWindowTest)
#include "RecoveryTreeWindowTest.moc"
