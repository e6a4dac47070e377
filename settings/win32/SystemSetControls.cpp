#include "settings/win32/SystemSetControls.h"

#include <windows.h>

using namespace systemset;

std::optional<Notice> noticeOf(ControlKind kind, int code) {
    switch (kind) {
    case ControlKind::Edit:
        if (code == EN_CHANGE)
            return Notice::Change;
        break;
    case ControlKind::ComboBox:
        if (code == CBN_DROPDOWN)
            return Notice::DropDown;
        if (code == CBN_SELCHANGE)
            return Notice::SelChange;
        break;
    case ControlKind::Radio:
    case ControlKind::DefaultButton:
    case ControlKind::Button:
        if (code == BN_CLICKED)
            return Notice::Clicked;
        break;
    case ControlKind::Label:
    case ControlKind::Separator:
    case ControlKind::Note:
        break;
    }
    return std::nullopt;
}

std::optional<ControlKind> controlKind(int id) {
    for (const TemplateItem& item : templateItems())
        if (item.id == id && id != 0)
            return item.kind;
    return std::nullopt;
}

// A group runs from a radio that starts one over the radios after it, up to
// the next control that starts a group or is no radio.
std::vector<int> radioGroupOf(int id) {
    const std::vector<TemplateItem>& items = templateItems();
    std::vector<int> group;
    bool found = false;
    for (const TemplateItem& item : items) {
        if (item.kind != ControlKind::Radio || item.startsGroup) {
            if (found)
                break;
            group.clear();
        }
        if (item.kind == ControlKind::Radio) {
            group.push_back(item.id);
            found = found || item.id == id;
        }
    }
    return found ? group : std::vector<int>{};
}
