#include "app/qt/LoginCommand.h"

#include "cloud/qt/LoginDlgView.h"
#include "common/Globals.h"
#include "platform/linux/qt/UiThread.h"
#include "wall/Launcher.h"

namespace {

LoginDlgView* loginDialog = nullptr;

} // namespace

Launcher& programLauncher() {
    static Launcher* launcher = new Launcher(LauncherServices::desktop());
    return *launcher;
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
