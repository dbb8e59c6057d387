#pragma once
// Start-up of the two processes: the launcher, started by the user, only
// relaunches the program with administrator rights and the argument "start";
// the privileged instance shows the window.
#include <QString>
#include <QtGlobal>
#include <functional>
#include <string>
#include <vector>

class DRUI;
class QApplication;

// Exactly one argument (whatever its text) makes the privileged instance.
bool IsPrivilegedInstance(int argc);

// Qt message handler: each debug message is appended to "Log.txt" in the
// working directory as "Debug: <text>"; other message types are dropped.
void customMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& msg);
// Sends the engines' debug messages through Qt's debug messages.
void RouteEngineLogToQt();

// Removes the entries of dirPath whose names contain "tmp." (left-over preview
// files). 1 when the folder was walked, 0 when it could not be opened.
int DeleteTmpFile(const char* dirPath);

// The command that starts exe as the privileged instance: exe itself when
// already root, else through pkexec (found at pkexecPath), keeping the display
// variables, the program's own ORVALE_* settings and the working directory.
// With a polkit action of its own (actionInstalled), pkexec starts exe directly
// and polkit keeps the display; the working directory is then root's home.
std::vector<std::string> BuildRelaunchCommand(const std::string& exe, bool isRoot, const std::string& pkexecPath,
                                              const std::string& workDir, bool actionInstalled = false);
// Whether a policy file of actionsDir names exe as its program (an installed copy).
bool HasPolkitAction(const std::string& exe, const std::string& actionsDir = "/usr/share/polkit-1/actions");
// pkexec on PATH, empty when there is none.
std::string FindPkexec();
// The launcher: relaunches exe and returns 0 on every path; when the rights
// cannot be had (no pkexec, refused), one line on standard error says why.
int RunLauncher(const std::string& exe, bool isRoot, const std::string& pkexecPath);

// The privileged instance: Out.txt, converters, the window and the event loop,
// then the clean-up. afterShow (tests) runs once the window is shown. Returns 0.
int RunPrivileged(QApplication& app, const std::function<void(DRUI&)>& afterShow = {});
