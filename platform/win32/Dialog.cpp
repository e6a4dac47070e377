#include "platform/win32/Dialog.h"

#include "common/DebugPrint.h"
#include "res/windows/resource.h"

#include <vector>

namespace win32 {

Dialog::~Dialog() {
    if (!window_)
        return;
    HWND window = window_;
    SetWindowLongPtrA(window, DWLP_USER, 0);
    window_ = nullptr;
    if (!modal_)
        DestroyWindow(window);
}

INT_PTR Dialog::runModal(int templateId, HWND owner) {
    modal_ = true;
    const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId),
                                           owner, procedure, reinterpret_cast<LPARAM>(this));
    window_ = nullptr;
    return result;
}

bool Dialog::createModeless(int templateId, HWND owner) {
    modal_ = false;
    return CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), owner,
                              procedure, reinterpret_cast<LPARAM>(this)) != nullptr;
}

void Dialog::endDialog(INT_PTR result) {
    if (window_ && modal_)
        EndDialog(window_, result);
}

HWND Dialog::item(int id) const {
    return window_ ? GetDlgItem(window_, id) : nullptr;
}

std::string Dialog::itemText(int id) const {
    return windowText(item(id));
}

void Dialog::setItemText(int id, const std::string& text) {
    if (HWND control = item(id))
        SetWindowTextA(control, text.c_str());
}

void Dialog::enableItem(int id, bool enabled) {
    if (HWND control = item(id))
        EnableWindow(control, enabled);
}

void Dialog::setApplicationIcon() {
    SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(applicationIcon(false)));
    SendMessageA(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(applicationIcon(true)));
}

// The object is known from WM_INITDIALOG on; what comes before it (such as
// WM_SETFONT) finds none and takes the default handling.
INT_PTR CALLBACK Dialog::procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    Dialog* dialog = nullptr;
    if (message == WM_INITDIALOG) {
        dialog = reinterpret_cast<Dialog*>(l);
        SetWindowLongPtrA(window, DWLP_USER, l);
        dialog->window_ = window;
    } else {
        dialog = reinterpret_cast<Dialog*>(GetWindowLongPtrA(window, DWLP_USER));
    }
    if (!dialog)
        return FALSE;
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(window, DWLP_USER, 0);
        dialog->window_ = nullptr;
        return FALSE;
    }
    // No exception leaves the dialog procedure: the system's code between
    // it and the message loop knows none.
    try {
        return dialog->dispatch(message, w, l);
    } catch (const std::exception& error) {
        DebugPrint("win32::Dialog: message %u: %s\n", message, error.what());
    } catch (...) {
        DebugPrint("win32::Dialog: message %u failed\n", message);
    }
    return FALSE;
}

INT_PTR Dialog::dispatch(UINT message, WPARAM w, LPARAM l) {
    if (message == WM_INITDIALOG)
        return onInitDialog() ? TRUE : FALSE;
    if (message == WM_COMMAND) {
        onCommand(LOWORD(w), HIWORD(w));
        return TRUE;
    }
    INT_PTR result = 0;
    if (!onMessage(message, w, l, result))
        return FALSE;
    if (resultIsReturned(message))
        return result;
    SetWindowLongPtrA(window_, DWLP_MSGRESULT, result);
    return TRUE;
}

bool resultIsReturned(UINT message) {
    switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
        return true;
    default:
        return false;
    }
}

std::string windowText(HWND window) {
    if (!window)
        return {};
    const int length = GetWindowTextLengthA(window);
    if (length <= 0)
        return {};
    std::vector<char> text(size_t(length) + 1, '\0');
    const int copied = GetWindowTextA(window, text.data(), length + 1);
    return std::string(text.data(), copied > 0 ? size_t(copied) : 0);
}

void centreOn(HWND window, const Rect& area) {
    Rect target = area;
    if (target.width() <= 0 || target.height() <= 0) {
        MONITORINFO info{};
        info.cbSize = sizeof info;
        GetMonitorInfoA(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &info);
        target = {info.rcMonitor.left, info.rcMonitor.top, info.rcMonitor.right,
                  info.rcMonitor.bottom};
    }
    RECT frame{};
    GetWindowRect(window, &frame);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    SetWindowPos(window, nullptr, target.left + target.width() / 2 - width / 2,
                 target.top + target.height() / 2 - height / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOOWNERZORDER | SWP_NOACTIVATE);
}

void showMessage(HWND owner, const std::string& caption, const std::string& text) {
    MessageBoxA(owner, text.c_str(), caption.c_str(), MB_OK | MB_TOPMOST | MB_SETFOREGROUND);
}

bool askYesNo(const std::string& caption, const std::string& text) {
    return MessageBoxA(nullptr, text.c_str(), caption.c_str(),
                       MB_YESNO | MB_TOPMOST | MB_SETFOREGROUND) == IDYES;
}

HICON applicationIcon(bool small) {
    const int size = GetSystemMetrics(small ? SM_CXSMICON : SM_CXICON);
    return static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME),
                                         IMAGE_ICON, size, size, LR_DEFAULTCOLOR | LR_SHARED));
}

} // namespace win32
