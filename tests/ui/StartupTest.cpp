// Start-up of the two processes: role choice, relaunch, log file, clean-up.
#include "UiTest.h"
#include "fixtures/ScopedEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "ui/AppStartup.h"
#include "ui/DRUI.h"

#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// What body writes to standard error (the file it goes through is left behind).
template <class F> std::string CaptureStderr(const std::string& file, F body) {
    fflush(stderr);
    const int saved = dup(2), fd = open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 2), close(fd);
    body();
    fflush(stderr);
    dup2(saved, 2), close(saved);
    const std::vector<uint8_t> bytes = ReadFileBytes(file);
    return std::string(bytes.begin(), bytes.end());
}
} // namespace

class StartupTest : public QObject {
    Q_OBJECT

private slots:
    void deleteTmpFileRemovesPreviewLeftovers() {
        TempDir dir("ui-tmp");
        const std::pair<const char*, bool> files[] = {{"x.tmp.1", false}, {"tmp.abc", false}, {"abc.tmp", true}, {"plain", true}, {"tmpx", true}};
        for (const auto& f : files) WriteFileBytes(dir.file(f.first), {1, 2, 3});
        QCOMPARE(DeleteTmpFile(dir.path().c_str()), 1);
        for (const auto& f : files) QVERIFY2(FileExists(dir.file(f.first)) == f.second, f.first);
        QCOMPARE(DeleteTmpFile(dir.file("missing").c_str()), 0);
    }

    // As root the program starts itself; without pkexec one line says so; a stand-in pkexec
    // records its arguments (the display and the disk folder kept) and answers with a status.
    void launcherRunsPkexecAndReportsRefusal() {
        QVERIFY((BuildRelaunchCommand("/opt/orvale", true, "/usr/bin/pkexec", "/w") == std::vector<std::string>{"/opt/orvale", "start"}));
        ScopedEnv display("DISPLAY", ":7"), disks("ORVALE_DISK_DIR", "/images");
        TempDir dir("ui-pkexec");
        const std::string fake = dir.file("pkexec"),
                          script = "#!/bin/sh\necho \"$@\" > '" + dir.file("args") + "'\nexit ${FAKE_STATUS:-0}\n";
        WriteFileBytes(fake, std::vector<uint8_t>(script.begin(), script.end()));
        QCOMPARE(chmod(fake.c_str(), 0755), 0);
        std::string err = CaptureStderr(dir.file("err"), [&] { QCOMPARE(RunLauncher("/bin/true", false, ""), 0); });
        QVERIFY2(err.find("pkexec is not installed") != std::string::npos && std::count(err.begin(), err.end(), '\n') == 1, err.c_str());
        QVERIFY(CaptureStderr(dir.file("err"), [&] { QCOMPARE(RunLauncher("/opt/orvale", false, fake), 0); }).empty());
        const std::vector<uint8_t> args = ReadFileBytes(dir.file("args"));
        const std::string line(args.begin(), args.end());
        QVERIFY2(line.rfind("/usr/bin/env --chdir=", 0) == 0 && line.find(" DISPLAY=:7 ") != std::string::npos &&
                     line.find(" ORVALE_DISK_DIR=/images ") != std::string::npos && line.find(" /opt/orvale start\n") != std::string::npos,
                 line.c_str());
        ScopedEnv status("FAKE_STATUS", "126");
        err = CaptureStderr(dir.file("err"), [&] { QCOMPARE(RunLauncher("/opt/orvale", false, fake), 0); });
        QVERIFY2(err.find("not granted") != std::string::npos, err.c_str());
    }

    void privilegedRunCleansUp() {
        TempDir dir("ui-run");
        ScopedEnv support("ORVALE_SUPPORT_DIR", dir.file("support")), disks("ORVALE_DISK_DIR", dir.path());
        QCOMPARE(RunCommand("truncate -s 1M '" + dir.file("disk0") + "'"), 0);
        const std::string scanLog = dir.file("support") + "/ScanLog/";
        bool shown = false;
        char cwd[4096];
        QVERIFY(getcwd(cwd, sizeof cwd) && chdir(dir.path().c_str()) == 0);
        const int savedErr = dup(2);
        QtMessageHandler previous = qInstallMessageHandler(customMessageHandler);
        RunPrivileged(*qApp, [&](DRUI& w) {
            shown = w.isVisible() && FileExists("Out.txt") && FileExists(scanLog);
            WriteFileBytes(scanLog + "tmp.jpg", {1}), WriteFileBytes(scanLog + "keep", {1});
            QTimer::singleShot(0, &w, &DRUI::close);
        });
        qInstallMessageHandler(previous);
        dup2(savedErr, 2), close(savedErr);
        QVERIFY(chdir(cwd) == 0);
        QVERIFY(shown && !FileExists(dir.file("Out.txt")) && FileExists(dir.file("Log.txt")) && !FileExists(scanLog + "tmp.jpg") && FileExists(scanLog + "keep"));
    }

    // The relaunch through an installed polkit action: found only for the very binary it names.
    void polkitActionIsFoundForTheBinaryItNames() {
        auto policy = [](const std::string& path) {
            return "<policyconfig><action id=\"a\"><annotate key=\"org.freedesktop.policykit.exec.allow_gui\">true"
                   "</annotate><annotate key=\"org.freedesktop.policykit.exec.path\">" + path + "</annotate></action></policyconfig>";
        };
        const std::pair<std::string, bool> cases[] = {
            {policy("/usr/bin/orvale"), true}, {policy("/usr/local/bin/orvale"), false}, {policy("/usr/bin/orvale-cli"), false},
            {"<policyconfig><action id=\"a\"/></policyconfig>", false}, {"", false}, // no policy file at all
        };
        for (const auto& c : cases) {
            TempDir dir("polkit");
            if (!c.first.empty()) WriteFileBytes(dir.file("x.policy"), {c.first.begin(), c.first.end()});
            QVERIFY2(HasPolkitAction("/usr/bin/orvale", dir.path()) == c.second, c.first.c_str());
        }
        QVERIFY(!HasPolkitAction("/usr/bin/orvale", "/nonexistent/actions"));
    }
};

ORVALE_UI_TEST(StartupTest);
#include "StartupTest.moc"
