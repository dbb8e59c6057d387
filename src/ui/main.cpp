// Entry point. The launcher role needs no window system, so it is decided before
// the application object exists; 8-bit engine names are decoded explicitly with
// the program's code page (FromAnsi), Qt 6 having no codec for 8-bit strings.
#include "ui/AppStartup.h"

#include <QApplication>

#include <climits>
#include <cstdlib>
#include <string>
#include <unistd.h>

int main(int argc, char* argv[]) {
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
