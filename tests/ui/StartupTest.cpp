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
// Runs body with the working directory at dir.
template <class F> void InDir(const std::string& dir, F body) {
    char saved[4096];
    QVERIFY(getcwd(saved, sizeof saved));
    QVERIFY(chdir(dir.c_str()) == 0);
    body();
    QVERIFY(chdir(saved) == 0);
}

// What body writes to standard error.
template <class F> std::string CaptureStderr(const std::string& file, F body) {
    fflush(stderr);
    int saved = dup(2);
    int fd = open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 2);
    close(fd);
    body();
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::vector<uint8_t> bytes = ReadFileBytes(file);
    return std::string(bytes.begin(), bytes.end());
}

std::string Text(const std::string& path) {
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}
} // namespace

class StartupTest : public QObject {
    Q_OBJECT

private slots:
    void deleteTmpFileRemovesPreviewLeftovers() {
        TempDir dir("ui-tmp");
        const std::pair<const char*, bool> files[] = {
            {"x.tmp.1", false}, {"tmp.abc", false}, {"abc.tmp", true}, {"plain", true}, {"tmpx", true}};
        for (const auto& f : files) WriteFileBytes(dir.file(f.first), {1, 2, 3});
        QCOMPARE(DeleteTmpFile(dir.path().c_str()), 1);
        for (const auto& f : files) QVERIFY2(FileExists(dir.file(f.first)) == f.second, f.first);
        QCOMPARE(DeleteTmpFile(dir.file("missing").c_str()), 0);
    }

    void relaunchCommand() {
        std::vector<std::string> root = BuildRelaunchCommand("/opt/orvale", true, "/usr/bin/pkexec", "/w");
        QVERIFY((root == std::vector<std::string>{"/opt/orvale", "start"}));

        ScopedEnv display("DISPLAY", ":7");
        ScopedEnv disks("ORVALE_DISK_DIR", "/images");
        std::vector<std::string> user = BuildRelaunchCommand("/opt/orvale", false, "/usr/bin/pkexec", "/w");
        QVERIFY(user.size() >= 6);
        QVERIFY((std::vector<std::string>(user.begin(), user.begin() + 3) ==
                  std::vector<std::string>{"/usr/bin/pkexec", "/usr/bin/env", "--chdir=/w"}));
        for (const char* kept : {"DISPLAY=:7", "ORVALE_DISK_DIR=/images"})
            QVERIFY2(std::find(user.begin(), user.end(), kept) != user.end(), kept);
        QVERIFY((std::vector<std::string>(user.end() - 2, user.end()) == std::vector<std::string>{"/opt/orvale", "start"}));
    }

    void launcherWithoutPkexecEndsQuietly() {
        TempDir dir("ui-launch");
        std::string err = CaptureStderr(dir.file("err"), [&] { QCOMPARE(RunLauncher("/bin/true", false, ""), 0); });
        QVERIFY2(err.find("pkexec is not installed") != std::string::npos, err.c_str());
        QCOMPARE(std::count(err.begin(), err.end(), '\n'), 1L);
    }

    void launcherRunsPkexecAndReportsRefusal() {
        TempDir dir("ui-pkexec");
        // A stand-in pkexec that records its arguments and answers with a given status.
        std::string fake = dir.file("pkexec");
        std::string script = "#!/bin/sh\necho \"$@\" > '" + dir.file("args") + "'\nexit ${FAKE_STATUS:-0}\n";
        WriteFileBytes(fake, std::vector<uint8_t>(script.begin(), script.end()));
        QCOMPARE(chmod(fake.c_str(), 0755), 0);

        std::string err = CaptureStderr(dir.file("err0"), [&] { QCOMPARE(RunLauncher("/opt/orvale", false, fake), 0); });
        QVERIFY(err.empty());
        std::string args = Text(dir.file("args"));
        QVERIFY2(args.rfind("/usr/bin/env --chdir=", 0) == 0, args.c_str());
        QVERIFY2(args.find(" /opt/orvale start\n") != std::string::npos, args.c_str());

        ScopedEnv status("FAKE_STATUS", "126");
        err = CaptureStderr(dir.file("err1"), [&] { QCOMPARE(RunLauncher("/opt/orvale", false, fake), 0); });
        QVERIFY2(err.find("not granted") != std::string::npos, err.c_str());
    }

    void privilegedRunCleansUp() {
        TempDir dir("ui-run");
        ScopedEnv support("ORVALE_SUPPORT_DIR", dir.file("support"));
        ScopedEnv disks("ORVALE_DISK_DIR", dir.path());
        QCOMPARE(RunCommand("truncate -s 1M '" + dir.file("disk0") + "'"), 0);
        std::string scanLog = dir.file("support") + "/ScanLog/";
        bool shown = false;
        int savedErr = dup(2);
        QtMessageHandler previous = qInstallMessageHandler(customMessageHandler);
        InDir(dir.path(), [&] {
            RunPrivileged(*qApp, [&](DRUI& w) {
                shown = w.isVisible();
                QVERIFY(FileExists("Out.txt"));
                QVERIFY(FileExists(scanLog));
                WriteFileBytes(scanLog + "tmp.jpg", {1});
                WriteFileBytes(scanLog + "keep", {1});
                QTimer::singleShot(0, &w, &DRUI::close);
            });
        });
        qInstallMessageHandler(previous);
        dup2(savedErr, 2);
        close(savedErr);
        QVERIFY(shown);
        QVERIFY(!FileExists(dir.file("Out.txt")));
        QVERIFY(FileExists(dir.file("Log.txt")));
        QVERIFY(!FileExists(scanLog + "tmp.jpg"));
        QVERIFY(FileExists(scanLog + "keep"));
    }

    // The relaunch through an installed polkit action: found only for the very binary it names.
    void polkitActionIsFoundForTheBinaryItNames() {
        auto policy = [](const std::string& path) {
            return "<policyconfig><action id=\"a\"><annotate key=\"org.freedesktop.policykit.exec.allow_gui\">true"
                   "</annotate><annotate key=\"org.freedesktop.policykit.exec.path\">" + path + "</annotate></action></policyconfig>";
        };
        const std::pair<std::string, bool> cases[] = {
            {policy("/usr/bin/orvale"), true},
            {policy("/usr/local/bin/orvale"), false},
            {policy("/usr/bin/orvale-cli"), false},
            {"<policyconfig><action id=\"a\"/></policyconfig>", false},
            {"", false}, // no policy file at all
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
