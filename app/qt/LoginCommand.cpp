#include "app/qt/LoginCommand.h"

#include "app/qt/SettingsCommand.h"
#include "cloud/qt/LoginDlgView.h"
#include "common/Globals.h"
#include "platform/linux/qt/UiThread.h"
#include "wall/Launcher.h"

Launcher& programLauncher() {
    static Launcher* launcher = new Launcher(LauncherServices::desktop());
    return *launcher;
}

void OnLogin() {
    // No display configured: there is no wall to sign in for, so the
    // settings dialog opens instead.
    if (theSystemConfig->displays.empty()) {
        OnSettings();
        return;
    }
    // Created once and never freed: a sign-in still under way delivers its
    // result to it whenever it comes.
    static LoginDlgView* dialog = nullptr;
    if (!dialog)
        dialog = new LoginDlgView(
            *theSystemConfig, LoginServices::desktop(programLauncher(), platform::postToUiThread));
    dialog->showNormal();
    dialog->raise();
    dialog->activateWindow();
}
