// The hidden main window on Windows (dialog 102): it carries the tray icon,
// shows the tray menu (menu 129) and the questions, runs the keep-alive timer
// and forwards every event to CPanoviewDlg, which decides. It is never seen:
// no size, no taskbar button.
#pragma once

#include "app/PanoviewDlg.h"
#include "platform/win32/Dialog.h"

#include <shellapi.h>

// The tray icon's callback message (WM_USER + 5) and its icon id.
inline constexpr UINT WM_TRAYNOTIFY = WM_USER + 5;
inline constexpr UINT kTrayIconId = 128;

// The click a mouse message of the tray icon stands for.
inline TrayClick trayClickOf(UINT mouseMessage) {
    switch (mouseMessage) {
    case WM_LBUTTONDBLCLK:
        return TrayClick::Double;
    case WM_RBUTTONUP:
        return TrayClick::Context;
    default:
        return TrayClick::Other;
    }
}

// The size of the tray record the icon is added with: its version-3 layout
// (504 bytes for the A record), which every system since Windows XP takes.
inline constexpr DWORD kTrayRecordSize =
    offsetof(NOTIFYICONDATAA, guidItem) + sizeof(NOTIFYICONDATAA::guidItem);

class TrayWindow : public win32::Dialog, public IPanoviewView {
public:
    TrayWindow(SystemConfig& config, PanoviewDlgServices services);
    ~TrayWindow() override;

    // Makes the window from its template and makes it vanish. False when it
    // cannot be made.
    bool create();
    CPanoviewDlg& controller() { return controller_; }

    // IPanoviewView
    void showTrayIcon(const std::string& tooltip) override;
    void hideTrayIcon() override;
    uint32_t showMenu(const std::vector<TrayMenuItem>& menu) override;
    void startKeepAliveTimer(int periodMs) override;
    void stopKeepAliveTimer() override;
    void watchTrayHost(int periodMs) override;
    bool askYesNo(const std::string& caption, const std::string& text) override;
    void openUrl(const std::string& url) override;

protected:
    bool onInitDialog() override;
    void onCommand(int id, int code) override;
    bool onMessage(UINT message, WPARAM w, LPARAM l, INT_PTR& result) override;

private:
    NOTIFYICONDATAA tray_{};
    bool iconAdded_ = false;
    // The notification area tells every top-level window that it has
    // started again with this registered message.
    const UINT taskbarCreated_;
    CPanoviewDlg controller_;
};
