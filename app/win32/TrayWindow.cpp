#include "app/win32/TrayWindow.h"

#include "res/windows/resource.h"

#include <cstring>

static_assert(sizeof(void*) != 4 || kTrayRecordSize == 504,
              "the tray record's version-3 layout is 504 bytes on 32-bit Windows");

TrayWindow::TrayWindow(SystemConfig& config, PanoviewDlgServices services)
    : taskbarCreated_(RegisterWindowMessageA("TaskbarCreated")),
      controller_(*this, config, std::move(services)) {}

TrayWindow::~TrayWindow() {
    hideTrayIcon();
}

bool TrayWindow::create() {
    if (!createModeless(IDD_PANOVIEW, nullptr))
        return false;
    // The template is visible: the system shows it once it is made, at no
    // size, and it is hidden again at once.
    ShowWindow(window(), SW_HIDE);
    return true;
}

bool TrayWindow::onInitDialog() {
    setApplicationIcon();
    // No size at the screen origin, hidden, and a tool window, so that it has
    // no taskbar button.
    MoveWindow(window(), 0, 0, 0, 0, TRUE);
    ShowWindow(window(), SW_HIDE);
    const LONG_PTR exStyle = GetWindowLongPtrA(window(), GWL_EXSTYLE);
    SetWindowLongPtrA(window(), GWL_EXSTYLE, (exStyle & ~WS_EX_APPWINDOW) | WS_EX_TOOLWINDOW);
    return true;
}

void TrayWindow::onCommand(int id, int /*code*/) {
    // Menu 129's items; Enter and Escape (1 and 2) of the hidden window are
    // no command.
    controller_.OnCommand(static_cast<uint32_t>(id));
}

bool TrayWindow::onMessage(UINT message, WPARAM w, LPARAM l, INT_PTR& result) {
    if (message == taskbarCreated_) {
        // The icon is gone with the old notification area.
        iconAdded_ = false;
        controller_.OnTaskbarCreated();
        result = 0;
        return true;
    }
    switch (message) {
    case WM_TRAYNOTIFY:
        if (w != kTrayIconId) {
            result = 1;
            return true;
        }
        controller_.OnTrayNotify(trayClickOf(static_cast<UINT>(l)));
        result = 0;
        return true;
    case WM_TIMER:
        controller_.OnTimer(static_cast<int>(w));
        result = 0;
        return true;
    // The session ends (logoff, shutdown): the wall ends as Exit ends it,
    // without a question and without signing out, before the system ends
    // the process.
    case WM_QUERYENDSESSION:
        result = TRUE;
        return true;
    case WM_ENDSESSION:
        if (w)
            controller_.OnEndSession();
        result = 0;
        return true;
    default:
        return false;
    }
}

void TrayWindow::showTrayIcon(const std::string& tooltip) {
    tray_ = NOTIFYICONDATAA{};
    tray_.cbSize = kTrayRecordSize;
    tray_.hWnd = window();
    tray_.uID = kTrayIconId;
    tray_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    tray_.uCallbackMessage = WM_TRAYNOTIFY;
    tray_.hIcon = win32::applicationIcon(true);
    std::strncpy(tray_.szTip, tooltip.c_str(), sizeof tray_.szTip - 1);
    // An icon still there takes the new tooltip instead.
    if (iconAdded_ && Shell_NotifyIconA(NIM_MODIFY, &tray_))
        return;
    iconAdded_ = Shell_NotifyIconA(NIM_ADD, &tray_) != FALSE;
}

void TrayWindow::hideTrayIcon() {
    if (!iconAdded_)
        return;
    Shell_NotifyIconA(NIM_DELETE, &tray_);
    iconAdded_ = false;
}

// The menu is menu 129, the items' template; the chosen item arrives as
// WM_COMMAND, so nothing is chosen here. The foreground call and the posted
// WM_NULL make the menu close when the operator clicks elsewhere.
uint32_t TrayWindow::showMenu(const std::vector<TrayMenuItem>& /*menu*/) {
    HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_TRAY_MENU));
    if (!menu)
        return 0;
    POINT at{};
    GetCursorPos(&at);
    SetForegroundWindow(window());
    PostMessageA(window(), WM_NULL, 0, 0);
    TrackPopupMenu(GetSubMenu(menu, 0), 0, at.x, at.y, 0, window(), nullptr);
    DestroyMenu(menu);
    return 0;
}

void TrayWindow::startKeepAliveTimer(int periodMs) {
    SetTimer(window(), kKeepAliveTimer, static_cast<UINT>(periodMs), nullptr);
}

void TrayWindow::stopKeepAliveTimer() {
    KillTimer(window(), kKeepAliveTimer);
}

// The notification area announces its new start itself ("TaskbarCreated"):
// nothing to poll.
void TrayWindow::watchTrayHost(int /*periodMs*/) {}

bool TrayWindow::askYesNo(const std::string& caption, const std::string& text) {
    return win32::askYesNo(caption, text);
}

void TrayWindow::openUrl(const std::string& url) {
    ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWMAXIMIZED);
}
