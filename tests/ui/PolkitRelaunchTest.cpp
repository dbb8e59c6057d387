// The relaunch through an installed polkit action: found only for the very binary it names.
#include "fixtures/TempDir.h"
#include "fixtures/TestFiles.h"
#include "ui/AppStartup.h"

#include <QtTest>

class PolkitRelaunchTest : public QObject {
    Q_OBJECT

private slots:
    void actionIsFoundForTheBinaryItNames() {
        struct Case {
            const char* what;
            std::string policy;  // empty: no file
            std::string exe;
            bool found;
        };
        auto policy = [](const std::string& path) {
            return "<policyconfig><action id=\"a\"><annotate key=\"org.freedesktop.policykit.exec.allow_gui\">true"
                   "</annotate><annotate key=\"org.freedesktop.policykit.exec.path\">" + path +
                   "</annotate></action></policyconfig>";
        };
        const Case cases[] = {
            {"names this binary", policy("/usr/bin/orvale"), "/usr/bin/orvale", true},
            {"names another copy", policy("/usr/local/bin/orvale"), "/usr/bin/orvale", false},
            {"names a longer path", policy("/usr/bin/orvale-cli"), "/usr/bin/orvale", false},
            {"has no exec.path", "<policyconfig><action id=\"a\"/></policyconfig>", "/usr/bin/orvale", false},
            {"no policy at all", "", "/usr/bin/orvale", false},
        };
        for (const Case& c : cases) {
            TempDir dir("polkit");
            if (!c.policy.empty()) WriteFileBytes(dir.file("x.policy"), {c.policy.begin(), c.policy.end()});
            QVERIFY2(HasPolkitAction(c.exe, dir.path()) == c.found, c.what);
        }
        QVERIFY(!HasPolkitAction("/usr/bin/orvale", "/nonexistent/actions"));
    }
};

QTEST_GUILESS_MAIN(PolkitRelaunchTest)
#include "PolkitRelaunchTest.moc"
