// The running program, put together in one place: every long-lived piece is
// made here with its real desktop services, and every hook between the
// pieces is connected here, once, under one name. main builds a Program and
// runs it.
//
//   start-up     CPanoviewApp          instance lock, language, config, displays
//   the wall     Launcher              starts the page browsers, StopBrowsers
//                WallKeeper            restarts, follows the monitors, no blanking,
//                                      the page states the browsers report
//                PipeReaders           the browsers' report pipes
//                DisplayWatch          tells the keeper that the monitors changed
//   the windows  TrayView/CPanoviewDlg tray icon, menu, keep-alive, Exit
//                LoginView/CLoginDlg   sign-in and sign-out
//                SystemSetView/CSystemSet  the settings, made for each run
//   commands     CommandListener       panoview --login / --settings / --status /
//                                      --reload / --screenshot of later starts
//   health       MetricsWriter         the Prometheus metrics file
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

class LoginView;
class QApplication;
class QSocketNotifier;
class QTimer;
class TrayView;
namespace platform {
class CommandListener;
class DisplayWatch;
class PipeReaders;
} // namespace platform

// Runs the main window for the rest of the process: its OnInitDialog, then
// the event loop until a termination signal ends it (also one that came
// while the first dialog was open), then OnEndSession.
void runMainWindowUntilSignal(CPanoviewDlg& window, const std::string& commandLineTail);

class Program {
public:
    Program(int argc, char** argv);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Start-up, then (when this is the one copy and the configuration reads)
    // the main window until a signal ends the run. Returns the status of
    // the process.
    int run();

private:
    // Hooks of start-up.
    StartupServices startupServices();
    void startWindowSystem();
    void runMainWindow();

    // The services each piece is built with.
    LauncherServices launcherServices();
    WallKeeperServices wallKeeperServices();
    PanoviewDlgServices mainWindowServices();
    LoginServices loginServices();
    SystemSetServices settingsServices();

    // Serves the commands of later starts (panoview --login, --settings,
    // --status, --reload, --screenshot).
    void listenForCommands();
    void serveCommands();
    // The command socket closes and leaves its path as the program ends, so
    // that a later start finds no copy there rather than one that never
    // answers.
    void stopListeningForCommands();
    RemoteServices remoteServices();
    // The wall now, token and password hidden.
    WallSnapshot snapshot();
    // The metrics file: written every 15 s, and soon after every change
    // (changes in one turn of the event loop give one write).
    void startMetrics();
    void metricsChanged();
    void writeMetrics();

    // The main window's commands.
    void createLoginDialog();
    void showLoginDialog();
    void runSettingsDialog();

    int argc_;
    char** argv_;
    int exitStatus_ = 0; // what Exit asked the process to end with
    const std::string commandLineTail_;
    std::unique_ptr<QApplication> application_;

    // The shared service client of the sign-in and the keep-alive. Made once
    // and never freed: a sign-in worker may still be inside an exchange
    // when the program ends (Exit while the service holds its answer).
    LSystem* sharedClient_ = nullptr;
    // Made once the program folder is known, and never freed: a launch
    // worker may still use it while the process ends.
    Launcher* launcher_ = nullptr;
    std::unique_ptr<WallKeeper> wallKeeper_;
    // The page browsers' report pipes, by process id, read into the wall
    // keeper's page states.
    std::unique_ptr<platform::PipeReaders> pageReports_;
    std::unique_ptr<platform::DisplayWatch> displayWatch_;
    std::unique_ptr<TrayView> tray_;
    std::unique_ptr<platform::CommandListener> commands_;
    // Its work is served when its descriptor is readable, and at the next
    // deadline of a connection at the latest. Declared after the listener,
    // so that they go before it.
    std::unique_ptr<QSocketNotifier> commandsReady_;
    std::unique_ptr<QTimer> commandsDue_;
    KeepAliveRecord keepAlive_;
    std::unique_ptr<MetricsWriter> metrics_;
    bool metricsDue_ = false;
    // Made on the first login command and never freed, so that a sign-in
    // still under way delivers its result to it whenever it comes.
    LoginView* login_ = nullptr;
};
