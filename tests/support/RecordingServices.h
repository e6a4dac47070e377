// The main window's outside services for the window tests: each call is
// recorded as a line ("login create", "login show", "settings", "heart",
// "stop", "exit N"), and the keep-alive exchange always succeeds.
#pragma once

#include "app/PanoviewDlg.h"

#include <QString>
#include <QStringList>

inline PanoviewDlgServices recordingServices(QStringList& calls) {
    PanoviewDlgServices s;
    s.createLoginDialog = [&calls] { calls << "login create"; };
    s.showLoginDialog = [&calls] { calls << "login show"; };
    s.runSettingsDialog = [&calls] { calls << "settings"; };
    s.heartpacket = [&calls](const std::string&, const std::string&) {
        calls << "heart";
        return 1;
    };
    s.stopBrowsers = [&calls] { calls << "stop"; };
    s.exitProcess = [&calls](int status) { calls << QString("exit %1").arg(status); };
    return s;
}
