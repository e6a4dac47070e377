#include "settings/win32/SystemSetWindow.h"

#include "res/windows/resource.h"

#include <commctrl.h>

using namespace systemset;

SystemSetWindow::SystemSetWindow(const SystemConfig& config, SystemSetServices services)
    : rules_(*this, config, std::move(services)) {}

INT_PTR SystemSetWindow::DoModal() {
    return runModal(IDD_SETTINGS, nullptr);
}

bool SystemSetWindow::onInitDialog() {
    setApplicationIcon();
    rules_.OnInitDialog();
    // Above the page browsers' windows.
    SetForegroundWindow(window());
    return true;
}

void SystemSetWindow::onCommand(int id, int code) {
    const std::optional<ControlKind> kind = controlKind(id);
    if (!kind)
        return;
    if (const std::optional<Notice> notice = noticeOf(*kind, code))
        rules_.OnCommand(id, *notice);
}

// The labels, separators and the note draw their text only: a separator's
// rectangle reaches into the box above it (the address box ends two units
// below the line's top), and an erased background would cut the box's edge.
bool SystemSetWindow::onMessage(UINT message, WPARAM w, LPARAM l, INT_PTR& result) {
    // The statics' id, -1, reads back as 0xFFFF from a template of 16-bit ids.
    const int id = GetDlgCtrlID(reinterpret_cast<HWND>(l)) & 0xFFFF;
    if (message != WM_CTLCOLORSTATIC || id != (IDC_STATIC & 0xFFFF))
        return false;
    HDC dc = reinterpret_cast<HDC>(w);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    result = reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
    return true;
}

bool SystemSetWindow::isChecked(int id) const {
    return IsDlgButtonChecked(window(), id) == BST_CHECKED;
}

void SystemSetWindow::setChecked(int id, bool checked) {
    if (checked) {
        for (int other : radioGroupOf(id))
            if (other != id)
                CheckDlgButton(window(), other, BST_UNCHECKED);
    }
    CheckDlgButton(window(), id, checked ? BST_CHECKED : BST_UNCHECKED);
}

void SystemSetWindow::enable(int id, bool enabled) {
    enableItem(id, enabled);
}

std::string SystemSetWindow::text(int id) const {
    return itemText(id);
}

// The typing limit holds the operator's keys only: the dialog's own text
// stays whole.
void SystemSetWindow::setText(int id, const std::string& text) {
    setItemText(id, text);
}

void SystemSetWindow::limitText(int id, int characters) {
    const std::optional<ControlKind> kind = controlKind(id);
    if (kind == ControlKind::Edit)
        SendMessageA(item(id), EM_LIMITTEXT, characters, 0);
    else if (kind == ControlKind::ComboBox)
        SendMessageA(item(id), CB_LIMITTEXT, characters, 0);
}

void SystemSetWindow::addItem(int id, const std::string& text) {
    SendMessageA(item(id), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

int SystemSetWindow::selectedItem(int id) const {
    const LRESULT selected = SendMessageA(item(id), CB_GETCURSEL, 0, 0);
    return selected == CB_ERR ? -1 : static_cast<int>(selected);
}

// One tooltip control for the dialog, made without the no-prefix style, so
// that a "&&" of a help text shows as "&".
void SystemSetWindow::setToolTip(int id, const std::string& text, int delayMs) {
    if (!toolTip_) {
        toolTip_ = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window(), nullptr,
                                   GetModuleHandleA(nullptr), nullptr);
        if (!toolTip_)
            return;
    }
    TOOLINFOA tool{};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = window();
    tool.uId = reinterpret_cast<UINT_PTR>(item(id));
    tool.lpszText = const_cast<char*>(text.c_str());
    SendMessageA(toolTip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageA(toolTip_, TTM_SETDELAYTIME, TTDT_AUTOMATIC, MAKELPARAM(delayMs, 0));
    SendMessageA(toolTip_, TTM_ACTIVATE, TRUE, 0);
}

void SystemSetWindow::centreOn(const Rect& area) {
    win32::centreOn(window(), area);
}

void SystemSetWindow::showMessage(const std::string& caption, const std::string& text) {
    win32::showMessage(window(), caption, text);
}

void SystemSetWindow::endDialog(bool accepted) {
    Dialog::endDialog(accepted ? IDOK : IDCANCEL);
}
