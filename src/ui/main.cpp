// Entry point. The launcher role needs no window system, so it is decided before
// the application object exists; 8-bit engine names are decoded explicitly with
// the program's code page (FromAnsi), Qt 6 having no codec for 8-bit strings.
#include "ui/AppStartup.h"

#include <QApplication>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

int main(int argc, char* argv[]) {
    // Answered before the role is decided: asking for the version must not open a window.
    if (argc == 2 && !std::strcmp(argv[1], "--version")) {
        std::printf("orvale %s\n", ORVALE_VERSION);
        return 0;
    }
    if (argc == 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
        std::printf("usage: orvale\n\n"
                    "Recovers deleted and lost files from disks, memory cards and disk images.\n"
                    "Started by a user, it asks for administrator rights (pkexec) and starts again\n"
                    "with them. orvale-cli is the command-line tool; see orvale(1), orvale-cli(1).\n");
        return 0;
    }
    qInstallMessageHandler(customMessageHandler);
    if (!IsPrivilegedInstance(argc)) {
        char self[PATH_MAX];
        ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
        std::string exe = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(argv[0]);
        return RunLauncher(exe, ::geteuid() == 0, FindPkexec());
    }
    QApplication app(argc, argv);
    return RunPrivileged(app);
}
