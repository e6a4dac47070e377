#include "app/qt/ProgramServices.h"

#include "cloud/qt/LoginDlgView.h"
#include "common/Globals.h"
#include "platform/Blanking.h"
#include "platform/DisplayWatch.h"
#include "platform/Windows.h"
#include "platform/linux/qt/UiThread.h"
#include "wall/DisplayDiscovery.h"
#include "wall/Launcher.h"
#include "wall/WallKeeper.h"

#include <QCoreApplication>
#include <QTimer>

namespace {

LoginDlgView* loginDialog = nullptr;

} // namespace

Launcher& programLauncher() {
    static Launcher* launcher = [] {
        LauncherServices services = LauncherServices::desktop();
        services.browserEnded = [](uint32_t pid) {
            platform::postToUiThread([pid] { programWallKeeper().browserEnded(pid); });
        };
        services.launched = [] { platform::postToUiThread([] { programWallKeeper().wallUp(); }); };
        services.stopping = [] { programWallKeeper().wallDown(); };
        return new Launcher(std::move(services));
    }();
    return *launcher;
}

WallKeeper& programWallKeeper() {
    static WallKeeper* keeper = [] {
        WallKeeperServices services;
        services.supervisor.now = [] { return std::chrono::steady_clock::now(); };
        services.supervisor.after = [](std::chrono::milliseconds delay,
                                       std::function<void()> work) {
            QTimer::singleShot(delay, QCoreApplication::instance(), std::move(work));
        };
        services.supervisor.start = [](const Rect& work, const std::string& address,
                                       uint32_t& pid) {
            return programLauncher().StartProcess(work, address, pid);
        };
        services.holdOffBlanking = platform::holdOffBlanking;
        services.releaseBlanking = platform::releaseBlanking;
        services.displays = desktopDisplays;
        services.waitForLaunch = [] { programLauncher().waitForLaunch(); };
        services.moveWindow = [](uint32_t pid, const Rect& area) {
            return platform::moveWindowOfProcess(static_cast<pid_t>(pid), area);
        };
        services.endProcess = [](uint32_t pid) { platform::killProcess(static_cast<pid_t>(pid)); };
        return new WallKeeper(*theSystemConfig, std::move(services));
    }();
    return *keeper;
}

void watchDisplays() {
    static std::unique_ptr<platform::DisplayWatch> watch = platform::DisplayWatch::start(
        [] { platform::postToUiThread([] { programWallKeeper().displaysChanged(); }); });
}

void createLoginDialog() {
    if (!loginDialog)
        loginDialog = new LoginDlgView(
            *theSystemConfig, LoginServices::desktop(programLauncher(), platform::postToUiThread));
}

void showLoginDialog() {
    if (!loginDialog)
        return;
    loginDialog->showNormal();
    loginDialog->raise();
    loginDialog->activateWindow();
}
