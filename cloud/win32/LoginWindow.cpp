#include "cloud/win32/LoginWindow.h"

#include "res/windows/resource.h"

namespace {

// The window's dots per inch where the system says them per monitor
// (Windows 10 and later), else the usual 96.
UINT dpiOf(HWND window) {
    using DpiForWindow = UINT(WINAPI*)(HWND);
    static const auto dpiForWindow = reinterpret_cast<DpiForWindow>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    const UINT dpi = dpiForWindow ? dpiForWindow(window) : 0;
    return dpi ? dpi : USER_DEFAULT_SCREEN_DPI;
}

} // namespace

LoginWindow::LoginWindow(SystemConfig& config, LoginServices services, HWND owner)
    : controller_(*this, config, std::move(services)) {
    createModeless(IDD_LOGIN, owner);
}

LoginWindow::~LoginWindow() {
    if (background_)
        DeleteObject(background_);
}

bool LoginWindow::onInitDialog() {
    setApplicationIcon();
    background_ = static_cast<HBITMAP>(LoadImageA(GetModuleHandleA(nullptr),
                                                  MAKEINTRESOURCEA(IDB_LOGIN_BACKGROUND),
                                                  IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    SendMessageA(item(IDC_LOGIN_ACCOUNT), EM_LIMITTEXT, login_template::kAccountLimit, 0);
    SendMessageA(item(IDC_LOGIN_PASSWORD), EM_LIMITTEXT, login_template::kPasswordLimit, 0);
    controller_.OnInitDialog();
    return true;
}

void LoginWindow::onCommand(int id, int code) {
    if (id == IDOK && code == BN_CLICKED)
        controller_.OnBnClickedOk();
    else if (id == IDCANCEL)
        // Escape and the close box hide the window; the tray command shows
        // it again, and a sign-in under way still reports to it.
        hideWindow();
}

bool LoginWindow::onMessage(UINT message, WPARAM w, LPARAM /*l*/, INT_PTR& result) {
    switch (message) {
    case WM_ERASEBKGND:
        paintBackground(reinterpret_cast<HDC>(w));
        result = TRUE;
        return true;
    case WM_CTLCOLORSTATIC:
        // The labels' texts stand on the picture.
        SetBkMode(reinterpret_cast<HDC>(w), TRANSPARENT);
        result = reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
        return true;
    case WM_DPICHANGED:
        InvalidateRect(window(), nullptr, TRUE);
        return false;
    case WM_CLOSE:
        hideWindow();
        result = 0;
        return true;
    default:
        return false;
    }
}

void LoginWindow::paintBackground(HDC target) {
    RECT client{};
    GetClientRect(window(), &client);
    FillRect(target, &client, GetSysColorBrush(COLOR_BTNFACE));
    if (!background_)
        return;
    HDC memory = CreateCompatibleDC(target);
    if (!memory)
        return;
    HGDIOBJ previous = SelectObject(memory, background_);
    const UINT dpi = dpiOf(window());
    const int width = MulDiv(300, int(dpi), USER_DEFAULT_SCREEN_DPI);
    const int height = MulDiv(485, int(dpi), USER_DEFAULT_SCREEN_DPI);
    SetStretchBltMode(target, HALFTONE);
    SetBrushOrgEx(target, 0, 0, nullptr);
    StretchBlt(target, 0, 0, width, height, memory, 0, 0, 300, 485, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
}

void LoginWindow::showAboveTheWall() {
    ShowWindow(window(), SW_SHOWNORMAL);
    SetWindowPos(window(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(window());
}

void LoginWindow::setButtonText(const std::string& text) {
    setItemText(IDOK, text);
}

void LoginWindow::setButtonEnabled(bool enabled) {
    enableItem(IDOK, enabled);
}

void LoginWindow::setTitle(const std::string& title) {
    SetWindowTextA(window(), title.c_str());
}

// The box's typing limit holds the operator's keys only: the text set here
// stays whole.
void LoginWindow::setAccountText(const std::string& text) {
    setItemText(IDC_LOGIN_ACCOUNT, text);
}

std::string LoginWindow::accountText() {
    return itemText(IDC_LOGIN_ACCOUNT);
}

std::string LoginWindow::passwordText() {
    return itemText(IDC_LOGIN_PASSWORD);
}

void LoginWindow::centreOn(const Rect& area) {
    win32::centreOn(window(), area);
}

void LoginWindow::hideWindow() {
    ShowWindow(window(), SW_HIDE);
}

void LoginWindow::showMessage(const std::string& caption, const std::string& text) {
    win32::showMessage(window(), caption, text);
}
