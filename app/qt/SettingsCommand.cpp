#include "app/qt/SettingsCommand.h"

#include "common/Globals.h"
#include "settings/SystemSet.h"
#include "settings/qt/SystemSetDlg.h"

void OnSettings() {
    CSystemSet rules(*theSystemConfig, SystemSetServices::desktop(*theSystemConfig));
    CSystemSetDlg dialog(rules);
    dialog.DoModal();
}
