#include "app/win32/WindowsProgram.h"

#include "app/win32/TrayWindow.h"
#include "cloud/win32/LoginWindow.h"
#include "common/DebugPrint.h"
#include "common/Globals.h"
#include "platform/Blanking.h"
#include "platform/BrowserWindows.h"
#include "platform/DisplayWatch.h"
#include "platform/Displays.h"
#include "platform/Files.h"
#include "platform/Instance.h"
#include "platform/Process.h"
#include "platform/ScreenImage.h"
#include "platform/Threads.h"
#include "platform/win32/DisplayDevices.h"
#include "platform/win32/UiThread.h"
#include "platform/windows/CommandPipe.h"
#include "platform/windows/PipeReading.h"
#include "settings/ConfigFile.h"
#include "settings/win32/SystemSetWindow.h"

#include <chrono>
#include <commctrl.h>
#include <cstdlib>
#include <filesystem>
#include <stdlib.h>

WindowsProgram::WindowsProgram(std::string commandLineTail)
    : commandLineTail_(std::move(commandLineTail)) {}

WindowsProgram::~WindowsProgram() = default;

int WindowsProgram::run() {
    CPanoviewApp app(startupServices());
    app.InitInstance(commandLineTail_);
    return exitStatus_;
}

StartupServices WindowsProgram::startupServices() {
    StartupServices services;
    services.takeInstanceLock = [] { return platform::acquireInstanceLock(kInstanceLockName); };
    services.executablePath = platform::executablePath;
    services.pathSeparators = "\\/";
    services.startWindowSystem = [this] { startWindowSystem(); };
    services.displays = desktopDisplays;
    services.showMessage = [](const std::string& caption, const std::string& text) {
        win32::showMessage(nullptr, caption, text);
    };
    services.exitProcess = [](int status) { std::exit(status); };
    services.runMainWindow = [this] { runMainWindow(); };
    services.sendCommand = [](const std::string& request, int& status) {
        platform::CommandAnswer answer;
        if (!platform::sendCommand(platform::commandSocketPath(kInstanceLockName), request, answer,
                                   std::chrono::seconds(10)))
            return false;
        writeToStandardOutput(answer.text + "\n");
        status = answer.status;
        return true;
    };
    // The words as the runtime split the command line: a quoted monitor
    // list stays one word.
    services.arguments = [] { return std::vector<std::string>(__argv + 1, __argv + __argc); };
    services.workingFolder = [] {
        std::error_code error;
        const auto folder = std::filesystem::current_path(error);
        return error ? std::string(".") : folder.string();
    };
    return services;
}

// The answer of the running copy goes to the standard output this start
// was given (a script's pipe or file, or the terminal Wine runs it from);
// a program without one, started from a console window, writes to that
// console.
void WindowsProgram::writeToStandardOutput(const std::string& text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if ((!out || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS))
        out = CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                          nullptr);
    if (!out || out == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// All the classic common controls, and the queue the workers' calls come
// through.
void WindowsProgram::startWindowSystem() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = 0xFF;
    InitCommonControlsEx(&controls);
    uiThread_ = std::make_unique<win32::UiThread>();
}

void WindowsProgram::runMainWindow() {
    SystemConfig& config = *theSystemConfig;
    sharedClient_ = new LSystem;
    launcher_ = new Launcher(launcherServices());
    wallKeeper_ = std::make_unique<WallKeeper>(config, wallKeeperServices());
    displayWatch_ = platform::DisplayWatch::start(
        [this] { uiThread_->post([this] { wallKeeper_->displaysChanged(); }); });
    tray_ = std::make_unique<TrayWindow>(config, mainWindowServices());
    if (!tray_->create()) {
        DebugPrint("CPanoviewDlg::OnInitDialog(): the main window cannot be made, error %lu\n",
                   GetLastError());
        exitStatus_ = 1;
        return;
    }
    listenForCommands();
    startMetrics();
    tray_->controller().OnInitDialog(commandLineTail_);
    runMessageLoop();
    commands_.reset();
    // Exit has stopped the browsers and taken the icon away; any other end
    // of the loop takes the icon away here.
    tray_->controller().DestroyWindow();
}

void WindowsProgram::listenForCommands() {
    commands_ = platform::CommandPipeServer::listen(
        platform::commandSocketPath(kInstanceLockName),
        [this](const std::string& request) -> platform::CommandAnswer {
            const RemoteAnswer answer = answerRequest(request, remoteServices());
            return {answer.status, answer.text};
        },
        [this](std::function<void()> work) { uiThread_->post(std::move(work)); });
}

RemoteServices WindowsProgram::remoteServices() {
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
        uiThread_->post([this, command] { tray_->controller().OnRemoteCommand(command); });
    };
    return services;
}

namespace {

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// windows_exporter's textfile collector folder, where the exporter is
// installed (its default place under the 64-bit program files), when this
// program may write there; else empty.
std::string writableExporterFolder() {
    const char* programs = std::getenv("ProgramW6432");
    if (!programs || !*programs)
        programs = std::getenv("ProgramFiles");
    if (!programs || !*programs)
        return {};
    const std::string folder = std::string(programs) + "\\windows_exporter\\textfile_inputs";
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return {};
    const std::string probe = folder + "\\panoview.prom.probe";
    HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    CloseHandle(file);
    return folder;
}

} // namespace

