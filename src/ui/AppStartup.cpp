#include "ui/AppStartup.h"

#include "platform/DeviceMap.h"
#include "platform/Log.h"
#include "platform/TextCodec.h"
#include "ui/DRUI.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

bool IsPrivilegedInstance(int argc) { return argc == 2; }

void customMessageHandler(QtMsgType type, const QMessageLogContext&, const QString& msg) {
    if (type != QtDebugMsg) return;
    // Workers log too; one line must not interleave with another.
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    QString text = msg;
    if (text.endsWith('\n')) text.chop(1);
    QFile file("Log.txt");
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) return;
    QTextStream out(&file);
    out << QString("Debug: %1").arg(text) << Qt::endl;
}

namespace {
void EngineLogToQt(const char* message) { qDebug("%s", message); }
} // namespace

void RouteEngineLogToQt() { SetOrvaleLogSink(EngineLogToQt); }

int DeleteTmpFile(const char* dirPath) {
    // By descriptor, not by changing the working directory of a process with threads.
    int dirFd = ::open(dirPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return 0;
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        qDebug("open dir failed\n");
        ::close(dirFd);
        return 0;
    }
    while (dirent* entry = ::readdir(dir)) {
        if (!std::strcmp(entry->d_name, ".") || !std::strcmp(entry->d_name, "..")) continue;
        if (std::strstr(entry->d_name, "tmp.")) ::unlinkat(dirFd, entry->d_name, 0);
    }
    ::closedir(dir);
    return 1;
}

std::vector<std::string> BuildRelaunchCommand(const std::string& exe, bool isRoot, const std::string& pkexecPath,
                                              const std::string& workDir, bool actionInstalled) {
    if (isRoot) return {exe, "start"};
    // The action's own message then stands in the password prompt, not "run /usr/bin/env".
    if (actionInstalled) return {pkexecPath, exe, "start"};
    // pkexec clears the environment and starts in root's home: carry over what
    // the window needs to reach the display and the program's own settings.
    std::vector<std::string> cmd = {pkexecPath, "/usr/bin/env", "--chdir=" + workDir};
    static const char* const kept[] = {"DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR",
                                       "QT_QPA_PLATFORM", "LANG"};
    for (const char* name : kept)
        if (const char* value = std::getenv(name)) cmd.push_back(std::string(name) + "=" + value);
    for (char** env = environ; env && *env; ++env)
        if (!std::strncmp(*env, "ORVALE_", 7)) cmd.push_back(*env);
    cmd.push_back(exe);
    cmd.push_back("start");
    return cmd;
}

bool HasPolkitAction(const std::string& exe, const std::string& actionsDir) {
    QDir dir(QString::fromStdString(actionsDir));
    const QString needle = ">" + QString::fromStdString(exe) + "<";
    for (const QString& name : dir.entryList({"*.policy"}, QDir::Files)) {
        QFile file(dir.filePath(name));
        // A policy file is a few kilobytes; a larger one is not ours.
        if (file.size() > (1 << 20) || !file.open(QIODevice::ReadOnly)) continue;
        const QString text = QString::fromUtf8(file.readAll());
        int at = text.indexOf("org.freedesktop.policykit.exec.path");
        if (at >= 0 && text.indexOf(needle, at) == text.indexOf('>', at)) return true;
    }
    return false;
}

std::string FindPkexec() {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t begin = 0;
    while (begin <= dirs.size()) {
        size_t end = dirs.find(':', begin);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = dirs.substr(begin, end - begin);
        if (!dir.empty()) {
            std::string candidate = dir + "/pkexec";
            if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        }
        begin = end + 1;
    }
    return std::string();
}

namespace {
std::vector<char*> ArgvOf(std::vector<std::string>& cmd) {
    std::vector<char*> argv;
    for (std::string& s : cmd) argv.push_back(s.data());
    argv.push_back(nullptr);
    return argv;
}
} // namespace

int RunLauncher(const std::string& exe, bool isRoot, const std::string& pkexecPath) {
    char cwd[4096];
    std::string workDir = ::getcwd(cwd, sizeof cwd) ? cwd : "/";
    if (!isRoot && pkexecPath.empty()) {
        std::fprintf(stderr, "orvale: reading disks needs administrator rights, and pkexec is not installed\n");
        return 0;
    }
    std::vector<std::string> cmd =
        BuildRelaunchCommand(exe, isRoot, pkexecPath, workDir, !isRoot && HasPolkitAction(exe));
    std::vector<char*> argv = ArgvOf(cmd);
    if (isRoot) {
        ::execv(argv[0], argv.data());
        std::fprintf(stderr, "orvale: cannot start %s: %s\n", exe.c_str(), std::strerror(errno));
        return 0;
    }
    // Waited for, because only pkexec's status tells whether the rights were refused.
    pid_t pid = ::fork();
    if (pid < 0) {
        std::fprintf(stderr, "orvale: cannot start pkexec: %s\n", std::strerror(errno));
        return 0;
    }
    if (pid == 0) {
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && (WEXITSTATUS(status) == 126 || WEXITSTATUS(status) == 127))
        std::fprintf(stderr, "orvale: administrator rights were not granted (pkexec status %d)\n", WEXITSTATUS(status));
    return 0;
}

int RunPrivileged(QApplication& app, const std::function<void(DRUI&)>& afterShow) {
    int outFd = ::open("Out.txt", O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (outFd >= 0) ::dup2(outFd, 2);
    if (inner_initUnicodeMap("UTF-8") != 0) qDebug("inner_initUnicodeMap failed\n");
    RouteEngineLogToQt();

    auto* window = new DRUI(nullptr, Qt::WindowFlags());
    window->Init();
    window->show();
    if (afterShow) afterShow(*window);
    app.exec();

    DeleteTmpFile(GetScanLogDirPath().c_str());
    if (outFd >= 0) ::close(outFd);
    ::unlink("Out.txt");
    delete window;
    return 0;
}
