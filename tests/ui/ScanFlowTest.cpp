// Scan and search through the window's real workers and dialogs with a scripted engine; keys and closing.
#include "FakeEngine.h"
#include "UiTest.h"
#include "engine/CLogFileManager.h"
#include "engine/FileCategories.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "ui/CMessageBox.h"
#include "ui/DRUI.h"
#include "ui/SCANUI.h"

#include <QCheckBox>
#include <QPushButton>
#include <QStackedLayout>
#include <QTreeWidget>
#include <unistd.h>

class ScanFlowTest : public QObject {
    Q_OBJECT
    TempDir m_dir{"ui-scanflow"};
    std::string m_disks = m_dir.path() + "/disks";

    // A window on the media page with its tree built from the image disks.
    void OpenWindow(DRUI& w) {
        w.Init();
        w.btnSlot();
        QVERIFY(w.GetDiskTree()->currentItem());
    }

private slots:
    void initTestCase() {
        setenv("ORVALE_DISK_DIR", m_disks.c_str(), 1);
        setenv("ORVALE_SUPPORT_DIR", (m_dir.path() + "/support").c_str(), 1);
        QCOMPARE(RunCommand("mkdir -p '" + m_disks + "' && truncate -s 4M '" + m_disks + "/disk0'"), 0);
    }

    void scanThenSearchEndOnTheResultPage() {
        DRUI w;
        OpenWindow(w);
        w.GetCategoryBox(1)->setChecked(false); // Music
        std::atomic<int> alive{0};
        FakeEngine* engine = nullptr;
        _PARTITION_ITEM_ asked{};
        w.SetEngineMaker([&](const _PARTITION_ITEM_& item) {
            asked = item;
            return engine = new FakeEngine({"a.jpg", "b.mp3", "c.doc", "d.zip"}, &alive);
        });
        int questions = 0;
        ModalDriver driver([&](QWidget* widget) { questions += qobject_cast<CMessageBox*>(widget) != nullptr; });
        w.btnSlotScan();
        QVERIFY(questions == 0 && asked.u64EndSector == (4ull << 20) / 512 - 1); // both dialogs closed themselves
        QVERIFY(engine && w.GetEngine() == engine && engine->m_lastKey == BuildSearchKey(CATEGORY_ALL & ~CATEGORY_MUSIC));
        QVERIFY(w.GetSearchResults().size() == 3 && w.GetStackedLayout()->currentIndex() == DRUI::PAGE_RESULT && w.GetScanError().isEmpty());
        // A second scan replaces engine and page; Back ends the engine.
        QPointer<QWidget> first = w.GetResultPage();
        w.btnSlotScan();
        QVERIFY(alive == 1 && first.isNull() && w.GetResultPage() && w.GetStackedLayout()->count() == 3);
        w.btnSlotBack();
        QVERIFY(w.GetStackedLayout()->currentIndex() == DRUI::PAGE_MEDIA && alive.load() == 0 && !w.GetEngine());
    }

    void failuresAreNoticedOnceWithTheirReason() {
        QCOMPARE(RunCommand("truncate -s 1M '" + m_disks + "/disk5'"), 0);
        // What goes wrong, the engine (null: the real engines), the notice's start and a part of it, the results shown.
        struct Case { const char* what; std::function<IFileRecoveryParse*()> make; QString start, contains; size_t results; } const cases[] = {
            {"no engine", [] { return nullptr; }, "The partition could not be opened", "no recovery engine", 0},
            {"engine error", [] { auto* e = new FakeEngine({"a.jpg"}); return e->m_nScanResult = 30, e; }, "The scan ended early", "", 1},
            {"area scanned elsewhere", [] { return new FakeEngine({"a.jpg"}); }, "This area is being scanned by another", "", 0},
            {"vanished device", nullptr, "", QString::fromLocal8Bit(strerror(ENOENT)), 0},
        };
        for (const Case& c : cases) {
            DRUI w;
            OpenWindow(w); // the preselected row is the whole of disk 5
            CScanAreaLock other;
            if (c.start.startsWith("This area")) QCOMPARE(other.Acquire(m_disks + "/disk5", 1 << 20, 0, 2048), 0);
            if (c.make) w.SetEngineMaker([&](const _PARTITION_ITEM_&) { return c.make(); });
            else QVERIFY(::unlink((m_disks + "/disk5").c_str()) == 0);
            QStringList notices;
            ModalDriver driver([&](QWidget* widget) { if (auto* box = qobject_cast<CMessageBox*>(widget)) notices << box->Text(), box->btnSlotOK(); });
            w.btnSlotScan();
            QVERIFY2(notices.size() == 1 && notices[0].startsWith(c.start) && notices[0].contains(c.contains), qPrintable(c.what + (": " + notices.join('|'))));
            QCOMPARE(w.GetSearchResults().size(), c.results); // what was found is still shown
        }
    }

