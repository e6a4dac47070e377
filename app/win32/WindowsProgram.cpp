#include "app/win32/WindowsProgram.h"

#include "app/win32/TrayWindow.h"
#include "cloud/win32/LoginWindow.h"
#include "common/DebugPrint.h"
#include "common/Globals.h"
#include "platform/Displays.h"
#include "platform/Instance.h"
#include "platform/Process.h"
#include "platform/Threads.h"
#include "platform/win32/DisplayDevices.h"
#include "platform/win32/UiThread.h"
#include "settings/ConfigFile.h"
#include "settings/win32/SystemSetWindow.h"

#include <commctrl.h>
#include <cstdlib>

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
    return services;
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
    tray_ = std::make_unique<TrayWindow>(config, mainWindowServices());
    if (!tray_->create()) {
        DebugPrint("CPanoviewDlg::OnInitDialog(): the main window cannot be made, error %lu\n",
                   GetLastError());
        exitStatus_ = 1;
        return;
    }
    tray_->controller().OnInitDialog(commandLineTail_);
    runMessageLoop();
    // Exit has stopped the browsers and taken the icon away; any other end
    // of the loop takes the icon away here.
    tray_->controller().DestroyWindow();
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

LauncherServices WindowsProgram::launcherServices() {
    LauncherServices services;
    services.programFolder = moduleDirectory;
    services.spawn = platform::spawnProcess;
    services.killByName = platform::killProcessesByFileName;
    services.startThread = platform::startDetachedThread;
    return services;
}

PanoviewDlgServices WindowsProgram::mainWindowServices() {
    PanoviewDlgServices services;
    services.createLoginDialog = [this] { createLoginDialog(); };
    services.showLoginDialog = [this] { showLoginDialog(); };
    services.runSettingsDialog = [this] { runSettingsDialog(); };
    services.heartpacket = [this](const std::string& serviceAddress, const std::string& token) {
        return LSystem::heartpacket(serviceAddress, *sharedClient_, token);
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
