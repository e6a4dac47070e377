#include "app/qt/SettingsCommand.h"

#include "app/PanoviewApp.h"
#include "app/qt/LoginCommand.h"

#include "common/Globals.h"
#include "settings/SystemSet.h"
#include "settings/qt/SystemSetDlg.h"

void OnSettings() {
    CSystemSet rules(*theSystemConfig, SystemSetServices::desktop(*theSystemConfig));
    CSystemSetDlg dialog(rules);
    dialog.DoModal();
}

void openFirstDialog(const std::string& commandLineTail) {
    if (wantsSettings(commandLineTail))
        OnSettings();
    else
        OnLogin();
}