    // Keys move between pages and never out of the window; a right-button press does nothing; leaving results asks first.
    void keysRightButtonAndClosing() {
        DRUI w;
        OpenWindow(w);
        w.btnSlotBack(), w.SetEngineMaker([](const _PARTITION_ITEM_&) { return new FakeEngine({"a.jpg"}); });
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        bool yes = false;
        int questions = 0;
        ModalDriver driver([&](QWidget* widget) {
            auto* box = qobject_cast<CMessageBox*>(widget);
            if (box && ++questions && yes) QTest::keyClick(box, Qt::Key_Return);
            else if (box) QTest::mouseClick(box, Qt::RightButton);
        });
        const auto key = [&](Qt::Key k) { return [&w, k] { QTest::keyClick(&w, k); }; };
        const std::function<void()> rightClick = [&] { QTest::mouseClick(w.centralWidget(), Qt::RightButton, {}, QPoint(500, 640)); }, close = [&] { w.close(); };
        struct Step { std::function<void()> act; bool yes; int page, questions; bool visible; } const steps[] = {
            {key(Qt::Key_Escape), false, DRUI::PAGE_FILE_TYPE, 0, true}, {key(Qt::Key_Return), false, DRUI::PAGE_MEDIA, 0, true},
            {key(Qt::Key_Escape), false, DRUI::PAGE_FILE_TYPE, 0, true}, {key(Qt::Key_Enter), false, DRUI::PAGE_MEDIA, 0, true},
            {key(Qt::Key_Return), false, DRUI::PAGE_RESULT, 0, true}, // scans the selected area
            {rightClick, false, DRUI::PAGE_RESULT, 0, true},          {close, false, DRUI::PAGE_RESULT, 1, true},
            {key(Qt::Key_Escape), true, DRUI::PAGE_MEDIA, 2, true},   {key(Qt::Key_Return), false, DRUI::PAGE_RESULT, 2, true},
            {close, true, DRUI::PAGE_RESULT, 3, false},
        };
        for (const Step& step : steps) {
            yes = step.yes;
            step.act();
            QVERIFY2(w.GetStackedLayout()->currentIndex() == step.page && questions == step.questions && w.isVisible() == step.visible,
                     qPrintable(QString("step %1").arg(&step - steps)));
        }
    }

    // Every worker's callback asks its engine to stop once the user cancelled.
    void callbacksFollowTheCancelFlags() {
        DRUI w;
        w.Init();
        wchar_t name[] = L"n";
        for (bool cancelled : {false, true}) {
            w.m_bScanCancel = w.m_bRecoveryCancel = w.m_bSearchCancel = w.m_bPreviewCancel = cancelled;
            QVERIFY(DRUI::ScanCallBack(&w, 1, 100, 0, 0, 0, 0, name) == int(cancelled) && DRUI::SearchCallBack(&w, 1, name) == int(cancelled));
            QVERIFY(DRUI::RecoveryCallBack(&w, 1, 100, 0, name) == (cancelled ? RECOVERY_STOPPED : 0) && DRUI::PreViewCallBack(&w, 1, 0) == int(cancelled));
        }
    }
};

ORVALE_UI_TEST(ScanFlowTest);
#include "ScanFlowTest.moc"
