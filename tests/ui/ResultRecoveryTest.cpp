// Recovery of the ticked files: category folders, names that overwrite nothing,
// the path limit, the user's stop and the final report.
#include "ResultFakeEngine.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "ui/CRecoveryProcess.h"
#include "ui/CResultPage.h"

#include <QDir>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>
#include <cerrno>

namespace {
SelectionMap Select(const std::vector<__SEARCH_FILE_INFO__>& hits) {
    SelectionMap map;
    for (const auto& hit : hits) map[GetSelectionKey(hit)] = hit;
    return map;
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

// A destination about 400 bytes long, so that names of at most 255 bytes reach the limit.
std::string DeepFolder(const TempDir& dir) {
    std::string path = dir.path() + "/" + std::string(190, 'd') + "/" + std::string(400 - dir.path().size() - 192, 'e');
    QDir().mkpath(Q(path));
    return path;
}
} // namespace

class ResultRecoveryTest : public QObject {
    Q_OBJECT
private slots:
    void twiceIntoTheSameFolderMakesNewNames();
    void filesGoToTheirCategoryFolders();
    void tooLongTargetsFailWithAReason();
    void freeNamePastTheLimitFails();
    void userStopEndsTheLoop();
    void tickedCategoryRecoveredThroughThePage();
};

void ResultRecoveryTest::twiceIntoTheSameFolderMakesNewNames() {
    TempDir dir;
    ResultFakeHost host;
    host.engine.contents[1] = RandomBytes(5000, 1);
    const SelectionMap selection = Select({MakeHit("a.jpg", 1, 5000, 7)});
    for (int run = 0; run < 2; ++run) {
        CRecoveryProcess recovery(selection, Q(dir.path()));
        QCOMPARE(recovery.Run(&host.engine, &ResultFakeHost::OnRecovery, &host), 0);
    }
    const std::string expected = Sha256Hex(host.engine.contents[1]);
    QCOMPARE(Sha256File(dir.file("photo/a.jpg")), expected);
    QCOMPARE(Sha256File(dir.file("photo/a(1).jpg")), expected);
    QVERIFY(!FileExists(dir.file("photo/a(2).jpg")));
    // Per run: the engine's report of the file, then the final report.
    QCOMPARE(host.reports.size(), size_t(4));
    QCOMPARE(host.reports[1].nPercent, 1000);
    QCOMPARE(host.reports[1].nErrorCode, 0);
    QCOMPARE(host.reports[3].nProgress, 100);
}

void ResultRecoveryTest::filesGoToTheirCategoryFolders() {
    TempDir dir;
    ResultFakeHost host;
    host.engine.contents[1] = {1, 2, 3};
    host.engine.contents[2] = {4, 5};
    host.engine.contents[3] = {6};
    CRecoveryProcess recovery(Select({MakeHit("data.bin", 1, 3), MakeHit("notes.rtf", 2, 2), MakeHit("x.c", 3, 1)}),
                              Q(dir.path()));
    recovery.Run(&host.engine, &ResultFakeHost::OnRecovery, &host);
    QCOMPARE(ReadFileBytes(dir.file("others/data.bin")), host.engine.contents[1]);
    QCOMPARE(ReadFileBytes(dir.file("archive/notes.rtf")), host.engine.contents[2]);
    QCOMPARE(ReadFileBytes(dir.file("x.c")), host.engine.contents[3]);
    QCOMPARE(recovery.Saved(), 3);
}

void ResultRecoveryTest::tooLongTargetsFailWithAReason() {
    TempDir dir;
    ResultFakeHost host;
    host.engine.contents[1] = {1};
    host.engine.contents[2] = {2};
    const std::string deep = DeepFolder(dir);
    // deep + "/photo/" + name reaches 512 bytes exactly.
    const std::string name = std::string(512 - deep.size() - 7 - 4, 'n') + ".jpg";
    CRecoveryProcess recovery(Select({MakeHit(name.c_str(), 1, 1), MakeHit("ok.jpg", 2, 1)}), Q(deep));
    recovery.Run(&host.engine, &ResultFakeHost::OnRecovery, &host);
    QCOMPARE(recovery.Rejected(), 1);
    QCOMPARE(host.engine.savedTargets.size(), size_t(1)); // the long one never reached the engine
    QCOMPARE(ReadFileBytes(deep + "/photo/ok.jpg"), host.engine.contents[2]);
    QCOMPARE(host.reports.front().nProgress, 100);
    QCOMPARE(host.reports.front().nErrorCode, ENAMETOOLONG);
    QVERIFY(host.reports.front().name.find(L"nnnn.jpg") != std::wstring::npos);
}

void ResultRecoveryTest::freeNamePastTheLimitFails() {
    TempDir dir;
    ResultFakeHost host;
    host.engine.contents[1] = {9};
    const std::string deep = DeepFolder(dir);
    const std::string name = std::string(511 - deep.size() - 7 - 4, 'm') + ".jpg"; // 511 bytes
    const SelectionMap selection = Select({MakeHit(name.c_str(), 1, 1)});
    CRecoveryProcess first(selection, Q(deep));
    first.Run(&host.engine, &ResultFakeHost::OnRecovery, &host);
    QCOMPARE(first.Saved(), 1);
    CRecoveryProcess second(selection, Q(deep));
    second.Run(&host.engine, &ResultFakeHost::OnRecovery, &host);
    QCOMPARE(second.Rejected(), 1); // "(1)" would not fit: no cut name overwrites anything
    QCOMPARE(host.engine.savedTargets.size(), size_t(1));
    QCOMPARE(host.reports[2].nErrorCode, ENAMETOOLONG);
}

void ResultRecoveryTest::userStopEndsTheLoop() {
    TempDir dir;
    ResultFakeHost host;
    host.engine.stopAfter = 1;
    CRecoveryProcess recovery(Select({MakeHit("a.jpg", 1, 0), MakeHit("b.jpg", 2, 0), MakeHit("c.jpg", 3, 0)}),
                              Q(dir.path()));
    QCOMPARE(recovery.Run(&host.engine, &ResultFakeHost::OnRecovery, &host), RECOVERY_STOPPED);
    QCOMPARE(host.engine.savedTargets.size(), size_t(2));
}

void ResultRecoveryTest::tickedCategoryRecoveredThroughThePage() {
    TempDir dir;
    ResultFakeHost host;
    host.engine.contents[1] = RandomBytes(3000, 2);
    host.engine.contents[2] = RandomBytes(100, 3);
    host.engine.contents[3] = RandomBytes(10, 4);
    CResultPage page(&host);
    page.SetDirectoryChooser([&]() { return Q(dir.path()); });
    page.SetResults({MakeHit("a.jpg", 1, 3000), MakeHit("b.png", 2, 100), MakeHit("s.mp3", 3, 10)});
    QTreeWidgetItem* photo = page.Tree()->findItems("Photo(2)", Qt::MatchExactly).first();
    page.Tree()->setCurrentItem(photo);
    photo->setCheckState(0, Qt::Checked);
    page.treeItemClick(photo, 0);
    QVERIFY(page.RecoverButton()->isEnabled());
    page.RecoverButton()->click();
    QCOMPARE(page.SaveDir(), Q(dir.path()));
    QCOMPARE(ReadFileBytes(dir.file("photo/a.jpg")), host.engine.contents[1]);
    QCOMPARE(ReadFileBytes(dir.file("photo/b.png")), host.engine.contents[2]);
    QVERIFY(!FileExists(dir.file("audio/s.mp3")));

    // A cancelled folder question saves nothing.
    page.SetDirectoryChooser([]() { return QString(); });
    page.RecoverButton()->click();
    QCOMPARE(host.engine.savedTargets.size(), size_t(2));
}

QTEST_MAIN(ResultRecoveryTest)
#include "ResultRecoveryTest.moc"
