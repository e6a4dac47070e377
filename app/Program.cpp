#include "app/Program.h"

#include "app/qt/TrayView.h"
#include "cloud/qt/LoginView.h"
#include "common/DebugPrint.h"
#include "common/Globals.h"
#include "http/WininetHttp.h"
#include "platform/Blanking.h"
#include "platform/BrowserWindows.h"
#include "platform/CommandSocket.h"
#include "platform/DisplayWatch.h"
#include "platform/Displays.h"
#include "platform/Files.h"
#include "platform/Instance.h"
#include "platform/Process.h"
#include "platform/Threads.h"
#include "platform/TrayHost.h"
#include "platform/linux/qt/Application.h"
#include "platform/linux/qt/MessageBox.h"
#include "platform/linux/qt/PipeReaders.h"
#include "platform/ScreenImage.h"
#include "platform/linux/qt/Signals.h"
#include "platform/linux/qt/UiThread.h"
#include "settings/ConfigFile.h"
#include "settings/qt/SystemSetView.h"

#include <QApplication>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace {

// An object made once and never freed on purpose, since a worker may still
// use it while the process ends; the leak checker of a sanitizer build is
// told so.
template <class T> T* keptForTheProcess(T* object) {
#if defined(__SANITIZE_ADDRESS__)
    __lsan_ignore_object(object);
#endif
    return object;
}

} // namespace

Program::Program(int argc, char** argv)
    : argc_(argc), argv_(argv), commandLineTail_(commandLineTail(argc, argv)) {}

Program::~Program() = default;

int Program::run() {
    CPanoviewApp app(startupServices());
    app.InitInstance(commandLineTail_);
    return exitStatus_;
}

StartupServices Program::startupServices() {
    StartupServices services;
    services.windowSystemAvailable = platform::displayServerReachable;
    services.takeInstanceLock = [] { return platform::acquireInstanceLock(kInstanceLockName); };
    services.executablePath = platform::executablePath;
    services.startWindowSystem = [this] { startWindowSystem(); };
    services.displays = desktopDisplays;
    services.showMessage = [](const std::string& caption, const std::string& text) {
        platform::showMessage(nullptr, caption, text);
    };
    services.exitProcess = [](int status) { std::exit(status); };
    services.runMainWindow = [this] { runMainWindow(); };
    services.sendCommand = [](const std::string& request, int& status) {
        platform::CommandAnswer answer;
        if (!platform::sendCommand(platform::commandSocketPath(kInstanceLockName), request, answer,
                                   std::chrono::seconds(10)))
            return false;
        std::printf("%s\n", answer.text.c_str());
        status = answer.status;
        return true;
    };
    services.arguments = [this] { return std::vector<std::string>(argv_ + 1, argv_ + argc_); };
    services.workingFolder = [] {
        std::error_code error;
        const auto folder = std::filesystem::current_path(error);
        return error ? std::string(".") : folder.string();
    };
    return services;
}

void Program::startWindowSystem() {
    application_ = platform::startApplication(argc_, argv_, UseEnglish != 0);
    // From here on a termination signal ends the run through the event
    // loop, also when it comes before the main window exists.
    platform::quitOnTerminationSignals();
}

void Program::runMainWindow() {
    SystemConfig& config = *theSystemConfig;
    sharedClient_ = keptForTheProcess(new LSystem);
    launcher_ = keptForTheProcess(new Launcher(launcherServices()));
    wallKeeper_ = std::make_unique<WallKeeper>(config, wallKeeperServices());
    pageReports_ = std::make_unique<platform::PipeReaders>(
        [this](uint32_t pid, std::string_view bytes) {
            wallKeeper_->pageReport(pid, bytes);
            metricsChanged();
        },
        [this](uint32_t pid) {
            wallKeeper_->pageReportsEnded(pid);
            metricsChanged();
        });
    displayWatch_ = platform::DisplayWatch::start(
        [this] { platform::postToUiThread([this] { wallKeeper_->displaysChanged(); }); });
    tray_ = std::make_unique<TrayView>(config, mainWindowServices());
    tray_->hide();
    if (platform::trayHostWindow() == 0)
        DebugPrint("CPanoviewDlg::OnInitDialog(): no tray host yet; the icon appears when one "
                   "starts\n");

    listenForCommands();
    startMetrics();
    // Ended by a signal: OnEndSession stops the browsers, and the stop takes
    // the wall down, which gives the monitors' blanking back.
    runMainWindowUntilSignal(tray_->controller(), commandLineTail_);
    stopListeningForCommands();
}

