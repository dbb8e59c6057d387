// Recovery of the ticked files: category folders, the path limit, the user's stop.
#include "FakeEngine.h"
#include "UiTest.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "ui/CDetail.h"
#include "ui/CRecoveryProcess.h"
#include "ui/CResultPage.h"

#include <QDir>
#include <QPushButton>
#include <QTreeWidget>
#include <cerrno>

namespace {
SelectionMap Select(const std::vector<__SEARCH_FILE_INFO__>& hits) {
    SelectionMap map;
    for (const auto& hit : hits) map[GetSelectionKey(hit)] = hit;
    return map;
}

QString Q(const std::string& s) { return QString::fromStdString(s); }
} // namespace

class ResultRecoveryTest : public QObject {
    Q_OBJECT
private slots:
    void categoryFoldersAndTheUsersStop() {
        TempDir dir;
        ResultFakeHost host;
        // short.jpg ends before its size: it must not look recovered.
        host.engine.contents = {{1, {1, 2, 3}}, {2, {4, 5}}, {3, {6}}, {4, {7, 8}}};
        CRecoveryProcess recovery(Select({MakeHit("data.bin", 1, 3), MakeHit("notes.rtf", 2, 2), MakeHit("x.c", 3, 1), MakeHit("short.jpg", 4, 10)}), Q(dir.path()));
        recovery.Run(&host.engine, &ResultFakeHost::OnRecovery, &host);
        QCOMPARE(recovery.Saved(), 3);
        for (auto [path, index] : {std::pair{"others/data.bin", 1}, {"archive/notes.rtf", 2}, {"others/x.c", 3}})
            QVERIFY2(ReadFileBytes(dir.file(path)) == host.engine.contents[index], path);
        QVERIFY(QDir(Q(dir.file("photo"))).entryList(QDir::Files | QDir::Hidden).isEmpty());
        for (const auto& report : host.reports) QVERIFY(report.name.find(L".orvale-") == std::wstring::npos);
        host.engine.savedTargets.clear(), host.engine.stopAfter = 1;
        CRecoveryProcess stopped(Select({MakeHit("a.jpg", 1, 0), MakeHit("b.jpg", 2, 0), MakeHit("c.jpg", 3, 0)}), Q(dir.path()));
        QVERIFY(stopped.Run(&host.engine, &ResultFakeHost::OnRecovery, &host) == RECOVERY_STOPPED && host.engine.savedTargets.size() == 2);
    }

    // Targets past the 512-byte path limit fail with a reason and never reach the engine;
    // a free name that would pass it is not cut to fit over an existing file.
    void pathLimit() {
        TempDir dir;
        ResultFakeHost host;
        host.engine.contents = {{1, {1}}, {2, {2}}, {3, {3}}};
        // A destination about 400 bytes long, so that names of at most 255 bytes reach the limit.
        const std::string deep = dir.path() + "/" + std::string(190, 'd') + "/" + std::string(400 - dir.path().size() - 192, 'e');
        QDir().mkpath(Q(deep));
        const std::string tooLong = std::string(512 - deep.size() - 7 - 4, 'n') + ".jpg"; // deep/photo/name: 512 bytes
        const std::string fits = std::string(511 - deep.size() - 7 - 4, 'm') + ".jpg";
        CRecoveryProcess first(Select({MakeHit(tooLong.c_str(), 1, 1), MakeHit("ok.jpg", 2, 1)}), Q(deep));
        first.Run(&host.engine, &ResultFakeHost::OnRecovery, &host);
        QVERIFY(first.Rejected() == 1 && host.engine.savedTargets.size() == 1 && ReadFileBytes(deep + "/photo/ok.jpg") == host.engine.contents[2]);
        QVERIFY(host.reports.front().nProgress == 100 && host.reports.front().nErrorCode == ENAMETOOLONG &&
                host.reports.front().name.find(L"nnnn.jpg") != std::wstring::npos);
        for (int run = 0; run < 2; ++run) {
            host.reports.clear();
            CRecoveryProcess recovery(Select({MakeHit(fits.c_str(), 3, 1)}), Q(deep));
            recovery.Run(&host.engine, &ResultFakeHost::OnRecovery, &host);
            QVERIFY(recovery.Saved() == 1 - run && host.reports.front().nErrorCode == (run ? ENAMETOOLONG : 0)); // "(1)" would not fit
        }
        QCOMPARE(host.engine.savedTargets.size(), size_t(2));
    }

    void cancelledFolderQuestionSavesNothing() {
        ResultFakeHost host;
        CResultPage page(&host);
        page.SetDirectoryChooser([]() { return QString(); });
        page.SetResults({MakeHit("a.jpg", 1, 3000)});
        Row(page.Tree(), "Photo(1)")->setCheckState(0, Qt::Checked);
        page.RecoverButton()->click();
        QVERIFY(host.engine.savedTargets.empty());
    }

    // The dialog's last word: the count, and the first failure (failures come first).
    void outcomeText() {
        const struct { std::vector<int> errors; int total; QStringList lines; } cases[] = { // errors per file, in report order
            {{0, 0}, 2, {"Recovered 2 of 2 files"}},
            {{0, EACCES, 0, ENOSPC}, 4, {"Recovered 2 of 4 files", "2 failed, the first: d.jpg (" + QString::fromLocal8Bit(std::strerror(ENOSPC)) + ")", "Detail lists every failure first."}},
            {{1}, 3, {"Recovered 0 of 3 files", "1 failed, the first: a.jpg", "Detail lists every failure first.", "Stopped before the other 2."}},
        };
        for (const auto& c : cases) {
            CDetail detail;
            for (size_t i = 0; i < c.errors.size(); ++i) detail.AddTableItem(QString("/d/photo/%1.jpg").arg(QChar('a' + int(i))), c.errors[i]);
            QStringList lines = detail.OutcomeText(c.total).split('\n');
            for (QString& line : lines) line = line.trimmed();
            QCOMPARE(lines, c.lines);
        }
    }
};

ORVALE_UI_TEST(ResultRecoveryTest);
#include "ResultRecoveryTest.moc"