WallSnapshot WindowsProgram::snapshot() {
    return wallSnapshot(*theSystemConfig, keepAlive_, wallKeeper_->monitors(), nowMs());
}

void WindowsProgram::startMetrics() {
    const std::string path = metricsPath(std::getenv("PANOVIEW_METRICS"), writableExporterFolder(),
                                         platform::userRuntimeFolder(), "\\");
    if (path.empty()) {
        DebugPrint("Panoview: no folder for the metrics file; the wall goes on without it\n");
        return;
    }
    metrics_ = std::make_unique<MetricsWriter>(
        path, [](const std::string& path, const std::string& bytes, int& error) {
            return platform::replaceFile(path, bytes, error);
        });
    writeMetrics();
    writeMetricsEvery15s();
}

void WindowsProgram::writeMetricsEvery15s() {
    uiThread_->after(std::chrono::seconds(15), [this] {
        writeMetrics();
        writeMetricsEvery15s();
    });
}

void WindowsProgram::metricsChanged() {
    if (!metrics_ || metricsDue_)
        return;
    metricsDue_ = true;
    uiThread_->post([this] { writeMetrics(); });
}

void WindowsProgram::writeMetrics() {
    metricsDue_ = false;
    if (!metrics_)
        return;
    metrics_->write(metricsText(snapshot()));
}

void WindowsProgram::runMessageLoop() {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        // The login dialog is modeless: its Tab, Enter and Escape keys are
        // the dialog's.
        if (login_ && login_->window() && IsDialogMessageA(login_->window(), &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (message.message == WM_QUIT)
        exitStatus_ = static_cast<int>(message.wParam);
}

// The launcher's browsers report their end to the wall keeper, their report
// pipes are read into it, its launches report the wall up, and its stop
// takes the wall down, each on the UI thread.
LauncherServices WindowsProgram::launcherServices() {
    LauncherServices services;
    services.programFolder = moduleDirectory;
    services.spawn = platform::spawnProcess;
    services.killByName = platform::killProcessesByFileName;
    services.startThread = platform::startDetachedThread;
    services.browserEnded = [this](uint32_t pid) {
        uiThread_->post([this, pid] {
            wallKeeper_->browserEnded(pid);
            metricsChanged();
        });
    };
    services.pageReports = [this](uint32_t pid, int readEnd) {
        platform::readPipeUntilEnd(
            readEnd,
            [this, pid](std::string bytes) {
                uiThread_->post([this, pid, bytes = std::move(bytes)] {
                    wallKeeper_->pageReport(pid, bytes);
                    metricsChanged();
                });
            },
            [this, pid] {
                uiThread_->post([this, pid] {
                    wallKeeper_->pageReportsEnded(pid);
                    metricsChanged();
                });
            });
    };
    services.launched = [this] {
        uiThread_->post([this] {
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

WallKeeperServices WindowsProgram::wallKeeperServices() {
    WallKeeperServices services;
    services.supervisor.now = [] { return std::chrono::steady_clock::now(); };
    services.supervisor.after = [this](std::chrono::milliseconds delay,
                                       std::function<void()> work) {
        uiThread_->after(delay, std::move(work));
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

PanoviewDlgServices WindowsProgram::mainWindowServices() {
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
    // Exit ends the message loop (a question's or a dialog's loop passes the
    // quit message on), and the process ends with the status once the run
    // has wound down.
    services.exitProcess = [this](int status) {
        exitStatus_ = status;
        PostQuitMessage(status);
    };
    return services;
}

LoginServices WindowsProgram::loginServices() {
    LoginServices services;
    services.sharedClient = [this]() -> LSystem& { return *sharedClient_; };
    services.localClient = [] { return std::make_unique<LSystem>(); };
    services.startThread = platform::startDetachedThread;
    services.postToUiThread = [this](std::function<void()> call) {
        uiThread_->post(std::move(call));
    };
    services.startLaunchThread = [this](SystemConfig& config) {
        return launcher_->startLaunchThread(config);
    };
    services.stopBrowsers = [this] { launcher_->StopBrowsers(); };
    return services;
}

SystemSetServices WindowsProgram::settingsServices() {
    SystemSetServices services;
    services.displayDevice = win32::displayDevice;
    services.saveConfig = saveConfigFile;
    services.configPath = configFilePath(moduleDirectory);
    return services;
}

void WindowsProgram::createLoginDialog() {
    if (!login_)
        login_ = new LoginWindow(*theSystemConfig, loginServices(), tray_->window());
}

void WindowsProgram::showLoginDialog() {
    if (login_)
        login_->showAboveTheWall();
}

// Made, run modally and destroyed. Its result changes nothing here: saved
// settings take effect at the next start.
void WindowsProgram::runSettingsDialog() {
    SystemSetWindow dialog(*theSystemConfig, settingsServices());
    dialog.DoModal();
}