void Program::listenForCommands() {
    commands_ = platform::CommandListener::listen(platform::commandSocketPath(kInstanceLockName),
                                                  platform::kCommandDeadline);
    if (!commands_)
        return;
    commandsReady_ =
        std::make_unique<QSocketNotifier>(commands_->descriptor(), QSocketNotifier::Read);
    QObject::connect(commandsReady_.get(), &QSocketNotifier::activated, tray_.get(),
                     [this] { serveCommands(); });
    commandsDue_ = std::make_unique<QTimer>();
    commandsDue_->setSingleShot(true);
    QObject::connect(commandsDue_.get(), &QTimer::timeout, tray_.get(),
                     [this] { serveCommands(); });
}

// Never waits for a client: what has come is served, and the timer is set
// for the first deadline still ahead (a timer that fires early only serves
// once more).
void Program::serveCommands() {
    // An answer that runs an event loop of its own is not served into: the
    // work that comes meanwhile is served once it has returned.
    if (!commandsReady_->isEnabled())
        return;
    commandsReady_->setEnabled(false);
    commands_->serve([this](const std::string& request) -> platform::CommandAnswer {
        const RemoteAnswer answer = answerRequest(request, remoteServices());
        return {answer.status, answer.text};
    });
    commandsReady_->setEnabled(true);
    if (const auto due = commands_->nextDeadline()) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(*due - std::chrono::steady_clock::now());
        commandsDue_->start(std::max(left, std::chrono::milliseconds(0)));
    } else {
        commandsDue_->stop();
    }
}

void Program::stopListeningForCommands() {
    commandsReady_.reset();
    commandsDue_.reset();
    commands_.reset();
}

RemoteServices Program::remoteServices() {
    RemoteServices services;
    services.snapshot = [this] { return snapshot(); };
    services.wallUp = [this] { return wallKeeper_->up(); };
    services.reload = [this](size_t entry) {
        const bool started = wallKeeper_->reload(entry);
        metricsChanged();
        return started;
    };
    services.desktopMonitors = [] { return desktopMonitorsOf(*theSystemConfig); };
    services.saveImage = platform::saveScreenImage;
    // Run after the answer has gone: the settings dialog runs a loop of its
    // own for as long as the operator keeps it open.
    services.dialog = [this](const std::string& word) {
        const RemoteCommand command = remoteCommand(word);
        QTimer::singleShot(0, tray_.get(),
                           [this, command] { tray_->controller().OnRemoteCommand(command); });
    };
    return services;
}

