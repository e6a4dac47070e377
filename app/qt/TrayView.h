// The hidden main window on the desktop: it carries the tray icon, shows the
// tray menu and the questions, runs the keep-alive timer and the tray-host
// watch, and forwards every event to CPanoviewDlg, which decides. It is never
// shown: no size, no taskbar entry.
#pragma once

#include "app/PanoviewDlg.h"

#include "platform/linux/qt/StatusNotifier.h"

#include <QMenu>
#include <QPoint>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <optional>

class TrayView : public QWidget, public IPanoviewView {
    Q_OBJECT
public:
    // `services` brings what lies outside the window: the dialogs, the
    // keep-alive exchange, the browsers' stop, the process exit.
    TrayView(SystemConfig& config, PanoviewDlgServices services);

    CPanoviewDlg& controller() { return controller_; }
    QSystemTrayIcon& trayIcon() { return tray_; }
    // The icon on a StatusNotifier tray; null on an XEmbed tray.
    platform::StatusNotifierItem* statusNotifierItem() { return item_.get(); }
    QTimer& keepAliveTimer() { return timer_; }
    // The menu of these items as it is shown: one action per item,
    // separators included, each command action carrying its id as data.
    static std::unique_ptr<QMenu> buildMenu(const std::vector<TrayMenuItem>& items);

    // IPanoviewView
    void showTrayIcon(const std::string& tooltip) override;
    void hideTrayIcon() override;
    uint32_t showMenu(const std::vector<TrayMenuItem>& menu) override;
    void startKeepAliveTimer(int periodMs) override;
    void stopKeepAliveTimer() override;
    void watchTrayHost(int periodMs) override;
    bool askYesNo(const std::string& caption, const std::string& text) override;
    void openUrl(const std::string& url) override;

private:
    void useStatusNotifierTray();
    // The icon on an XEmbed tray, or on a StatusNotifier one (item_).
    QSystemTrayIcon tray_;
    std::unique_ptr<platform::StatusNotifierItem> item_;
    // Where a StatusNotifier panel asked for the menu; the next menu opens
    // there instead of at the pointer.
    std::optional<QPoint> menuPoint_;
    QTimer timer_;
    QTimer trayHostCheck_;
    uint32_t trayHost_ = 0;
    CPanoviewDlg controller_;
};
