// The hidden main window on the desktop: it carries the tray icon, shows the
// tray menu and the questions, runs the keep-alive timer and forwards every
// event to CPanoviewDlg, which decides. It is never shown: no size, no
// taskbar entry.
#pragma once

#include "app/PanoviewDlg.h"

#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <memory>

class TrayWindow : public QWidget {
    Q_OBJECT
public:
    // `services` brings what lies outside the window (the dialogs, the
    // keep-alive exchange, the browsers' stop, the process exit); the window
    // adds its own desktop services (tray icon, menu, timer, questions, the
    // URL opener, the cursor).
    TrayWindow(SystemConfig& config, PanoviewDlgServices services);

    // Runs the window for the rest of the process: OnInitDialog, then the
    // event loop until SIGTERM or SIGINT, then DestroyWindow. Returns the
    // exit status (0).
    int DoModal(const std::string& commandLineTail);

    CPanoviewDlg& controller() { return *controller_; }
    QSystemTrayIcon& trayIcon() { return tray_; }
    QTimer& keepAliveTimer() { return timer_; }
    // The tray menu as it is shown: one action per item, separators included,
    // each command action carrying its id as data.
    std::unique_ptr<QMenu> buildMenu() const;

private:
    void watchTrayHost();

    QSystemTrayIcon tray_;
    QTimer timer_;
    QTimer trayHostCheck_;
    uint32_t trayHost_ = 0;
    std::unique_ptr<CPanoviewDlg> controller_;
};
