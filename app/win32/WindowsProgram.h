// The Windows program, put together in one place, as app/Program.cpp puts
// the Linux one together: every long-lived piece is made here with its real
// desktop services, and every hook between the pieces is connected here,
// once. WinMain builds a WindowsProgram and runs it.
//
//   start-up     CPanoviewApp          instance mutex, language, config, displays
//   the wall     Launcher              starts Brovia.exe per display, StopBrowsers
//                WallKeeper            restarts, follows the monitors, no blanking,
//                                      the page states the browsers report
//                DisplayWatch          tells the keeper that the monitors changed
//   the windows  TrayWindow/CPanoviewDlg   dialog 102: tray icon, menu, keep-alive, Exit
//                LoginWindow/CLoginDlg     dialog 130: sign-in and sign-out
//                SystemSetWindow/CSystemSet  dialog 132, made for each run
//   commands     CommandPipeServer     Panoview.exe --login / --settings / --status /
//                                      --reload / --screenshot of later starts
//   health       MetricsWriter         the Prometheus metrics file
//   the loop     the thread's message loop, the login dialog's keys, and
//                the calls the workers queue into it (win32::UiThread)
#pragma once

#include "app/PanoviewApp.h"
#include "app/PanoviewDlg.h"
#include "app/WallReport.h"
#include "cloud/LoginDlg.h"
#include "settings/SystemSet.h"
#include "wall/Launcher.h"
#include "wall/WallKeeper.h"

#include <memory>
#include <string>

class LoginWindow;
class TrayWindow;
namespace win32 {
class UiThread;
}
namespace platform {
class CommandPipeServer;
class DisplayWatch;
} // namespace platform

class WindowsProgram {
public:
    // The command line's text after the program's name.
    explicit WindowsProgram(std::string commandLineTail);
    ~WindowsProgram();
    WindowsProgram(const WindowsProgram&) = delete;
    WindowsProgram& operator=(const WindowsProgram&) = delete;

    // Start-up, then (when this is the one copy and the configuration reads)
    // the main window until Exit. Returns the status of the process.
    int run();

private:
    StartupServices startupServices();
    void startWindowSystem();
    void runMainWindow();
    // Runs the thread's messages until Exit ends the run.
    void runMessageLoop();

    LauncherServices launcherServices();
    WallKeeperServices wallKeeperServices();
    PanoviewDlgServices mainWindowServices();
    LoginServices loginServices();
    SystemSetServices settingsServices();

    // Serves the commands of later starts over the named pipe.
    void listenForCommands();
    RemoteServices remoteServices();
    // The wall now, token and password hidden.
    WallSnapshot snapshot();
    // The metrics file: written every 15 s, and soon after every change.
    void startMetrics();
    void metricsChanged();
    void writeMetrics();
    void writeMetricsEvery15s();

    static void writeToStandardOutput(const std::string& text);

    void createLoginDialog();
    void showLoginDialog();
    void runSettingsDialog();

    const std::string commandLineTail_;
    int exitStatus_ = 0;
    std::unique_ptr<win32::UiThread> uiThread_;
    // The shared service client of the sign-in and the keep-alive. Made once
    // and never freed: a sign-in worker may still be inside an exchange when
    // the program ends (Exit while the service holds its answer).
    LSystem* sharedClient_ = nullptr;
    // Made once the program folder is known, and never freed: a launch
    // worker may still use it while the process ends.
    Launcher* launcher_ = nullptr;
    std::unique_ptr<WallKeeper> wallKeeper_;
    std::unique_ptr<platform::DisplayWatch> displayWatch_;
    std::unique_ptr<TrayWindow> tray_;
    std::unique_ptr<platform::CommandPipeServer> commands_;
    KeepAliveRecord keepAlive_;
    std::unique_ptr<MetricsWriter> metrics_;
    bool metricsDue_ = false;
    // Made on the first login command and never freed, so that a sign-in
    // still under way delivers its result to it whenever it comes.
    LoginWindow* login_ = nullptr;
};