namespace {

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

WallSnapshot Program::snapshot() {
    return wallSnapshot(*theSystemConfig, keepAlive_, wallKeeper_->monitors(), nowMs());
}

void Program::startMetrics() {
    const bool exporterFolder = ::access(kExporterTextfileFolder, W_OK) == 0;
    const std::string path =
        metricsPath(std::getenv("PANOVIEW_METRICS"), exporterFolder ? kExporterTextfileFolder : "",
                    platform::userRuntimeFolder());
    if (path.empty()) {
        DebugPrint("Panoview: no folder for the metrics file; the wall goes on without it\n");
        return;
    }
    metrics_ = std::make_unique<MetricsWriter>(
        path, [](const std::string& path, const std::string& bytes, int& error) {
            return platform::replaceFile(path, bytes, error);
        });
    auto* every = new QTimer(tray_.get());
    QObject::connect(every, &QTimer::timeout, tray_.get(), [this] { writeMetrics(); });
    every->start(15000);
    writeMetrics();
}

void Program::metricsChanged() {
    if (!metrics_ || metricsDue_)
        return;
    metricsDue_ = true;
    QTimer::singleShot(0, tray_.get(), [this] { writeMetrics(); });
}

void Program::writeMetrics() {
    metricsDue_ = false;
    if (metrics_)
        metrics_->write(metricsText(snapshot()));
}

void runMainWindowUntilSignal(CPanoviewDlg& window, const std::string& commandLineTail) {
    window.OnInitDialog(commandLineTail);
    // Asked to end while the first dialog was open: its loop has ended, and
    // a loop started now would never be told to end.
    if (!platform::takeTerminationRequest()) {
        QApplication::exec();
        platform::takeTerminationRequest(); // the request that ended this run
    }
    window.OnEndSession();
}

// The launcher's browsers report their end to the wall keeper, its launches
// report the wall up, and its stop takes the wall down, each on the UI
// thread.
LauncherServices Program::launcherServices() {
    LauncherServices services;
    services.programFolder = moduleDirectory;
    services.spawn = platform::spawnProcess;
    services.killByName = platform::killProcessesByFileName;
    services.startThread = platform::startDetachedThread;
    // What an ended browser wrote last is read before it is forgotten.
    services.browserEnded = [this](uint32_t pid) {
        platform::postToUiThread([this, pid] {
            pageReports_->drainAndClose(pid);
            wallKeeper_->browserEnded(pid);
            metricsChanged();
        });
    };
    services.pageReports = [this](uint32_t pid, int fd) {
        platform::postToUiThread([this, pid, fd] { pageReports_->add(pid, fd); });
    };
    services.launched = [this] {
        platform::postToUiThread([this] {
            wallKeeper_->wallUp();
            metricsChanged();
        });
    };
    services.stopping = [this] {
        wallKeeper_->wallDown();
        metricsChanged();
    };
    return services;
}

WallKeeperServices Program::wallKeeperServices() {
    WallKeeperServices services;
    services.supervisor.now = [] { return std::chrono::steady_clock::now(); };
    services.supervisor.after = [](std::chrono::milliseconds delay, std::function<void()> work) {
        QTimer::singleShot(delay, QCoreApplication::instance(), std::move(work));
    };
    services.supervisor.start = [this](const Rect& work, const std::string& address,
                                       uint32_t& pid) {
        return launcher_->StartProcess(work, address, pid);
    };
    services.holdOffBlanking = platform::holdOffBlanking;
    services.releaseBlanking = platform::releaseBlanking;
    services.displays = desktopDisplays;
    services.waitForLaunch = [this] { launcher_->waitForLaunch(); };
    services.moveWindow = [](uint32_t pid, const Rect& area) {
        return platform::moveWindowOfProcess(static_cast<pid_t>(pid), area);
    };
    services.endProcess = [](uint32_t pid) { platform::killProcess(static_cast<pid_t>(pid)); };
    return services;
}

PanoviewDlgServices Program::mainWindowServices() {
    PanoviewDlgServices services;
    services.createLoginDialog = [this] { createLoginDialog(); };
    services.showLoginDialog = [this] { showLoginDialog(); };
    services.runSettingsDialog = [this] { runSettingsDialog(); };
    services.heartpacket = [this](const std::string& serviceAddress, const std::string& token) {
        const int32_t result = LSystem::heartpacket(serviceAddress, *sharedClient_, token);
        keepAlive_.record(result == 1, nowMs());
        metricsChanged();
        return result;
    };
    services.stopBrowsers = [this] { launcher_->StopBrowsers(); };
    services.endLeftoverBrowsers = [this] { launcher_->endLeftoverBrowsers(); };
    // Exit ends the process here, past every destructor of the program.
    // Exit ends the run the way a logout does: every event loop ends (a
    // question's or a menu's too), and the program winds down in order on
    // the UI thread. Ending the process from inside the menu's loop instead
    // ran the destructors of static objects while Qt's X11 reader thread,
    // the display watch and the open dialogs still used the heap.
    services.exitProcess = [this](int status) {
        exitStatus_ = status;
        stopListeningForCommands();
        platform::endEventLoops();
    };
    return services;
}

LoginServices Program::loginServices() {
    LoginServices services;
    services.sharedClient = [this]() -> LSystem& { return *sharedClient_; };
    services.localClient = [] { return std::make_unique<LSystem>(); };
    services.startThread = platform::startDetachedThread;
    services.postToUiThread = platform::postToUiThread;
    services.startLaunchThread = [this](SystemConfig& config) {
        return launcher_->startLaunchThread(config);
    };
    services.stopBrowsers = [this] { launcher_->StopBrowsers(); };
    return services;
}

SystemSetServices Program::settingsServices() {
    SystemSetServices services;
    services.displayDevice = displayDevicesOf(*theSystemConfig);
    services.saveConfig = saveConfigFile;
    services.configPath = configFilePath(moduleDirectory);
    return services;
}

void Program::createLoginDialog() {
    if (!login_)
        login_ = new LoginView(*theSystemConfig, loginServices());
}

void Program::showLoginDialog() {
    if (login_)
        login_->showAboveTheWall();
}

// Made, run modally and destroyed. Its result changes nothing here: saved
// settings take effect at the next start.
void Program::runSettingsDialog() {
    SystemSetView dialog(*theSystemConfig, settingsServices());
    dialog.DoModal();
}
